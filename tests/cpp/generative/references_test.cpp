#include "generative/references.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string_view>

namespace fs = std::filesystem;
using tarvok::generative::grammar_document;

namespace {

using GrammarDocument = tarvok::testing::ScratchFolder;

TEST_F(GrammarDocument, TheInstallationsCopyComesFirstThenThePackagesThenTheDocumentedPlace) {
    fs::path package = root_ / "tarvok";
    fs::path documented = root_ / "docs" / "grammars" / "Tarvok grammar.md";
    fs::path own_copy = package / "docs" / "grammars" / "Tarvok grammar.md";
    EXPECT_EQ(grammar_document(package, "Tarvok grammar.md"), documented);  // neither: the documented place
    write("tarvok/docs/grammars/Tarvok grammar.md", "own");
    EXPECT_EQ(grammar_document(package, "Tarvok grammar.md"), own_copy);
    write("docs/grammars/Tarvok grammar.md", "installed");
    EXPECT_EQ(grammar_document(package, "Tarvok grammar.md"), documented);
    EXPECT_EQ(grammar_document(package, "Tarvok_GBNF"), root_ / "docs" / "grammars" / "Tarvok_GBNF");
}

TEST_F(GrammarDocument, EveryGrammarModeIsReadByAShippedReader) {
    using namespace tarvok::generative;
    fs::path package = root_ / "tarvok";
    for (const GrammarMode& mode : kGrammarModes) {
        if (mode.reader == nullptr) continue;  // no reference
        auto shipped =
            std::find_if(std::begin(kShippedReferences), std::end(kShippedReferences),
                         [&](const ShippedReference& r) { return std::string_view(r.reader) == mode.reader; });
        ASSERT_NE(shipped, std::end(kShippedReferences)) << mode.member;
    }
    // The compiler source lies beside the package's modules; grammars are looked up as documents.
    EXPECT_EQ(shipped_path(package, kShippedReferences[2]), package / "tarvok_core.cpp");
    EXPECT_EQ(shipped_path(package, kShippedReferences[0]), root_ / "docs" / "grammars" / "Tarvok_GBNF");
}

}  // namespace
