#include "recipe_file.hpp"
#include "recipe_publisher.hpp"
#include "server_fixtures.hpp"

#include <gtest/gtest.h>

namespace quendelin::testing {
namespace {

constexpr const char* probeName = "downloadzeb.rezepttest";

Recipe recipeTitled(std::string title) {
    return Recipe{std::move(title), "500 g Mehl\r\n3 Eier", "Verr\u00FChren.", "", "Hanne"};
}

// What one call of publish() did, with the notification counted.
struct Publication {
    PublishOutcome outcome;
    int notified = 0;
};

Publication publish(ServerSession& session, const ServerAccount& account, const Scene& scene,
                    const Recipe& recipe, const std::function<void()>& alsoOnPublished = {}) {
    Publication result{PublishOutcome::NotConnected};
    result.outcome =
        RecipePublisher::publish(session, account, scene.library, scene.work, recipe, [&] {
            ++result.notified;
            if (alsoOnPublished)
                alsoOnPublished();
        });
    return result;
}

class PublishToRealServer : public ::testing::TestWithParam<FtpServer::Kind> {
protected:
    void SetUp() override { server = FtpServer::start(GetParam(), scene.home); }

    Scene scene{Files{{"Vorhanden.rezept", recipeBytes}}};
    std::unique_ptr<FtpServer> server;
    ServerSession session;
};

TEST_P(PublishToRealServer, AFreeTitleIsWrittenUploadedAndRefreshed) {
    const auto result =
        publish(session, server->account(), scene, recipeTitled("K\u00E4sesp\u00E4tzle"));

    EXPECT_EQ(result.outcome, PublishOutcome::PublishedAndRefreshed);
    EXPECT_EQ(result.notified, 1);
    const std::string local = readBytes(scene.work / "K\u00E4sesp\u00E4tzle.rezept");
    EXPECT_FALSE(local.empty());
    // On the server under its Windows-1252 name, with exactly the bytes of the local file;
    // in the library under the UTF-8 name, through the refresh.
    EXPECT_EQ(filesIn(scene.zeb),
              (Files{{"Vorhanden.rezept", recipeBytes}, {"K\xE4sesp\xE4tzle.rezept", local}}));
    EXPECT_EQ(filesIn(scene.library),
              (Files{{"Vorhanden.rezept", recipeBytes}, {"K\u00E4sesp\u00E4tzle.rezept", local}}));
    EXPECT_EQ(filesIn(scene.work), (Files{{"K\u00E4sesp\u00E4tzle.rezept", local}}));
    // The refresh's session stays open.
    EXPECT_TRUE(session.isOpen());
}

TEST_P(PublishToRealServer, ATakenTitleChangesNothing) {
    const auto result = publish(session, server->account(), scene, recipeTitled("Vorhanden"));

    EXPECT_EQ(result.outcome, PublishOutcome::NameTaken);
    EXPECT_EQ(result.notified, 0);
    EXPECT_EQ(filesIn(scene.zeb), (Files{{"Vorhanden.rezept", recipeBytes}}));
    EXPECT_TRUE(filesIn(scene.work).empty()); // no probe file, no recipe file
    EXPECT_TRUE(filesIn(scene.library).empty());
    EXPECT_TRUE(session.isOpen()); // left for the next connect to close
}

TEST_P(PublishToRealServer, TheSameTitleTwiceIsTakenTheSecondTime) {
    EXPECT_EQ(publish(session, server->account(), scene, recipeTitled("Neu")).outcome,
              PublishOutcome::PublishedAndRefreshed);
    const auto second = publish(session, server->account(), scene, recipeTitled("Neu"));
    EXPECT_EQ(second.outcome, PublishOutcome::NameTaken);
    EXPECT_EQ(second.notified, 0);
}

TEST_P(PublishToRealServer, AnEmptyTitleGivesTheNameDotRezept) {
    EXPECT_EQ(publish(session, server->account(), scene, recipeTitled("")).outcome,
              PublishOutcome::PublishedAndRefreshed);
    const std::string local = readBytes(scene.work / ".rezept");
    EXPECT_FALSE(local.empty());
    EXPECT_EQ(readBytes(scene.zeb / ".rezept"), local);
}

TEST_P(PublishToRealServer, AProbeFileThatWasThereIsKeptWhenTheTitleIsFree) {
    writeBytes(scene.work / probeName, "belongs to someone else");
    EXPECT_EQ(publish(session, server->account(), scene, recipeTitled("Frei")).outcome,
              PublishOutcome::PublishedAndRefreshed);
    EXPECT_EQ(readBytes(scene.work / probeName), "belongs to someone else");
}

TEST_P(PublishToRealServer, AProbeFileIsDeletedWhenTheTitleIsTaken) {
    writeBytes(scene.work / probeName, "older probe");
    EXPECT_EQ(publish(session, server->account(), scene, recipeTitled("Vorhanden")).outcome,
              PublishOutcome::NameTaken);
    EXPECT_FALSE(fs::exists(scene.work / probeName));
}

TEST_P(PublishToRealServer, WhenTheRefreshCannotConnectTheRecipeIsStillPublished) {
    // The server goes away while the user reads the success message.
    const auto result = publish(session, server->account(), scene, recipeTitled("Zuletzt"),
                                [this] { server.reset(); });

    EXPECT_EQ(result.outcome, PublishOutcome::PublishedNotRefreshed);
    EXPECT_EQ(result.notified, 1);
    EXPECT_EQ(readBytes(scene.zeb / "Zuletzt.rezept"), readBytes(scene.work / "Zuletzt.rezept"));
    EXPECT_TRUE(filesIn(scene.library).empty());
    EXPECT_FALSE(session.isOpen());
}

TEST_P(PublishToRealServer, ATitleThatCannotBeAFileNameIsNotSaved) {
    for (const std::string& title :
         std::vector<std::string>{"Salz/Pfeffer", "Salz\\Pfeffer", "Zeile\r\nzwei", "Tab\tTitel",
                                  ".", "..", std::string(300, 'x')}) {
        const auto result = publish(session, server->account(), scene, recipeTitled(title));
        EXPECT_EQ(result.outcome, PublishOutcome::NotSaved) << title;
        EXPECT_EQ(result.notified, 0) << title;
        EXPECT_FALSE(session.isOpen()) << title;
    }
    EXPECT_EQ(filesIn(scene.zeb), (Files{{"Vorhanden.rezept", recipeBytes}}));
    EXPECT_TRUE(filesIn(scene.work).empty());
    EXPECT_TRUE(filesIn(scene.library).empty());
}

TEST_P(PublishToRealServer, ARecipeFileThatCannotBeWrittenIsNotSaved) {
    // A working directory that is gone: no rights to take away when the tests run as root.
    fs::remove(scene.work);
    const auto result = publish(session, server->account(), scene, recipeTitled("Ohne Ort"));
    EXPECT_EQ(result.outcome, PublishOutcome::NotSaved);
    EXPECT_EQ(result.notified, 0);
    EXPECT_FALSE(session.isOpen());
    EXPECT_EQ(filesIn(scene.zeb), (Files{{"Vorhanden.rezept", recipeBytes}}));
}

INSTANTIATE_TEST_SUITE_P(Servers, PublishToRealServer,
                         ::testing::Values(FtpServer::Kind::Pyftpdlib, FtpServer::Kind::Vsftpd),
                         KindName());

TEST(Publish, WithoutAServerNothingIsWritten) {
    Scene scene;
    ClosedPort closed;
    ServerSession session;
    const auto result = publish(session, closed.account(), scene, recipeTitled("Nirgends"));
    EXPECT_EQ(result.outcome, PublishOutcome::NotConnected);
    EXPECT_EQ(result.notified, 0);
    EXPECT_TRUE(filesIn(scene.work).empty());
    EXPECT_FALSE(session.isOpen());
}

TEST(Publish, ProbesThenUploadsThenClosesThenNotifiesThenRefreshes) {
    Scene scene;
    auto server = BadFtpServer::start(scene.home);
    ServerSession session;
    std::vector<std::string> heardBeforeNotification;
    const auto result = publish(session, server->account(), scene, recipeTitled("Reihenfolge"),
                                [&] { heardBeforeNotification = server->commands(); });
    ASSERT_EQ(result.outcome, PublishOutcome::PublishedAndRefreshed);
    session.close();

    // Everything of the publishing session, and nothing of the refresh, went out before the
    // notification.
    // clang-format off
    const std::vector<std::string> publishing = {
        "CONNECT", "USER quendelin", "PASS rezepte42", "PWD",
        "CWD /", "CWD zeb",
        "PASV", "TYPE I", "RETR Reihenfolge.rezept",
        "PASV", "STOR Reihenfolge.rezept",
        "QUIT"};
    // clang-format on
    EXPECT_EQ(heardBeforeNotification, publishing);
    const auto all = server->commands();
    ASSERT_GT(all.size(), publishing.size());
    EXPECT_EQ(all[publishing.size()], "CONNECT");
    EXPECT_LT(indexOf(all, "LIST"), all.size());
}

TEST(Publish, AfterNameTakenTheNextAttemptClosesTheOpenSessionFirst) {
    Scene scene(Files{{"Doppelt.rezept", "x"}});
    auto server = BadFtpServer::start(scene.home);
    ServerSession session;
    ASSERT_EQ(publish(session, server->account(), scene, recipeTitled("Doppelt")).outcome,
              PublishOutcome::NameTaken);
    ASSERT_EQ(commandsOf(server->commands(), "QUIT").size(), 0u);
    ASSERT_EQ(publish(session, server->account(), scene, recipeTitled("Anders")).outcome,
              PublishOutcome::PublishedAndRefreshed);

    const auto commands = server->commands();
    EXPECT_EQ(indexOf(commands, "CONNECT", 1), indexOf(commands, "QUIT") + 1);
}

TEST(Publish, AnUploadThatIsNotConfirmedIsNotReportedAsPublished) {
    const std::vector<std::vector<std::string>> faults = {
        {"--refuse-stor"},
        {"--stor-reply", "451 Local error in processing."},
        {"--stor-reply", "none"},
        {"--silent-after", "STOR"},
    };
    for (const auto& options : faults) {
        Scene scene;
        auto server = BadFtpServer::start(scene.home, options);
        ServerSession session;
        const auto result =
            publish(session, withShortBounds(server->account()), scene, recipeTitled("Wackelig"));
        EXPECT_EQ(result.outcome, PublishOutcome::NotUploaded) << options[0];
        EXPECT_EQ(result.notified, 0) << options[0];
        EXPECT_FALSE(session.isOpen()) << options[0];
        // No refresh followed.
        EXPECT_EQ(commandsOf(server->commands(), "CONNECT").size(), 1u) << options[0];
        EXPECT_TRUE(commandsOf(server->commands(), "LIST").empty()) << options[0];
    }
}

TEST(Publish, AProbeThatFailsForAnotherReasonCountsAsAFreeName) {
    // The first RETR (the probe) finds the server mute; the upload then cannot go out either.
    Scene scene(Files{{"Stumm.rezept", "taken, but the server will not say so"}});
    auto server = BadFtpServer::start(scene.home, {"--silent-after", "RETR"});
    ServerSession session;
    const auto result =
        publish(session, withShortBounds(server->account()), scene, recipeTitled("Stumm"));
    EXPECT_EQ(result.outcome, PublishOutcome::NotUploaded);
    EXPECT_EQ(result.notified, 0);
    EXPECT_FALSE(fs::exists(scene.work / probeName));
}

} // namespace
} // namespace quendelin::testing
