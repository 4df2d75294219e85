#include "case_name.hpp"
#include "recipe_view.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

namespace quendelin {
namespace {

using testing::TempDir;
using Lines = std::vector<std::string>;

const std::string kSep = "=============================";

struct ViewCase {
    const char* what;
    std::string bytes;
    Lines viewer;
    Lines author;
};
QUENDELIN_PRINTS_AS_WHAT(ViewCase)

class RecipeViewCompose : public ::testing::TestWithParam<ViewCase> {};

TEST_P(RecipeViewCompose, SetsTheSectionsUnderTheirHeadings) {
    TempDir dir;
    testing::writeBytes(dir / "r.rezept", GetParam().bytes);
    EXPECT_EQ(RecipeView::compose(dir.path(), "r.rezept"),
              (RecipeView::Lines{GetParam().viewer, GetParam().author}));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, RecipeViewCompose, ::testing::Values(
    ViewCase{"as the program writes it",
             "Suppe\r\n%\r\nKartoffeln 30kg\r\nM\xF6hren 2\r\n%\r\nKochen.\r\n%\r\n\r\n%\r\nOma\r\n%\r\n",
             {"", "Suppe", kSep, "ZUTATEN:", "", "Kartoffeln 30kg", "Möhren 2", kSep, "ZUBEREITUNG:",
              "Kochen.", kSep, "BEMERKUNGEN:", ""},
             {"AUTOR: Oma"}},
    ViewCase{"title of one empty line", "\n%\n%\n%\n%\n%\n",
             {"", "", kSep, "ZUTATEN:", "", kSep, "ZUBEREITUNG:", kSep, "BEMERKUNGEN:"}, {}},
    ViewCase{"no title line at all", "%\ni\n%\np\n%\nr\n%\n\n%\n",
             {kSep, "ZUTATEN:", "", "i", kSep, "ZUBEREITUNG:", "p", kSep, "BEMERKUNGEN:", "r"},
             {"AUTOR: "}},
    ViewCase{"lines kept exactly", " T \n%\n%%\n% \n%\n\tp\n%\n%\nJo\nAnn\n%\nnie gezeigt\n",
             {"", " T ", kSep, "ZUTATEN:", "", "%%", "% ", kSep, "ZUBEREITUNG:", "\tp", kSep,
              "BEMERKUNGEN:"},
             {"AUTOR: Jo", "AUTOR: Ann"}},
    ViewCase{"truncated file", "T\r%\rzu",
             {"", "T", kSep, "ZUTATEN:", "", "zu", kSep, "ZUBEREITUNG:", kSep, "BEMERKUNGEN:"}, {}}),
    testing::CaseName{});
// clang-format on

TEST(RecipeView, IsNotOpenedWithoutAReadableFile) {
    TempDir dir;
    EXPECT_EQ(RecipeView::compose(dir.path(), ""), std::nullopt); // nothing selected
    EXPECT_EQ(RecipeView::compose(dir.path(), "geloescht.rezept"), std::nullopt);
    EXPECT_EQ(RecipeView::compose(dir / "fehlt", "r.rezept"), std::nullopt);
}

} // namespace
} // namespace quendelin
