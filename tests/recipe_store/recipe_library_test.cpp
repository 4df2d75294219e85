#include "case_name.hpp"
#include "recipe_library.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

namespace quendelin {
namespace {

using testing::TempDir;
using Names = std::vector<std::string>;

struct ListCase {
    const char* what;
    Names files;       // created as files
    Names directories; // created as directories
    Names expected;
};
QUENDELIN_PRINTS_AS_WHAT(ListCase)

class RecipeLibraryList : public ::testing::TestWithParam<ListCase> {};

TEST_P(RecipeLibraryList, ListsRecipesInDisplayOrder) {
    TempDir dir;
    for (const auto& name : GetParam().files)
        testing::writeBytes(dir / name, "x");
    for (const auto& name : GetParam().directories)
        std::filesystem::create_directory(dir / name);
    EXPECT_EQ(RecipeLibrary::list(dir.path()), GetParam().expected);
    EXPECT_EQ(RecipeLibrary::list(dir.path()), GetParam().expected) << "a second listing differs";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, RecipeLibraryList, ::testing::Values(
    ListCase{"reversed", {"b.rezept", "c.rezept", "a.rezept"}, {}, {"c.rezept", "b.rezept", "a.rezept"}},
    ListCase{"one", {"Kartoffelsuppe.rezept"}, {}, {"Kartoffelsuppe.rezept"}},
    ListCase{"no recipe", {"notiz.txt", "alt.rezept.bak", "rezept"}, {}, {}},
    ListCase{"letter case ignored in order and extension",
             {"b.rezept", "A.REZEPT", "c.Rezept", "B.rezept"}, {},
             {"c.Rezept", "b.rezept", "B.rezept", "A.REZEPT"}},
    ListCase{"directories, hidden files and the bare extension",
             {".versteckt.rezept", ".rezept"}, {"alt.rezept"},
             {"alt.rezept", ".versteckt.rezept", ".rezept"}},
    ListCase{"bytes compared unsigned after ascii",
             {"Zwiebel.rezept", "\xC3\x84pfel.rezept", "\xE4pfel.rezept"}, {},
             {"\xE4pfel.rezept", "\xC3\x84pfel.rezept", "Zwiebel.rezept"}}),
    testing::CaseName{});
// clang-format on

TEST(RecipeLibrary, MissingDirectoryListsNothing) {
    TempDir dir;
    EXPECT_TRUE(RecipeLibrary::list(dir / "fehlt").empty());
}

TEST(RecipeLibrary, PathOfIsAPlainConcatenation) {
    const std::filesystem::path dir = "/var/lib/rezepte";
    EXPECT_EQ(RecipeLibrary::pathOf(dir, "Kartoffelsuppe.rezept").native(),
              "/var/lib/rezepte/Kartoffelsuppe.rezept");
    EXPECT_EQ(RecipeLibrary::pathOf(dir, "").native(), "/var/lib/rezepte/");
    // An absolute name must not escape the directory as operator/ would let it.
    EXPECT_EQ(RecipeLibrary::pathOf(dir, "/etc/passwd").native(), "/var/lib/rezepte//etc/passwd");
}

} // namespace
} // namespace quendelin
