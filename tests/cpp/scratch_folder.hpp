// A fresh folder for each test under the system's temporary folder, removed
// afterwards, and files written to and read from it whole.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tarvok::testing {

class ScratchFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = std::filesystem::temp_directory_path() /
                (std::string(test->test_suite_name()) + "_" + std::to_string(::getpid()) + "_" + test->name());
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    /// Writes `bytes` to `path` (relative to the folder, or absolute), making
    /// the folders on the way.
    std::filesystem::path write(const std::filesystem::path& path, const std::string& bytes) const {
        std::filesystem::path p = root_ / path;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    static std::string read(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    std::filesystem::path root_;
};

}  // namespace tarvok::testing
