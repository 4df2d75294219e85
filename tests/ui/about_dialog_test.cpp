#include "about_dialog.hpp"
#include "ui_fixture.hpp"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

using namespace quendelin;
using namespace quendelin::testing;

namespace {

template <typename T> T* child(QWidget& dialog, const char* name) {
    return dialog.findChild<T*>(QLatin1String(name));
}

} // namespace

class AboutDialogTest : public QObject {
    Q_OBJECT

private slots:
    void showsNameCreditsContactAndVersion() {
        UiFixture fixture;
        writeIcons(fixture.iconDir());
        AboutDialog dialog(fixture.services());

        QCOMPARE(dialog.objectName(), QStringLiteral("AboutDialog"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Über Quendelin"));
        QCOMPARE(dialog.size(), QSize(300, 400));
        QCOMPARE(dialog.minimumSize(), QSize(300, 400));
        QCOMPARE(dialog.maximumSize(), QSize(300, 400));
        QVERIFY(dialog.isModal());
        const Qt::WindowFlags flags = dialog.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!dialog.windowIcon().isNull());

        auto* text = child<QPlainTextEdit>(dialog, "AboutText");
        QVERIFY(text);
        const QString all = text->toPlainText();
        const QStringList lines = all.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 17);
        QVERIFY(!all.endsWith(QLatin1Char('\n')));
        QCOMPARE(lines[0], QStringLiteral("Quendelin"));
        for (int empty : {1, 3, 5, 6, 9, 11, 15})
            QVERIFY2(lines[empty].isEmpty(), qPrintable(QString::number(empty + 1)));
        QVERIFY(lines[2].contains(QStringLiteral("Quendelin-Team")));
        QVERIFY(lines[4].startsWith(QStringLiteral("©")));
        QVERIFY(lines[4].contains(QStringLiteral("Quendelin-Team")));
        QVERIFY(lines[7].contains(QStringLiteral("Tango")));
        QCOMPARE(lines[8], QStringLiteral("http://tango.freedesktop.org"));
        QCOMPARE(lines[10], QStringLiteral("Ich danke Ihnen, dass Sie dieses Programm benutzen!"));
        QCOMPARE(lines[12], QStringLiteral("Senden Sie mir bitte Ihre Meinung"));
        QCOMPARE(lines[13], QStringLiteral("zum Quendelin an:"));
        QVERIFY(lines[14].contains(QLatin1Char('@')));
        QCOMPARE(lines[16], QStringLiteral(" Version 1.2 on 09.02.2012"));
    }

    void controlsStandWhereTheyBelong_data() {
        QTest::addColumn<bool>("withLogo");
        QTest::newRow("with logo") << true;
        QTest::newRow("logo missing") << false;
    }
    void controlsStandWhereTheyBelong() {
        QFETCH(bool, withLogo);
        UiFixture fixture;
        if (withLogo)
            writeIcons(fixture.iconDir());
        AboutDialog dialog(fixture.services());

        auto* logo = child<QLabel>(dialog, "AboutLogo");
        auto* ok = child<QPushButton>(dialog, "OkButton");
        auto* text = child<QPlainTextEdit>(dialog, "AboutText");
        QVERIFY(logo && ok && text);
        // The logo is shown unscaled at its own size; without a file its place stays empty.
        QCOMPARE(logo->geometry(), withLogo ? QRect(0, 0, 120, 80) : QRect(0, 0, 0, 0));
        QCOMPARE(logo->pixmap().isNull(), !withLogo);
        if (withLogo)
            QCOMPARE(logo->pixmap().toImage().pixelColor(60, 40), iconColour("zeb_logo.png"));
        QCOMPARE(ok->geometry(), QRect(100, 370, 100, 20));
        QCOMPARE(ok->text(), QStringLiteral("Ok"));
        QCOMPARE(text->geometry(), QRect(20, 120, 280, 240));
        QCOMPARE(text->toPlainText(), AboutDialog::lines().join(QLatin1Char('\n')));
    }

    // The logo is read at every opening, so a new file shows the next time.
    void eachOpeningReadsTheLogoAnew() {
        UiFixture fixture;
        writeIcons(fixture.iconDir());
        QSize first, second;
        QString firstText, secondText;
        {
            AboutDialog dialog(fixture.services());
            first = child<QLabel>(dialog, "AboutLogo")->size();
            firstText = child<QPlainTextEdit>(dialog, "AboutText")->toPlainText();
        }
        writePng(fixture.iconDir() / "zeb_logo.png", QSize(200, 50), Qt::white);
        {
            AboutDialog dialog(fixture.services());
            second = child<QLabel>(dialog, "AboutLogo")->size();
            secondText = child<QPlainTextEdit>(dialog, "AboutText")->toPlainText();
        }

        QCOMPARE(first, QSize(120, 80));
        QCOMPARE(second, QSize(200, 50));
        QCOMPARE(secondText, firstText);
    }

    void textCanBeSelectedAndCopiedButNotChanged() {
        UiFixture fixture;
        AboutDialog dialog(fixture.services());
        dialog.show();
        auto* text = child<QPlainTextEdit>(dialog, "AboutText");
        const QString before = text->toPlainText();

        text->setFocus();
        QTest::keyClicks(text, QStringLiteral("xyz"));
        QTest::keyClick(text, Qt::Key_Return);
        QTest::keyClick(text, Qt::Key_Backspace);
        QCOMPARE(text->toPlainText(), before);

        QGuiApplication::clipboard()->clear();
        QTest::keySequence(text, QKeySequence::SelectAll);
        QTest::keySequence(text, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), before);
        // Long lines run on to the right instead of being wrapped.
        QVERIFY(text->horizontalScrollBar()->maximum() > 0);
    }

    void okButtonAndCloseButtonBothEndTheDialog_data() {
        QTest::addColumn<bool>("byOkButton");
        QTest::newRow("OkButton") << true;
        QTest::newRow("close button") << false;
    }
    void okButtonAndCloseButtonBothEndTheDialog() {
        QFETCH(bool, byOkButton);
        UiFixture fixture;
        AboutDialog dialog(fixture.services());
        bool wasOpen = false;
        whenModalOpens<AboutDialog>([&](AboutDialog& open) {
            wasOpen = open.isVisible();
            if (byOkButton)
                QTest::mouseClick(child<QPushButton>(open, "OkButton"), Qt::LeftButton);
            else
                open.close();
        });

        dialog.exec();

        QVERIFY(wasOpen);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }
};

QTEST_MAIN(AboutDialogTest)
#include "about_dialog_test.moc"
