#include "message_box.hpp"
#include "ui_fixture.hpp"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

using namespace quendelin;
using quendelin::testing::whenModalOpens;

namespace {

struct Seen {
    QString title, text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::Information;
    Qt::WindowModality modality = Qt::NonModal;
    QWidget* parent = nullptr;
    QStringList buttons;
    bool visible = false;
};

Seen showAndLook(QWidget* parent, const QString& text) {
    Seen seen;
    whenModalOpens<QMessageBox>([&seen](QMessageBox& box) {
        seen.title = box.windowTitle();
        seen.text = box.text();
        seen.format = box.textFormat();
        seen.icon = box.icon();
        seen.modality = box.windowModality();
        seen.parent = box.parentWidget();
        seen.visible = box.isVisible();
        for (QAbstractButton* button : box.buttons())
            seen.buttons.append(button->text());
        box.button(QMessageBox::Ok)->click();
    });
    showMessageBox(parent, text);
    return seen;
}

} // namespace

class MessageBoxTest : public QObject {
    Q_OBJECT

private slots:
    void showsTheTextOverItsWindowWithOneOkButton() {
        QWidget window;
        window.show();
        const QString text = QStringLiteral("Erste Zeile.\nZweite Zeile <b>ohne</b> Auszeichnung.");

        const Seen seen = showAndLook(&window, text);

        QVERIFY(seen.visible);
        QCOMPARE(seen.title, QStringLiteral("Quendelin"));
        QCOMPARE(seen.text, text);
        QCOMPARE(seen.format, Qt::PlainText);
        QCOMPARE(seen.icon, QMessageBox::NoIcon);
        QCOMPARE(seen.modality, Qt::ApplicationModal);
        QCOMPARE(seen.parent, &window);
        QCOMPARE(seen.buttons, QStringList{QStringLiteral("OK")});
    }

    // Called without a window, the box still stands over the one in front.
    void withoutParentTakesTheModalWindowInFront() {
        QWidget window;
        window.show();
        QDialog dialog(&window);
        Seen seen;
        whenModalOpens<QDialog>([&seen](QDialog& front) {
            seen = showAndLook(nullptr, QStringLiteral("Hallo"));
            front.accept();
        });
        dialog.exec();

        QCOMPARE(seen.parent, &dialog);
    }
};

QTEST_MAIN(MessageBoxTest)
#include "message_box_test.moc"
