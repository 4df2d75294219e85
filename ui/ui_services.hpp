#pragma once

#include "server_account.hpp"

#include <QString>
#include <filesystem>
#include <functional>

class QWidget;

namespace quendelin {

// What the windows need from outside. main() hands in the built-in values; the window tests
// hand in a temp library, a loopback server and a recorder for the message boxes.
struct UiServices {
    std::filesystem::path libraryDir; // the recipe library
    ServerAccount account;            // the shared server
    std::filesystem::path workDir;    // where a published recipe file is written
    std::filesystem::path iconDir;    // the folder "icons" below the working directory
    // Shows a message box over `parent` and returns when the user has dismissed it.
    std::function<void(QWidget* parent, const QString& text)> showMessage;
};

} // namespace quendelin
