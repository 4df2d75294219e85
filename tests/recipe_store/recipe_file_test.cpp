#include "case_name.hpp"
#include "recipe_file.hpp"
#include "temp_dir.hpp"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quendelin {
namespace {

using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;
using Lines = std::vector<std::string>;
using namespace std::string_literals;

const Recipe kSoup{"Kartoffelsuppe", "Kartoffeln 30kg\r\nMöhren 2", "Alles 20 Minuten kochen.", "",
                   "Oma"};

const std::string kSoupBytes = "Kartoffelsuppe\r\n%\r\n"
                               "Kartoffeln 30kg\r\nM\xF6hren 2\r\n%\r\n"
                               "Alles 20 Minuten kochen.\r\n%\r\n"
                               "\r\n%\r\n"
                               "Oma\r\n%\r\n";

std::vector<std::string> entriesOf(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(RecipeFileWrite, WritesTheDocumentedExampleByteForByte) {
    TempDir dir;
    const auto path = dir / RecipeFile::fileNameFor(kSoup.title);
    ASSERT_TRUE(RecipeFile::write(path, kSoup));
    EXPECT_EQ(path.filename(), "Kartoffelsuppe.rezept");
    EXPECT_EQ(readBytes(path), kSoupBytes);
    EXPECT_EQ(readBytes(path).size(), 91u);

    const RecipeLines expected{{"Kartoffelsuppe"},
                               {"Kartoffeln 30kg", "Möhren 2"},
                               {"Alles 20 Minuten kochen."},
                               {""},
                               {"Oma"}};
    EXPECT_EQ(RecipeFile::read(path), expected);
}

TEST(RecipeFileWrite, FieldsGoOutUnchangedInWindows1252) {
    TempDir dir;
    const auto path = dir / "r.rezept";
    ASSERT_TRUE(RecipeFile::write(path, {"", "Mehl\r\n", "a\tb", "5 € → 6 €", "Jürgen"}));
    EXPECT_EQ(readBytes(path), "\r\n%\r\n"                // empty title: just the line end
                               "Mehl\r\n\r\n%\r\n"        // a trailing line break stays
                               "a\tb\r\n%\r\n"            // a tab is an ordinary byte
                               "5 \x80 ? 6 \x80\r\n%\r\n" // no arrow in Windows-1252
                               "J\xFCrgen\r\n%\r\n");
    EXPECT_EQ(RecipeFile::read(path),
              (RecipeLines{{""}, {"Mehl", ""}, {"a\tb"}, {"5 € ? 6 €"}, {"Jürgen"}}));
    EXPECT_EQ(RecipeFile::fileNameFor(""), ".rezept");
    EXPECT_EQ(RecipeFile::fileNameFor(" Suppe? "), " Suppe? .rezept");
}

TEST(RecipeFileWrite, ReplacesALongerFileCompletelyAndLeavesNothingBeside) {
    TempDir dir;
    const auto path = dir / "Kartoffelsuppe.rezept";
    writeBytes(path, std::string(10'000, 'x'));
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(RecipeFile::write(path, kSoup));
    EXPECT_EQ(readBytes(path), kSoupBytes);
    EXPECT_EQ(entriesOf(dir.path()), Lines{"Kartoffelsuppe.rezept"});
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::owner_write |
                                                               std::filesystem::perms::group_read);
}

TEST(RecipeFileWrite, FailsWithoutLeavingAnythingWhenTheFileCannotBeCreated) {
    TempDir dir;
    EXPECT_FALSE(RecipeFile::write(dir / "fehlt" / "Suppe.rezept", kSoup));
    EXPECT_FALSE(RecipeFile::write(dir / "Eintopf/Suppe.rezept", kSoup));
    std::filesystem::create_directory(dir / "Ordner.rezept");
    EXPECT_FALSE(RecipeFile::write(dir / "Ordner.rezept", kSoup));
    EXPECT_EQ(entriesOf(dir.path()), Lines{"Ordner.rezept"});
    EXPECT_TRUE(std::filesystem::is_empty(dir / "Ordner.rezept"));
}

// A full disk, simulated by a file size limit in a child process: the old recipe must stay
// whole, and the failure must be reported.
TEST(RecipeFileWrite, AFullDiskKeepsTheOldFileAndIsReported) {
    TempDir dir;
    const auto path = dir / "Suppe.rezept";
    writeBytes(path, kSoupBytes);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64, 64};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const Recipe big{"Suppe", std::string(1000, 'k'), "", "", ""};
        ::_exit(RecipeFile::write(path, big) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the short write was reported as success";
    EXPECT_EQ(readBytes(path), kSoupBytes);
    EXPECT_EQ(entriesOf(dir.path()), Lines{"Suppe.rezept"});
}

struct ReadCase {
    const char* what;
    std::string bytes;
    RecipeLines expected;
};
QUENDELIN_PRINTS_AS_WHAT(ReadCase)

class RecipeFileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(RecipeFileRead, SplitsLinesAndSections) {
    TempDir dir;
    const auto path = dir / "r.rezept";
    writeBytes(path, GetParam().bytes);
    EXPECT_EQ(RecipeFile::read(path), GetParam().expected);
}

const RecipeLines kAbcde{{"a"}, {"b"}, {"c"}, {"d"}, {"e"}};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, RecipeFileRead, ::testing::Values(
    ReadCase{"crlf", "a\r\n%\r\nb\r\n%\r\nc\r\n%\r\nd\r\n%\r\ne\r\n%\r\n", kAbcde},
    ReadCase{"lf", "a\n%\nb\n%\nc\n%\nd\n%\ne\n%\n", kAbcde},
    ReadCase{"cr", "a\r%\rb\r%\rc\r%\rd\r%\re\r%\r", kAbcde},
    ReadCase{"mixed", "a\n%\r\nb\r%\nc\r\n%\rd\n%\ne\r%", kAbcde},
    ReadCase{"last delimiter without ending", "a\r\n%\r\nb\r\n%\r\nc\r\n%\r\nd\r\n%\r\ne\r\n%", kAbcde},
    ReadCase{"lf cr ends two lines", "a\n\r%\n%\n%\n%\n", {{"a", ""}, {}, {}, {}, {}}},
    ReadCase{"cr cr lf ends two lines", "a\r\r\n%\n%\n%\n%\n", {{"a", ""}, {}, {}, {}, {}}},
    ReadCase{"nul ends a line", "ab\0cd\n%\n%\n%\n%\n%\n"s, {{"ab", "cd"}, {}, {}, {}, {}}},
    ReadCase{"look-alikes are content", "% \n%%\n %\n%\n%\n%\n%\n%\n", {{"% ", "%%", " %"}, {}, {}, {}, {}}},
    ReadCase{"two delimiters in a row", "t\n%\n%\np\n%\n%\n%\n", {{"t"}, {}, {"p"}, {}, {}}},
    ReadCase{"several title lines", "eins\nzwei\n\n%\n%\n%\n%\n%\n", {{"eins", "zwei", ""}, {}, {}, {}, {}}},
    ReadCase{"after the fifth delimiter", "a\n%\nb\n%\nc\n%\nd\n%\ne\n%\nrest\n%\n", kAbcde},
    ReadCase{"windows-1252 bytes", "M\xF6hren \x80\n%\n%\n%\n%\n%\n", {{"Möhren €"}, {}, {}, {}, {}}},
    ReadCase{"empty file", "", {}},
    ReadCase{"truncated after a line ending", "a\n%\nb\n", {{"a"}, {"b"}, {}, {}, {}}},
    ReadCase{"truncated inside a line", "a\n%\nb\nc", {{"a"}, {"b", "c"}, {}, {}, {}}},
    ReadCase{"truncated after a delimiter", "a\n%\nb\n%", {{"a"}, {"b"}, {}, {}, {}}},
    ReadCase{"a percent line written inside the preparation",
             "t\r\n%\r\ni\r\n%\r\na\r\n%\r\nb\r\n%\r\nr\r\n%\r\nautor\r\n%\r\n",
             {{"t"}, {"i"}, {"a"}, {"b"}, {"r"}}}),
    testing::CaseName{});
// clang-format on

TEST(RecipeFileRead, ReadsALongLineWhole) {
    TempDir dir;
    const std::string longLine(100'000, 'z');
    writeBytes(dir / "lang.rezept", longLine + "\n%\n%\n%\n%\n%\n");
    const auto lines = RecipeFile::read(dir / "lang.rezept");
    ASSERT_TRUE(lines);
    EXPECT_EQ(lines->title, Lines{longLine});
}

TEST(RecipeFileRead, GivesNoResultForWhatIsNoReadableFile) {
    TempDir dir;
    EXPECT_EQ(RecipeFile::read(dir / "fehlt.rezept"), std::nullopt);
    std::filesystem::create_directory(dir / "ordner.rezept");
    EXPECT_EQ(RecipeFile::read(dir / "ordner.rezept"), std::nullopt);
    EXPECT_EQ(RecipeFile::read(dir.path()), std::nullopt);
}

} // namespace
} // namespace quendelin
