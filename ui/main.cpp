#include "icon_loader.hpp"
#include "main_window.hpp"
#include "message_box.hpp"
#include "server_account.hpp"
#include "server_session.hpp"
#include "translations.hpp"
#include "ui_services.hpp"

#include <QApplication>
#include <filesystem>
#include <quendelin/build_constants.hpp>
#include <string>
#include <system_error>

int main(int argc, char* argv[]) {
    using namespace quendelin;

    // The program takes no arguments: Qt gets the program name only, so nothing on the
    // command line changes how it runs.
    static char programName[] = "quendelin";
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : programName, nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setWindowIcon(IconLoader::applicationIcon());
    installGermanTranslations(app);

    std::error_code ignored;
    const std::filesystem::path workDir = std::filesystem::current_path(ignored);

    // The constants are taken here, in the program's own source, so that a build of it with
    // other constants (the end-to-end check against a loopback server) uses all of them.
    UiServices services;
    services.libraryDir = std::filesystem::path(buildConstants::libraryDir);
    services.account = builtInAccount(); // the recipe directory and the time limits
    services.account.host = std::string(buildConstants::ftpHost);
    services.account.port = buildConstants::ftpPort;
    services.account.user = std::string(buildConstants::ftpUser);
    services.account.password = std::string(buildConstants::ftpPassword);
    services.workDir = workDir;
    services.iconDir = workDir / "icons";
    services.showMessage = showMessageBox;

    // One session for the whole run; the refresh leaves it open, so it is closed here.
    ServerSession session;
    {
        MainWindow window(services, session);
        window.show();
        QApplication::exec();
    }
    session.close();
    return 0;
}
