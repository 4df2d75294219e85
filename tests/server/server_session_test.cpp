#include "server_fixtures.hpp"
#include "server_session.hpp"

#include <gtest/gtest.h>

namespace quendelin::testing {
namespace {

class SessionOnRealServer : public ::testing::TestWithParam<FtpServer::Kind> {
protected:
    void startWith(const Files& files) {
        scene = std::make_unique<Scene>(files);
        server = FtpServer::start(GetParam(), scene->home);
    }

    bool openInZeb() {
        return session.connect(server->account()) && session.changeDirectory("zeb");
    }

    std::unique_ptr<Scene> scene;
    std::unique_ptr<FtpServer> server;
    ServerSession session;
};

TEST_P(SessionOnRealServer, LogsInAndClosesAgain) {
    startWith({});
    EXPECT_FALSE(session.isOpen());
    ASSERT_TRUE(session.connect(server->account()));
    EXPECT_TRUE(session.isOpen());
    session.close();
    EXPECT_FALSE(session.isOpen());
    EXPECT_TRUE(session.entries().empty());
}

TEST_P(SessionOnRealServer, AFailedConnectLeavesTheSlotEmpty) {
    startWith({{"a.rezept", "a"}});
    auto wrongLogin = server->account();
    wrongLogin.user = "niemandda";
    wrongLogin.password = "falsch1234";
    ClosedPort closed;

    for (const ServerAccount& failing : {wrongLogin, closed.account()}) {
        ASSERT_TRUE(openInZeb());
        ASSERT_TRUE(session.list());
        EXPECT_FALSE(session.connect(failing));
        EXPECT_FALSE(session.isOpen());
        EXPECT_TRUE(session.entries().empty());
        EXPECT_FALSE(session.list());
        EXPECT_FALSE(session.download("a.rezept", scene->library / "a.rezept"));
    }
    EXPECT_TRUE(filesIn(scene->library).empty());
}

TEST_P(SessionOnRealServer, ListsEveryNameAsItIs) {
    // Blanks inside and at the ends, characters that mean something in a URL, a directory,
    // and Windows-1252 bytes on the server's disk.
    startWith({{"Apfel Kuchen.rezept", "1"},
               {"Rote  Gr\xFC tze .rezept", "2"}, // not UTF-8: the bytes of "Rote  Grü tze "
               {"50% #1; ok?.rezept", "3"},
               {"notiz.txt", ""},
               {"\x80uro.rezept", "4"}});
    fs::create_directory(scene->zeb / "unterordner");
    ASSERT_TRUE(openInZeb());
    ASSERT_TRUE(session.list());

    std::vector<std::string> names = session.entries();
    std::sort(names.begin(), names.end());
    const std::vector<std::string> expected = {
        "50% #1; ok?.rezept", "Apfel Kuchen.rezept", "Rote  Gr\u00FC tze .rezept",
        "notiz.txt",          "unterordner",         "\u20ACuro.rezept"};
    EXPECT_EQ(names, expected);
}

TEST_P(SessionOnRealServer, DownloadsTheExactBytesUnderTheUtf8Name) {
    const std::string binary("CR LF\r\nNUL \0 and FF \xFF end", 25);
    startWith({{"K\xE4se & Speck.rezept", binary}, {"leer.rezept", ""}});
    writeBytes(scene->library / "K\u00E4se & Speck.rezept", "older local text\n");
    ASSERT_TRUE(openInZeb());

    EXPECT_TRUE(
        session.download("K\u00E4se & Speck.rezept", scene->library / "K\u00E4se & Speck.rezept"));
    // A file of zero bytes is still a file.
    EXPECT_TRUE(session.download("leer.rezept", scene->library / "leer.rezept"));

    EXPECT_EQ(filesIn(scene->library),
              (Files{{"K\u00E4se & Speck.rezept", binary}, {"leer.rezept", ""}}));
}

TEST_P(SessionOnRealServer, ARefusedDownloadTouchesNothing) {
    startWith({{"da.rezept", "da"}});
    fs::create_directory(scene->zeb / "ordner");
    writeBytes(scene->library / "fehlt.rezept", "my own copy");
    ASSERT_TRUE(openInZeb());

    for (const char* name : {"fehlt.rezept", "ordner", "nie.rezept"})
        EXPECT_FALSE(session.download(name, scene->library / name)) << name;
    // The session is still good for the next file.
    EXPECT_TRUE(session.download("da.rezept", scene->library / "da.rezept"));

    EXPECT_EQ(filesIn(scene->library),
              (Files{{"fehlt.rezept", "my own copy"}, {"da.rezept", "da"}}));
}

TEST_P(SessionOnRealServer, UploadsTheExactBytesUnderTheWindows1252Name) {
    startWith({{"alt.rezept", "old"}});
    writeBytes(scene->work / "up.rezept", recipeBytes);
    writeBytes(scene->work / "leer", "");
    ASSERT_TRUE(openInZeb());

    EXPECT_TRUE(session.upload(scene->work / "up.rezept", "Gr\u00FC\u00DFe \u20AC 100%.rezept"));
    EXPECT_TRUE(session.upload(scene->work / "leer", "leer.rezept"));
    EXPECT_FALSE(session.upload(scene->work / "gibt-es-nicht", "nichts.rezept"));

    EXPECT_EQ(filesIn(scene->zeb), (Files{{"alt.rezept", "old"},
                                          {"Gr\xFC\xDF"
                                           "e \x80 100%.rezept",
                                           recipeBytes},
                                          {"leer.rezept", ""}}));
}

TEST_P(SessionOnRealServer, AMissingDirectoryLeavesTheSessionInTheLoginDirectory) {
    startWith({});
    fs::remove(scene->zeb);
    writeBytes(scene->home / "oben.rezept", "top");
    ASSERT_TRUE(session.connect(server->account()));

    EXPECT_FALSE(session.changeDirectory("zeb"));
    EXPECT_TRUE(session.isOpen());
    ASSERT_TRUE(session.list());
    EXPECT_EQ(session.entries(), std::vector<std::string>{"oben.rezept"});
    EXPECT_TRUE(session.download("oben.rezept", scene->library / "oben.rezept"));
    EXPECT_EQ(readBytes(scene->library / "oben.rezept"), "top");
}

TEST_P(SessionOnRealServer, ANewListReplacesTheOldOne) {
    startWith({{"a.rezept", "a"}});
    ASSERT_TRUE(openInZeb());
    ASSERT_TRUE(session.list());
    fs::remove(scene->zeb / "a.rezept");
    writeBytes(scene->zeb / "b.rezept", "b");
    ASSERT_TRUE(session.list());
    EXPECT_EQ(session.entries(), std::vector<std::string>{"b.rezept"});
}

INSTANTIATE_TEST_SUITE_P(Servers, SessionOnRealServer,
                         ::testing::Values(FtpServer::Kind::Pyftpdlib, FtpServer::Kind::Vsftpd),
                         KindName());

// --- what goes over the wire, against our own recording server

TEST(SessionOnTheWire, ListsLastLineFirstAndReadsTheNameAfterTheEighthField) {
    Scene scene(
        Files{{"a.rezept", "1"}, {"b c.rezept", "2"}, {" vorne.rezept", "3"}, {"z.rezept", "4"}});
    auto server = BadFtpServer::start(scene.home);
    ServerSession session;
    ASSERT_TRUE(session.connect(server->account()));
    ASSERT_TRUE(session.changeDirectory("zeb"));
    ASSERT_TRUE(session.list());
    // The server lists them sorted, after a "total" line that names no file.
    EXPECT_EQ(session.entries(),
              (std::vector<std::string>{"z.rezept", "b c.rezept", "a.rezept", " vorne.rezept"}));
}

TEST(SessionOnTheWire, SendsWindows1252BytesAndNoSizeBeforeRetr) {
    Scene scene(Files{{"K\xE4se.rezept", "kaese"}});
    auto server = BadFtpServer::start(scene.home);
    {
        ServerSession session;
        ASSERT_TRUE(session.connect(server->account()));
        ASSERT_TRUE(session.changeDirectory("zeb"));
        ASSERT_TRUE(session.download("K\u00E4se.rezept", scene.library / "K\u00E4se.rezept"));
        writeBytes(scene.work / "r", "x");
        ASSERT_TRUE(session.upload(scene.work / "r", "\u00DCber #2.rezept"));
    } // leaving the scope closes the session

    const auto commands = server->commands();
    EXPECT_EQ(commandsOf(commands, "RETR"), std::vector<std::string>{"RETR K\xE4se.rezept"});
    EXPECT_EQ(commandsOf(commands, "STOR"), std::vector<std::string>{"STOR \xDC"
                                                                     "ber #2.rezept"});
    EXPECT_TRUE(commandsOf(commands, "SIZE").empty());
    EXPECT_TRUE(commandsOf(commands, "EPSV").empty());
    EXPECT_EQ(commandsOf(commands, "USER"), std::vector<std::string>{"USER quendelin"});
    EXPECT_EQ(commands.back(), "QUIT");
    EXPECT_EQ(readBytes(scene.library / "K\u00E4se.rezept"), "kaese");
}

TEST(SessionOnTheWire, KeepsOneControlConnectionForAllOperations) {
    Scene scene(Files{{"a.rezept", "a"}, {"b.rezept", "b"}});
    auto server = BadFtpServer::start(scene.home);
    ServerSession session;
    ASSERT_TRUE(session.connect(server->account()));
    ASSERT_TRUE(session.changeDirectory("zeb"));
    ASSERT_TRUE(session.list());
    for (const auto& name : session.entries())
        ASSERT_TRUE(session.download(name, scene.library / name));
    writeBytes(scene.work / "c", "c");
    ASSERT_TRUE(session.upload(scene.work / "c", "c.rezept"));

    const auto commands = server->commands();
    EXPECT_EQ(commandsOf(commands, "CONNECT").size(), 1u);
    EXPECT_EQ(commandsOf(commands, "USER").size(), 1u);
}

TEST(SessionOnTheWire, EachConnectClosesTheOpenSessionFirst) {
    Scene scene;
    auto server = BadFtpServer::start(scene.home);
    ServerSession session;
    ASSERT_TRUE(session.connect(server->account()));
    ASSERT_TRUE(session.connect(server->account()));

    const auto commands = server->commands();
    const std::size_t quit = indexOf(commands, "QUIT");
    ASSERT_LT(quit, commands.size());
    EXPECT_EQ(indexOf(commands, "CONNECT", 1), quit + 1);
}

TEST(SessionOnTheWire, TheDataConnectionGoesToTheServerNotToTheAddressItNames) {
    // Nothing answers on that documentation address: following it would fail the transfer.
    Scene scene(Files{{"a.rezept", "a"}});
    auto server = BadFtpServer::start(scene.home, {"--pasv-address", "192.0.2.7"});
    ServerSession session;
    ASSERT_TRUE(session.connect(withShortBounds(server->account())));
    ASSERT_TRUE(session.changeDirectory("zeb"));
    ASSERT_TRUE(session.list());
    EXPECT_EQ(session.entries(), std::vector<std::string>{"a.rezept"});
    EXPECT_TRUE(session.download("a.rezept", scene.library / "a.rezept"));
    EXPECT_EQ(readBytes(scene.library / "a.rezept"), "a");
}

TEST(SessionOnTheWire, RefusesNamesThatAreNotOneFileAndSendsNothingForThem) {
    Scene scene;
    auto server = BadFtpServer::start(scene.home);
    ServerSession session;
    ASSERT_TRUE(session.connect(server->account()));
    writeBytes(scene.work / "r", "x");
    for (const char* name : {"", ".", "..", "../x.rezept", "a/b.rezept", "a\\b.rezept",
                             "tab\there.rezept", "\x7F.rezept", "c1 \u0085.rezept"}) {
        EXPECT_FALSE(session.download(name, scene.library / "x")) << name;
        EXPECT_FALSE(session.upload(scene.work / "r", name)) << name;
    }
    EXPECT_TRUE(session.isOpen());
    EXPECT_TRUE(commandsOf(server->commands(), "RETR").empty());
    EXPECT_TRUE(commandsOf(server->commands(), "STOR").empty());
    EXPECT_TRUE(filesIn(scene.library).empty());
}

// --- a server that misbehaves: every failure is reported, bounded in time, and leaves the
// local file as it was

struct Misbehaviour {
    const char* name;
    std::vector<std::string> options;
};

class BrokenDownload : public ::testing::TestWithParam<Misbehaviour> {};

TEST_P(BrokenDownload, LeavesTheLocalFileAsItWasAndNoTemporaryFile) {
    Scene scene(Files{{"r.rezept", std::string(4000, 'n')}});
    writeBytes(scene.library / "r.rezept", "old bytes");
    auto server = BadFtpServer::start(scene.home, GetParam().options);
    ServerSession session;
    ASSERT_TRUE(session.connect(withShortBounds(server->account())));
    session.changeDirectory("zeb");

    EXPECT_FALSE(session.download("r.rezept", scene.library / "r.rezept"));
    EXPECT_EQ(filesIn(scene.library), (Files{{"r.rezept", "old bytes"}}));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BrokenDownload,
    ::testing::Values(
        Misbehaviour{"ResetAnd426", {"--break-retr", "100"}},
        Misbehaviour{"ResetAndHangUp", {"--break-retr", "100", "--break-how", "hangup"}},
        Misbehaviour{"DataStalls", {"--break-retr", "100", "--break-how", "stall"}},
        Misbehaviour{"ShortButCalledComplete", {"--break-retr", "100", "--break-how", "lie"}},
        Misbehaviour{"RefusedPasv", {"--refuse-pasv"}},
        Misbehaviour{"SilentAfterRetr", {"--silent-after", "RETR"}},
        Misbehaviour{"SilentAfterPasv", {"--silent-after", "PASV"}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(MisbehavingServer, ALostConnectionEndsTheSessionInsteadOfDiallingAgain) {
    Scene scene(Files{{"a.rezept", "a"}, {"b.rezept", "b"}});
    auto server = BadFtpServer::start(scene.home, {"--silent-after", "RETR"});
    ServerSession session;
    ASSERT_TRUE(session.connect(withShortBounds(server->account())));
    ASSERT_TRUE(session.changeDirectory("zeb"));
    EXPECT_FALSE(session.download("a.rezept", scene.library / "a.rezept"));
    EXPECT_FALSE(session.isOpen());
    EXPECT_FALSE(session.download("b.rezept", scene.library / "b.rezept"));
    EXPECT_FALSE(session.list());

    EXPECT_EQ(commandsOf(server->commands(), "CONNECT").size(), 1u);
    EXPECT_EQ(commandsOf(server->commands(), "RETR").size(), 1u);
    EXPECT_TRUE(filesIn(scene.library).empty());
}

TEST(MisbehavingServer, ConnectFailsWithinTheBoundsWhenTheServerStopsAnswering) {
    for (const char* verb : {"CONNECT", "USER", "PASS"}) {
        Scene scene;
        auto server = BadFtpServer::start(scene.home, {"--silent-after", verb});
        ServerSession session;
        EXPECT_FALSE(session.connect(withShortBounds(server->account()))) << verb;
        EXPECT_FALSE(session.isOpen()) << verb;
    }
}

TEST(MisbehavingServer, CloseReturnsWhenQuitIsNeverAnswered) {
    Scene scene;
    auto server = BadFtpServer::start(scene.home, {"--silent-after", "QUIT"});
    ServerSession session;
    ASSERT_TRUE(session.connect(withShortBounds(server->account())));
    session.close();
    EXPECT_FALSE(session.isOpen());
    EXPECT_EQ(server->commands().back(), "QUIT");
}

TEST(MisbehavingServer, AnUploadCountsOnlyWhenTheServerConfirmsIt) {
    const std::vector<std::vector<std::string>> faults = {
        {"--refuse-stor"},          {"--stor-reply", "451 Local error in processing."},
        {"--stor-reply", "none"},   {"--refuse-pasv"},
        {"--silent-after", "STOR"},
    };
    for (const auto& options : faults) {
        Scene scene;
        writeBytes(scene.work / "r.rezept", recipeBytes);
        auto server = BadFtpServer::start(scene.home, options);
        ServerSession session;
        ASSERT_TRUE(session.connect(withShortBounds(server->account())));
        session.changeDirectory("zeb");
        EXPECT_FALSE(session.upload(scene.work / "r.rezept", "r.rezept")) << options[0];
    }
}

} // namespace
} // namespace quendelin::testing
