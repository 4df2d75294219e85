#include "about_dialog.hpp"

#include "icon_loader.hpp"
#include "window_placement.hpp"

#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>

namespace quendelin {

QStringList AboutDialog::lines() {
    return {
        QStringLiteral("Quendelin"),
        QString(),
        QStringLiteral("Ein Programm vom Quendelin-Team"),
        QString(),
        QStringLiteral("© 2012 Quendelin-Team"),
        QString(),
        QString(),
        QStringLiteral("Danke an die Autoren der Tango-Symbole:"),
        QStringLiteral("http://tango.freedesktop.org"),
        QString(),
        QStringLiteral("Ich danke Ihnen, dass Sie dieses Programm benutzen!"),
        QString(),
        QStringLiteral("Senden Sie mir bitte Ihre Meinung"),
        QStringLiteral("zum Quendelin an:"),
        QStringLiteral("rezepte@quendelin.de"),
        QString(),
        QStringLiteral(" Version 1.2 on 09.02.2012"),
    };
}

AboutDialog::AboutDialog(const UiServices& services, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("AboutDialog"));
    setWindowTitle(QStringLiteral("Über Quendelin"));
    setWindowIcon(IconLoader::applicationIcon());
    setModal(true);
    setFixedSize(300, 400);
    centreOnScreen(*this);

    // Read at every opening, so a logo changed on disk shows the next time.
    const QImage logoImage = IconLoader::load(services.iconDir / "zeb_logo.png");
    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("AboutLogo"));
    if (logoImage.isNull()) {
        logo->setGeometry(0, 0, 0, 0);
    } else {
        logo->setPixmap(QPixmap::fromImage(logoImage));
        logo->setGeometry(QRect(QPoint(0, 0), logoImage.size()));
    }

    auto* ok = new QPushButton(QStringLiteral("Ok"), this);
    ok->setObjectName(QStringLiteral("OkButton"));
    ok->setGeometry(100, 370, 100, 20);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* text = new QPlainTextEdit(this);
    text->setObjectName(QStringLiteral("AboutText"));
    text->setGeometry(20, 120, 280, 240);
    text->setReadOnly(true);
    text->setTabChangesFocus(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setPlainText(lines().join(QLatin1Char('\n')));
}

} // namespace quendelin
