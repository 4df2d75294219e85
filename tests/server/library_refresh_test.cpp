#include "library_refresh.hpp"
#include "server_fixtures.hpp"

#include <gtest/gtest.h>

namespace quendelin::testing {
namespace {

class RefreshFromRealServer : public ::testing::TestWithParam<FtpServer::Kind> {};

TEST_P(RefreshFromRealServer, CopiesEveryServerFileAndKeepsTheLibraryOnlyFiles) {
    Scene scene(Files{{"Apfelstrudel.rezept", recipeBytes},
                      {"Rote Gr\xFCtze.rezept", "neu\r\n"},
                      {"Apfel..Birne.rezept", "zwei Punkte sind ein Name\r\n"},
                      {"liesmich.txt", "auch kopiert"},
                      {"leer.rezept", ""}});
    fs::create_directory(scene.zeb / "archiv");
    writeBytes(scene.library / "Rote Gr\u00FCtze.rezept", "alte lokale Fassung\n");
    writeBytes(scene.library / "nur-lokal.rezept", "bleibt");
    auto server = FtpServer::start(GetParam(), scene.home);
    ServerSession session;

    EXPECT_TRUE(LibraryRefresh::run(session, server->account(), scene.library));

    EXPECT_EQ(filesIn(scene.library),
              (Files{{"Apfelstrudel.rezept", recipeBytes},
                     {"Rote Gr\u00FCtze.rezept", "neu\r\n"},
                     {"Apfel..Birne.rezept", "zwei Punkte sind ein Name\r\n"},
                     {"liesmich.txt", "auch kopiert"},
                     {"leer.rezept", ""},
                     {"nur-lokal.rezept", "bleibt"}}));
    // The session stays open for the program.
    EXPECT_TRUE(session.isOpen());
    // Nothing was written beside the library.
    EXPECT_EQ(filesIn(scene.root.path()).size(), 3u);
}

TEST_P(RefreshFromRealServer, AnEmptyDirectoryChangesNothing) {
    Scene scene;
    writeBytes(scene.library / "a.rezept", "a");
    auto server = FtpServer::start(GetParam(), scene.home);
    ServerSession session;
    EXPECT_TRUE(LibraryRefresh::run(session, server->account(), scene.library));
    EXPECT_EQ(filesIn(scene.library), (Files{{"a.rezept", "a"}}));
}

TEST_P(RefreshFromRealServer, WithoutZebTheLoginDirectoryIsCopied) {
    Scene scene;
    fs::remove(scene.zeb);
    writeBytes(scene.home / "oben.rezept", "aus dem Startverzeichnis");
    auto server = FtpServer::start(GetParam(), scene.home);
    ServerSession session;
    EXPECT_TRUE(LibraryRefresh::run(session, server->account(), scene.library));
    EXPECT_EQ(filesIn(scene.library), (Files{{"oben.rezept", "aus dem Startverzeichnis"}}));
}

TEST_P(RefreshFromRealServer, AMissingLibraryIsNotCreated) {
    Scene scene(Files{{"a.rezept", "a"}});
    fs::remove(scene.library);
    auto server = FtpServer::start(GetParam(), scene.home);
    ServerSession session;
    EXPECT_TRUE(LibraryRefresh::run(session, server->account(), scene.library));
    EXPECT_FALSE(fs::exists(scene.library));
}

TEST_P(RefreshFromRealServer, ASecondRefreshReplacesTheFirstSession) {
    Scene scene(Files{{"a.rezept", "eins"}});
    auto server = FtpServer::start(GetParam(), scene.home);
    ServerSession session;
    ASSERT_TRUE(LibraryRefresh::run(session, server->account(), scene.library));
    writeBytes(scene.zeb / "a.rezept", "zwei");
    EXPECT_TRUE(LibraryRefresh::run(session, server->account(), scene.library));
    EXPECT_EQ(filesIn(scene.library), (Files{{"a.rezept", "zwei"}}));
}

INSTANTIATE_TEST_SUITE_P(Servers, RefreshFromRealServer,
                         ::testing::Values(FtpServer::Kind::Pyftpdlib, FtpServer::Kind::Vsftpd),
                         KindName());

TEST(Refresh, WithoutAServerReturnsFalseAndTouchesNothing) {
    Scene scene;
    writeBytes(scene.library / "a.rezept", "a");
    ClosedPort closed;
    ServerSession session;
    EXPECT_FALSE(LibraryRefresh::run(session, closed.account(), scene.library));
    EXPECT_FALSE(session.isOpen());
    EXPECT_EQ(filesIn(scene.library), (Files{{"a.rezept", "a"}}));
}

TEST(Refresh, WorksThroughTheListingFromItsLastLineWithoutExtraCommands) {
    Scene scene(Files{{"a.rezept", "a"}, {"b.rezept", "b"}, {"c.rezept", "c"}});
    auto server = BadFtpServer::start(scene.home);
    ServerSession session;
    ASSERT_TRUE(LibraryRefresh::run(session, server->account(), scene.library));
    session.close();

    std::vector<std::string> commands = server->commands();
    // libcurl returns to the login directory before it enters "zeb", and sends TYPE only
    // when the type changes.
    // clang-format off
    const std::vector<std::string> expected = {
        "CONNECT", "USER quendelin", "PASS rezepte42", "PWD",
        "CWD /", "CWD zeb",
        "PASV", "TYPE A", "LIST",
        "PASV", "TYPE I", "RETR c.rezept",
        "PASV", "RETR b.rezept",
        "PASV", "RETR a.rezept",
        "QUIT"};
    // clang-format on
    EXPECT_EQ(commands, expected);
}

TEST(Refresh, TwoRefreshesInARowCloseTheFirstSessionBeforeConnecting) {
    Scene scene(Files{{"a.rezept", "a"}});
    auto server = BadFtpServer::start(scene.home);
    ServerSession session;
    ASSERT_TRUE(LibraryRefresh::run(session, server->account(), scene.library));
    ASSERT_TRUE(LibraryRefresh::run(session, server->account(), scene.library));

    const auto commands = server->commands();
    const std::size_t quit = indexOf(commands, "QUIT");
    ASSERT_LT(quit, commands.size());
    EXPECT_EQ(indexOf(commands, "CONNECT", 1), quit + 1);
}

TEST(Refresh, NeverFetchesANameThatCouldLeaveTheLibrary) {
    // The listing names the hostile entries as files, and the server would deliver them.
    Scene scene(Files{{"gut.rezept", "gut"}, {"Apfel..Birne.rezept", "auch gut"}});
    const std::vector<std::string> hostile = {
        "../boese.rezept", "../../boese.rezept", "a/b.rezept",       "/tmp/boese.rezept",
        "a\\b.rezept",     "..\\boese.rezept",   "tab\tname.rezept", "esc\x1b[31m.rezept",
        "c1\x81.rezept",   "del\x7f.rezept"};
    std::vector<std::string> options = {"--list-dots"};
    for (const auto& name : hostile) {
        options.push_back("--extra-name");
        options.push_back(name);
    }
    auto server = BadFtpServer::start(scene.home, options);
    ServerSession session;
    ASSERT_TRUE(LibraryRefresh::run(session, server->account(), scene.library));

    EXPECT_EQ(commandsOf(server->commands(), "RETR"),
              (std::vector<std::string>{"RETR gut.rezept", "RETR Apfel..Birne.rezept"}));
    EXPECT_EQ(filesIn(scene.library),
              (Files{{"gut.rezept", "gut"}, {"Apfel..Birne.rezept", "auch gut"}}));
    EXPECT_EQ(filesIn(scene.root.path()).size(), 3u);
    EXPECT_EQ(filesIn(scene.home), (Files{{"zeb", "<dir>"}}));
}

TEST(Refresh, ABrokenDownloadKeepsTheOldFileAndTheRefreshGoesOn) {
    // Files longer than 3 bytes break off after 3; the listing order is c, b, a. libcurl gives
    // up the control connection after a broken transfer, so "b" comes over a fresh login.
    Scene scene(Files{{"a.rezept", "new content of a"}, {"b.rezept", "b"}, {"c.rezept", "new c"}});
    writeBytes(scene.library / "a.rezept", "old a");
    writeBytes(scene.library / "c.rezept", "old c");
    auto server = BadFtpServer::start(scene.home, {"--break-retr", "3"});
    ServerSession session;
    EXPECT_TRUE(LibraryRefresh::run(session, withShortBounds(server->account()), scene.library));

    EXPECT_EQ(commandsOf(server->commands(), "RETR"),
              (std::vector<std::string>{"RETR c.rezept", "RETR b.rezept", "RETR a.rezept"}));
    EXPECT_EQ(filesIn(scene.library),
              (Files{{"a.rezept", "old a"}, {"b.rezept", "b"}, {"c.rezept", "old c"}}));
}

TEST(Refresh, AServerThatHangsUpIsGivenOneFreshLogin) {
    Scene scene(Files{{"a.rezept", "aaaa"}, {"b.rezept", "bbbbbbbbbb"}, {"c.rezept", "cc"}});
    writeBytes(scene.library / "b.rezept", "old b");
    auto server = BadFtpServer::start(scene.home, {"--break-retr", "4", "--break-how", "hangup"});
    ServerSession session;
    EXPECT_TRUE(LibraryRefresh::run(session, withShortBounds(server->account()), scene.library));

    const auto commands = server->commands();
    EXPECT_EQ(commandsOf(commands, "CONNECT").size(), 2u);
    // The fresh connection finds its way back into "zeb" before it fetches "a".
    const std::size_t second = indexOf(commands, "CONNECT", 1);
    EXPECT_LT(indexOf(commands, "CWD zeb", second), indexOf(commands, "RETR a.rezept"));
    EXPECT_EQ(filesIn(scene.library),
              (Files{{"a.rezept", "aaaa"}, {"b.rezept", "old b"}, {"c.rezept", "cc"}}));
}

TEST(Refresh, TwoBreaksInARowEndTheSession) {
    Scene scene(Files{{"a.rezept", "aaaaaa"}, {"b.rezept", "bbbbbb"}, {"c.rezept", "cccccc"}});
    auto server = BadFtpServer::start(scene.home, {"--break-retr", "3"});
    ServerSession session;
    EXPECT_TRUE(LibraryRefresh::run(session, withShortBounds(server->account()), scene.library));

    EXPECT_EQ(commandsOf(server->commands(), "RETR"),
              (std::vector<std::string>{"RETR c.rezept", "RETR b.rezept"}));
    EXPECT_FALSE(session.isOpen());
    EXPECT_TRUE(filesIn(scene.library).empty());
}

TEST(Refresh, AFailedListingDownloadsNothingAndStillReturnsTrue) {
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--refuse-pasv"}, {"--silent-after", "LIST"}}) {
        Scene scene(Files{{"a.rezept", "a"}});
        auto server = BadFtpServer::start(scene.home, options);
        ServerSession session;
        EXPECT_TRUE(LibraryRefresh::run(session, withShortBounds(server->account()), scene.library))
            << options[0];
        EXPECT_TRUE(commandsOf(server->commands(), "RETR").empty()) << options[0];
        EXPECT_TRUE(filesIn(scene.library).empty()) << options[0];
    }
}

TEST(Refresh, ALoginThatIsNeverAnsweredReturnsFalse) {
    Scene scene(Files{{"a.rezept", "a"}});
    auto server = BadFtpServer::start(scene.home, {"--silent-after", "PASS"});
    ServerSession session;
    EXPECT_FALSE(LibraryRefresh::run(session, withShortBounds(server->account()), scene.library));
    EXPECT_FALSE(session.isOpen());
    EXPECT_TRUE(filesIn(scene.library).empty());
}

} // namespace
} // namespace quendelin::testing
