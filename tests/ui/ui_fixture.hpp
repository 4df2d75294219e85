#pragma once

#include "temp_dir.hpp"
#include "ui_services.hpp"

#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quendelin::testing {

// A message box the window asked for, recorded instead of shown.
struct ShownMessage {
    QPointer<QWidget> parent;
    QString text;
};

// The pictures of the folder "icons", each a plain colour so that a test can tell which one
// a button shows.
inline const std::vector<std::pair<const char*, QColor>>& iconColours() {
    static const std::vector<std::pair<const char*, QColor>> colours = {
        {"page_green.png", QColor(0, 160, 0)},       {"brick.png", QColor(170, 60, 20)},
        {"database_refresh.png", QColor(0, 0, 160)}, {"book.png", QColor(200, 0, 0)},
        {"book_open.png", QColor(0, 200, 0)},        {"book_next.png", QColor(0, 0, 200)},
        {"book_previous.png", QColor(200, 200, 0)},  {"zeb_logo.png", QColor(90, 90, 90)},
    };
    return colours;
}

inline QColor iconColour(const char* file) {
    for (const auto& [name, colour] : iconColours()) {
        if (std::string(name) == file)
            return colour;
    }
    return {};
}

inline void writePng(const std::filesystem::path& file, QSize size, const QColor& colour) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    if (!image.save(QString::fromStdString(file.string()), "PNG"))
        throw std::runtime_error("cannot write " + file.string());
}

// Every picture of the program at 16 x 16, the logo at 120 x 80.
inline void writeIcons(const std::filesystem::path& iconDir) {
    std::filesystem::create_directories(iconDir);
    for (const auto& [name, colour] : iconColours()) {
        const QSize size = std::string(name) == "zeb_logo.png" ? QSize(120, 80) : QSize(16, 16);
        writePng(iconDir / name, size, colour);
    }
}

// The colour in the middle of a button face; invalid for an empty face.
inline QColor faceColour(const QIcon& icon) {
    if (icon.isNull())
        return {};
    const QImage image = icon.pixmap(QSize(25, 25)).toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

// A library, a working directory with its icons, and services that record message boxes.
struct UiFixture {
    TempDir library;
    TempDir work;
    std::shared_ptr<std::vector<ShownMessage>> messages =
        std::make_shared<std::vector<ShownMessage>>();

    UiServices services(ServerAccount account = {"127.0.0.1", 1, "u", "p", "zeb"}) const {
        UiServices s;
        s.libraryDir = library.path();
        s.account = std::move(account);
        s.workDir = work.path();
        s.iconDir = work.path() / "icons";
        s.showMessage = [shown = messages](QWidget* parent, const QString& text) {
            shown->push_back({parent, text});
        };
        return s;
    }
    std::filesystem::path iconDir() const { return work.path() / "icons"; }
};

// Runs `act` on the modal window of type T as soon as it is open, from inside its own event
// loop, so that the test can look at it and close it; checks belong after the dialog has
// returned. Should `act` leave the window open, it is closed here, so a failing test never
// hangs. The wait is bounded by a count of tries, never by a clock the test depends on.
template <typename T, typename Act> void whenModalOpens(Act act) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act, tries = 0]() mutable {
        QPointer<T> modal = qobject_cast<T*>(QApplication::activeModalWidget());
        if (modal == nullptr && ++tries < 1000)
            return;
        timer->stop();
        timer->deleteLater();
        if (modal == nullptr)
            return;
        act(*modal);
        if (modal && modal->isVisible())
            modal->close();
    });
    timer->start();
}

} // namespace quendelin::testing
