#include "solver/model_file.hpp"
#include "scratch_folder.hpp"
#include "solver/mps.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

namespace tarvok::solver {
namespace {

using ModelFileTest = tarvok::testing::ScratchFolder;

std::unique_ptr<Program> labelled() {
    return instantiate("dvar float+ x;\nmaximize profit: 3 * x;\nsubject to {\n  top: x <= 3;\n}\n", "");
}

/// A library that writes `text` at the path it is given, and says it succeeded.
LpWriter writing(std::string text) {
    return [text](const std::vector<std::string>&, const std::vector<std::string>&, const std::filesystem::path& p) {
        std::ofstream(p) << text;
        return true;
    };
}

TEST_F(ModelFileTest, TheLpFileIsLabelledAndMovedIntoPlaceOnlyWhenComplete) {
    auto program = labelled();
    auto target = root_ / "plan.lp";
    ASSERT_EQ(write_model_file(*program, target, NameFormat::Lp,
                               writing("\\ written by the library\nmax\n obj: +3 x \nst\nbounds\nend\n")),
              0);
    std::string text = read(target);
    EXPECT_NE(text.find(" profit: +3 x"), std::string::npos);
    EXPECT_NE(text.find("upper bound from top"), std::string::npos);
    // A library that stops short (a full disk it did not notice) or reports a
    // failure leaves the old file as it was.
    EXPECT_NE(write_model_file(*program, target, NameFormat::Lp, writing("max\n obj: +3")), 0);
    auto failing = [](const auto&, const auto&, const std::filesystem::path&) { return false; };
    EXPECT_EQ(write_model_file(*program, target, NameFormat::Lp, failing), EIO);
    EXPECT_EQ(read(target), text);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root_), {}), 1);
}

TEST_F(ModelFileTest, TheMpsTextIsWrittenWholeAndAMissingFolderIsNamedByItsError) {
    auto program = labelled();
    ASSERT_EQ(write_model_file(*program, root_ / "plan.mps", NameFormat::Mps, nullptr), 0);
    EXPECT_EQ(read(root_ / "plan.mps"), mps_text(*program));
    EXPECT_EQ(write_model_file(*program, root_ / "missing" / "plan.mps", NameFormat::Mps, nullptr), ENOENT);
}

}  // namespace
}  // namespace tarvok::solver
