#include "example_ranker/kept_vectors.hpp"

#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace tarvok::example_ranker;

namespace {

const VectorsKey kKey{"/lib", "stamp", "hash", "model"};

Vectors two_rows() { return {2, 3, {0.5f, -1.0f, 2.0f, 0.25f, 3.0f, -0.125f}}; }

}  // namespace

TEST(KeptVectors, OnlyAWholeMatchingFileIsTrusted) {
    std::string bytes = encode_vectors(kKey, two_rows());
    std::optional<Vectors> back = decode_vectors(bytes, kKey, 2);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->columns, 3u);
    EXPECT_EQ(back->values, two_rows().values);

    for (std::size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_FALSE(decode_vectors(bytes.substr(0, cut), kKey, 2)) << "cut to " << cut;
    EXPECT_FALSE(decode_vectors(bytes + "x", kKey, 2));
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        std::string flipped = bytes;
        flipped[at] ^= 0x10;
        EXPECT_FALSE(decode_vectors(flipped, kKey, 2)) << "byte " << at;
    }
    EXPECT_FALSE(decode_vectors(bytes, kKey, 3)) << "another count of descriptions";
    for (auto other : {VectorsKey{"/lib2", "stamp", "hash", "model"}, VectorsKey{"/lib", "stamp2", "hash", "model"},
                       VectorsKey{"/lib", "stamp", "hash2", "model"}, VectorsKey{"/lib", "stamp", "hash", "model2"}})
        EXPECT_FALSE(decode_vectors(bytes, other, 2));
}

TEST(KeptVectors, FolderFromTheEnvironment) {
    EXPECT_EQ(vectors_folder("/x", "/c", "/h"), "/x");
    EXPECT_EQ(vectors_folder("", "/c", "/h"), "/c/tarvok");
    EXPECT_EQ(vectors_folder(nullptr, "relative", "/h"), "/h/.cache/tarvok");
    EXPECT_TRUE(vectors_folder(nullptr, nullptr, nullptr).empty());
}

class KeptVectorsOnDisk : public tarvok::testing::ScratchFolder {};

TEST_F(KeptVectorsOnDisk, KeptWholeReadBackAndNeverThroughALink) {
    std::filesystem::path folder = root_ / "cache" / "tarvok";
    EXPECT_FALSE(read_kept_vectors(folder, kKey, 2)) << "nothing kept yet";
    keep_vectors(folder, kKey, two_rows());
    ASSERT_TRUE(read_kept_vectors(folder, kKey, 2));
    EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);

    // A link in the file's place is neither read nor written through.
    std::filesystem::path file = folder / vectors_file_name(kKey.library, kKey.model);
    std::filesystem::path elsewhere = write("elsewhere", read(file));
    std::filesystem::remove(file);
    std::filesystem::create_symlink(elsewhere, file);
    EXPECT_FALSE(read_kept_vectors(folder, kKey, 2));
    Vectors changed = two_rows();
    changed.values[0] = 9.0f;
    keep_vectors(folder, kKey, changed);
    EXPECT_FALSE(std::filesystem::is_symlink(file));
    EXPECT_EQ(read_kept_vectors(folder, kKey, 2)->values[0], 9.0f);
    EXPECT_EQ(read(elsewhere), encode_vectors(kKey, two_rows())) << "the link's target is untouched";
}
