#include "window_placement.hpp"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace quendelin {

void centreOnScreen(QWidget& window) {
    QScreen* screen = window.screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect available = screen->availableGeometry();
    window.move(available.center() - window.rect().center());
}

} // namespace quendelin
