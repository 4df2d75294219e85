// The new-recipe dialog as the user meets it: the real widgets, offscreen, publishing to real
// FTP servers on loopback. Message boxes are recorded instead of shown, so nothing blocks.

#include "ftp_server.hpp"
#include "new_recipe_dialog.hpp"
#include "server_session.hpp"
#include "temp_dir.hpp"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quendelin {
namespace {

namespace fs = std::filesystem;
using testing::BadFtpServer;
using testing::ClosedPort;
using testing::FtpServer;
using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;

const QString kUploaded = QStringLiteral("Das Rezept wurde erstellt und ins Internet geladen!");
const QString kRefreshed = QStringLiteral("Die Bibliothek wurde aktualisiert.");
const QString kNotConnected =
    QStringLiteral("Es konnte keine Verbindung zum Server hergestellt werden.\n"
                   "Überprüfen Sie Ihre Internetverbindung und versuchen Sie es noch einmal.");
const QString kNameTaken =
    QStringLiteral("Es ist schon ein Rezept mit diesem Namen vorhanden,\n"
                   "ändern Sie den Rezept-Namen und probieren Sie es noch einmal.");
const QString kNotSaved =
    QStringLiteral("Das Rezept konnte nicht gespeichert werden.\n"
                   "Ändern Sie den Rezept-Namen und probieren Sie es noch einmal.");
const QString kNotUploaded =
    QStringLiteral("Das Rezept konnte nicht ins Internet geladen werden.\n"
                   "Überprüfen Sie Ihre Internetverbindung und versuchen Sie es noch einmal.");

// The bytes of a recipe file: each section followed by CR LF and a "%" line.
std::string recipeFile(std::initializer_list<std::string_view> sections) {
    std::string bytes;
    for (std::string_view section : sections)
        bytes.append(section).append("\r\n%\r\n");
    return bytes;
}

const std::string kUntouchedFile = recipeFile({"", "Kartoffeln 30kg", "", "", ""});

// Everything the dialog is handed, around a temp directory with the server's home, the
// library and the working directory. The server account points nowhere until a test says.
struct Setup {
    struct Shown {
        QWidget* parent;
        QString text;
    };

    TempDir temp;
    fs::path home = temp / "home";
    fs::path zeb = home / "zeb";
    UiServices services{};
    ServerSession session;
    std::vector<Shown> shown;
    // Runs when a message box would show, with the text; a test looks at the world then.
    std::function<void(const QString&)> onMessage;

    Setup() {
        fs::create_directories(zeb);
        fs::create_directories(temp / "library");
        fs::create_directories(temp / "work");
        services.libraryDir = temp / "library";
        services.workDir = temp / "work";
        services.iconDir = temp / "icons";
        services.showMessage = [this](QWidget* parent, const QString& text) {
            shown.push_back({parent, text});
            if (onMessage)
                onMessage(text);
        };
    }

    QStringList texts() const {
        QStringList result;
        for (const Shown& message : shown)
            result << message.text;
        return result;
    }
};

template <typename T> T* child(const QWidget& dialog, const char* name) {
    auto* widget = dialog.findChild<T*>(QLatin1String(name));
    if (widget == nullptr)
        qFatal("no %s", name);
    return widget;
}

QLineEdit* titleField(const QWidget& d) {
    return child<QLineEdit>(d, "TitleField");
}
QLineEdit* authorField(const QWidget& d) {
    return child<QLineEdit>(d, "AuthorField");
}
QPlainTextEdit* ingredientsField(const QWidget& d) {
    return child<QPlainTextEdit>(d, "IngredientsField");
}
QPlainTextEdit* preparationField(const QWidget& d) {
    return child<QPlainTextEdit>(d, "PreparationField");
}
QPlainTextEdit* remarksField(const QWidget& d) {
    return child<QPlainTextEdit>(d, "RemarksField");
}
QPushButton* doneButton(const QWidget& d) {
    return child<QPushButton>(d, "DoneButton");
}

// Types like a keyboard would: every character as a key press carrying its text, so that
// characters beyond Latin-1 (the euro sign) arrive as well; "\n" is Enter, "\t" is Tab.
void type(QWidget* widget, const QString& text) {
    for (QChar c : text) {
        if (c == u'\n')
            QTest::keyClick(widget, Qt::Key_Return);
        else if (c == u'\t')
            QTest::keyClick(widget, Qt::Key_Tab);
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// Types at the end of a multi-line field, below the text it holds.
void append(QPlainTextEdit* field, const QString& text) {
    QTest::keyClick(field, Qt::Key_End, Qt::ControlModifier);
    type(field, text);
}

void clear(QWidget* field) {
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Delete);
}

void pressDone(const QWidget& dialog) {
    QTest::mouseClick(doneButton(dialog), Qt::LeftButton);
}

// All five texts as the user sees them, to show that a failed publication kept every one.
QStringList fieldTexts(const QWidget& d) {
    return {titleField(d)->text(), ingredientsField(d)->toPlainText(),
            preparationField(d)->toPlainText(), remarksField(d)->toPlainText(),
            authorField(d)->text()};
}

void fillIn(const QWidget& d, const QString& title) {
    type(titleField(d), title);
    type(authorField(d), QStringLiteral("Jürgen"));
    append(ingredientsField(d), QStringLiteral("\nÄpfel 3"));
    type(preparationField(d), QStringLiteral("Schälen.\nKochen."));
    type(remarksField(d), QStringLiteral("Lecker!"));
}

// A stand-in for the main window: shown and active, the parent of the dialog.
class Owner {
public:
    Owner() {
        window_.resize(600, 500);
        window_.show();
        window_.activateWindow();
    }
    QWidget* widget() { return &window_; }

    // Opens the dialog the way the main window does, a new object each time, and runs
    // `whileOpen` inside its modal loop. A dialog still open afterwards is closed with -1, so
    // a failed check cannot hang the test. Returns what exec() returned.
    int run(Setup& setup, const std::function<void(NewRecipeDialog&)>& whileOpen) {
        NewRecipeDialog dialog(setup.services, setup.session, &window_);
        QTimer::singleShot(0, &dialog, [&] {
            whileOpen(dialog);
            if (dialog.isVisible())
                dialog.done(-1);
        });
        return dialog.exec();
    }

private:
    QWidget window_;
};

} // namespace

class NewRecipeDialogTest : public QObject {
    Q_OBJECT

private slots:
    void looksAsDescribed();
    void tabWalksTheFieldsInOrder();
    void tabInMultiLineFieldsIsACharacter();
    void enterAndEscapeDoNothing();
    void oneLineFieldsTakeOnlyTheFirstPastedLine();
    void closeBoxClosesWithoutPublishing();
    void freshFieldsAtEveryOpening();
    void untouchedDialogPublishesTheExample();
    void gatheredTextReachesTheServerAsTyped();
    void refreshWithoutConnectionClosesAfterOneMessage();
    void failuresKeepTheInput();
    void retryAfterNameTakenWithNewTitle();
};

void NewRecipeDialogTest::looksAsDescribed() {
    Setup setup;
    // An owner off the screen's centre: the dialog centres on the screen, not on its owner.
    QWidget owner;
    owner.setGeometry(0, 0, 200, 100);
    owner.show();
    NewRecipeDialog dialog(setup.services, setup.session, &owner);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QCOMPARE(dialog.objectName(), QStringLiteral("NewRecipeDialog"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Neues Rezept..."));
    QCOMPARE(dialog.size(), QSize(500, 500));
    QCOMPARE(dialog.minimumSize(), QSize(500, 500));
    QCOMPARE(dialog.maximumSize(), QSize(500, 500));
    const Qt::WindowFlags flags = dialog.windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
    const QPoint screenCentre = dialog.screen()->availableGeometry().center();
    QVERIFY2((dialog.frameGeometry().center() - screenCentre).manhattanLength() <= 1,
             "not centred on the screen");

    struct Control {
        const char* kind;
        const char* name;
        QRect geometry;
        QString text;
    };
    const std::vector<Control> expected = {
        {"QLabel", "", {50, 10, 100, 15}, QStringLiteral("Rezept-Titel:")},
        {"QLineEdit", "TitleField", {130, 8, 200, 15}, QString()},
        {"QLabel", "", {50, 27, 100, 20}, QStringLiteral("Autor-Name:")},
        {"QLineEdit", "AuthorField", {130, 25, 200, 15}, QString()},
        {"QLabel",
         "",
         {50, 50, 200, 30},
         QStringLiteral("Zutaten (Zutat Menge):\n(Beispiel löschen!)")},
        {"QPlainTextEdit",
         "IngredientsField",
         {50, 80, 250, 100},
         QStringLiteral("Kartoffeln 30kg")},
        {"QLabel", "", {50, 185, 200, 15}, QStringLiteral("Zubereitung:")},
        {"QPlainTextEdit", "PreparationField", {50, 200, 250, 150}, QString()},
        {"QLabel", "", {50, 360, 200, 20}, QStringLiteral("Bemerkungen:")},
        {"QPlainTextEdit", "RemarksField", {50, 380, 250, 100}, QString()},
        {"QPushButton", "DoneButton", {350, 400, 100, 35}, QStringLiteral("Fertig")},
    };
    // The direct children in creation order, which is also the order of the focus chain.
    std::vector<QWidget*> controls;
    for (QObject* object : dialog.children())
        if (auto* widget = qobject_cast<QWidget*>(object))
            controls.push_back(widget);
    QCOMPARE(controls.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Control& want = expected[i];
        QWidget* got = controls[i];
        const QByteArray name = QByteArray("control ") + QByteArray::number(qsizetype(i));
        const char* where = name.constData();
        QVERIFY2(QByteArray(got->metaObject()->className()) == want.kind, where);
        QVERIFY2(got->objectName() == QLatin1String(want.name), where);
        QVERIFY2(got->geometry() == want.geometry, where);
        QVERIFY2(got->isVisible(), where);
        if (auto* label = qobject_cast<QLabel*>(got)) {
            QVERIFY2(label->text() == want.text, where);
            QVERIFY2(label->focusPolicy() == Qt::NoFocus, where);
            QVERIFY2(label->alignment() == (Qt::AlignLeft | Qt::AlignTop), where);
            QVERIFY2(label->wordWrap(), where);
        } else if (auto* line = qobject_cast<QLineEdit*>(got)) {
            QVERIFY2(line->text() == want.text, where);
            // A whole line, umlaut dots and descenders included, fits inside the frame.
            QVERIFY2(QFontMetrics(line->font()).height() <= line->height() - 2, where);
        } else if (auto* text = qobject_cast<QPlainTextEdit*>(got)) {
            QVERIFY2(text->toPlainText() == want.text, where);
            QVERIFY2(!text->isReadOnly(), where);
            QVERIFY2(text->lineWrapMode() == QPlainTextEdit::NoWrap, where);
        } else if (auto* button = qobject_cast<QPushButton*>(got)) {
            QVERIFY2(button->text() == want.text, where);
            QVERIFY2(!button->isDefault() && !button->autoDefault(), where);
        }
    }
    QCOMPARE(ingredientsField(dialog)->document()->blockCount(), 1);
}

void NewRecipeDialogTest::tabWalksTheFieldsInOrder() {
    Setup setup;
    NewRecipeDialog dialog(setup.services, setup.session);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(QApplication::focusWidget(), titleField(dialog));
    const QStringList untouched = fieldTexts(dialog);

    // Backwards all the way round, starting and ending at the title.
    const std::vector<QWidget*> backwards = {doneButton(dialog),       remarksField(dialog),
                                             preparationField(dialog), ingredientsField(dialog),
                                             authorField(dialog),      titleField(dialog)};
    for (QWidget* next : backwards) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    // Forwards from every control that Tab leaves: the one-line fields and the button.
    const std::vector<std::pair<QWidget*, QWidget*>> forwards = {
        {titleField(dialog), authorField(dialog)},
        {authorField(dialog), ingredientsField(dialog)},
        {doneButton(dialog), titleField(dialog)},
    };
    for (const auto& [from, to] : forwards) {
        from->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(from, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), to);
    }
    // Shift+Tab as the test keyboard sends it without the X11 translation to Backtab.
    preparationField(dialog)->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(preparationField(dialog), Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), ingredientsField(dialog));
    QCOMPARE(fieldTexts(dialog), untouched);
}

void NewRecipeDialogTest::tabInMultiLineFieldsIsACharacter() {
    Setup setup;
    NewRecipeDialog dialog(setup.services, setup.session);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));

    for (QPlainTextEdit* field :
         {ingredientsField(dialog), preparationField(dialog), remarksField(dialog)}) {
        field->setFocus(Qt::OtherFocusReason);
        field->moveCursor(QTextCursor::End);
        const QString before = field->toPlainText();
        QTest::keyClick(field, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), field);
        QCOMPARE(field->toPlainText(), before + u'\t');
    }
}

void NewRecipeDialogTest::enterAndEscapeDoNothing() {
    // Any publication would end in the no-connection message.
    Setup setup;
    ClosedPort nowhere;
    setup.services.account = nowhere.account();
    NewRecipeDialog dialog(setup.services, setup.session);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    fillIn(dialog, QStringLiteral("Suppe"));
    const QStringList typed = fieldTexts(dialog);

    const std::vector<std::pair<QWidget*, Qt::Key>> presses = {
        {titleField(dialog), Qt::Key_Return},       {titleField(dialog), Qt::Key_Enter},
        {authorField(dialog), Qt::Key_Return},      {authorField(dialog), Qt::Key_Enter},
        {doneButton(dialog), Qt::Key_Return},       {doneButton(dialog), Qt::Key_Enter},
        {titleField(dialog), Qt::Key_Escape},       {authorField(dialog), Qt::Key_Escape},
        {ingredientsField(dialog), Qt::Key_Escape}, {preparationField(dialog), Qt::Key_Escape},
        {remarksField(dialog), Qt::Key_Escape},     {doneButton(dialog), Qt::Key_Escape},
    };
    for (const auto& [widget, key] : presses) {
        widget->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(widget, key);
        QVERIFY(dialog.isVisible());
        QCOMPARE(setup.texts(), QStringList());
        QCOMPARE(fieldTexts(dialog), typed);
    }

    // The button does answer the space bar: this press publishes, and fails to connect.
    doneButton(dialog)->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(doneButton(dialog), Qt::Key_Space);
    QCOMPARE(setup.texts(), QStringList{kNotConnected});
}

void NewRecipeDialogTest::oneLineFieldsTakeOnlyTheFirstPastedLine() {
    Setup setup;
    NewRecipeDialog dialog(setup.services, setup.session);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));

    struct Case {
        QString before; // typed first; the cursor then goes to `cursor`
        int cursor;
        QString clipboard;
        QString after;
    };
    const std::vector<Case> cases = {
        {"", 0, "Kürbissuppe\r\n", "Kürbissuppe"},
        {"Oma  Müller", 4, "Erna\nBerlin\n", "Oma Erna Müller"},
        {"Suppe", 5, "\r\nzweite Zeile", "Suppe"},
        {"Suppe", 5, QString::fromUtf8(" vom\u2029Rind"), "Suppe vom"},
    };
    for (QLineEdit* field : {titleField(dialog), authorField(dialog)}) {
        for (const Case& c : cases) {
            field->clear();
            type(field, c.before);
            field->setCursorPosition(c.cursor);
            QGuiApplication::clipboard()->setText(c.clipboard);
            QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
            QCOMPARE(field->text(), c.after);
        }
    }
}

void NewRecipeDialogTest::closeBoxClosesWithoutPublishing() {
    Setup setup;
    auto server = FtpServer::start(FtpServer::Kind::Pyftpdlib, setup.home);
    setup.services.account = server->account();
    Owner owner;
    QVERIFY(QTest::qWaitForWindowActive(owner.widget()));

    const int result = owner.run(setup, [&](NewRecipeDialog& dialog) {
        QTRY_VERIFY(dialog.isActiveWindow());
        // While the dialog is open the owner takes no input.
        QCOMPARE(QApplication::activeModalWidget(), &dialog);
        fillIn(dialog, QStringLiteral("Suppe"));
        // What the close box does: the window system asks the window to close.
        QVERIFY(dialog.windowHandle()->close());
        QVERIFY(!dialog.isVisible());
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(setup.texts(), QStringList());
    QVERIFY(fs::is_empty(setup.zeb));
    QVERIFY(fs::is_empty(setup.services.workDir));
    QVERIFY(!setup.session.isOpen());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QVERIFY(owner.widget()->isEnabled());
    QTRY_VERIFY(owner.widget()->isActiveWindow());
}

void NewRecipeDialogTest::freshFieldsAtEveryOpening() {
    Setup setup;
    ClosedPort nowhere;
    setup.services.account = nowhere.account();
    Owner owner;
    QStringList first, second;
    owner.run(setup, [&](NewRecipeDialog& dialog) {
        fillIn(dialog, QStringLiteral("Suppe"));
        first = fieldTexts(dialog);
        dialog.windowHandle()->close();
    });
    owner.run(setup, [&](NewRecipeDialog& dialog) {
        second = fieldTexts(dialog);
        dialog.windowHandle()->close();
    });
    QVERIFY(first != second);
    QCOMPARE(second, (QStringList{QString(), QStringLiteral("Kartoffeln 30kg"), QString(),
                                  QString(), QString()}));
}

void NewRecipeDialogTest::untouchedDialogPublishesTheExample() {
    Setup setup;
    auto server = FtpServer::start(FtpServer::Kind::Pyftpdlib, setup.home);
    setup.services.account = server->account();
    // When the success message shows, the file is on the server and the refresh that
    // fetches it into the library has not started yet. A press of Done meanwhile starts
    // nothing: the dialog is still busy with this publication.
    bool onServer = false, inLibrary = true;
    NewRecipeDialog* shown = nullptr;
    setup.onMessage = [&](const QString& text) {
        if (text != kUploaded)
            return;
        onServer = readBytes(setup.zeb / ".rezept") == kUntouchedFile;
        inLibrary = fs::exists(setup.services.libraryDir / ".rezept");
        pressDone(*shown);
    };
    Owner owner;
    const int result = owner.run(setup, [&](NewRecipeDialog& dialog) {
        shown = &dialog;
        pressDone(dialog);
    });

    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(setup.texts(), (QStringList{kUploaded, kRefreshed}));
    for (const Setup::Shown& message : setup.shown)
        QCOMPARE(message.parent, shown);
    QVERIFY(onServer);
    QVERIFY(!inLibrary);
    QCOMPARE(readBytes(setup.zeb / ".rezept"), kUntouchedFile);
    QCOMPARE(readBytes(setup.services.workDir / ".rezept"), kUntouchedFile);
    QCOMPARE(readBytes(setup.services.libraryDir / ".rezept"), kUntouchedFile);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QTRY_VERIFY(owner.widget()->isActiveWindow());
}

void NewRecipeDialogTest::gatheredTextReachesTheServerAsTyped() {
    struct Case {
        const char* name;
        std::function<void(const QWidget&)> typeIn;
        std::string remoteName; // Windows-1252 bytes, as on the server's disk
        std::string localName;  // UTF-8, the platform's own
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"umlauts, euro, tabs, no-break space and line breaks",
         [](const QWidget& d) {
             type(titleField(d), QStringLiteral(" Möhrensuppe "));
             type(authorField(d), QStringLiteral("Jürgen Groß"));
             append(ingredientsField(d), QStringLiteral("\nÄpfel\t3"));
             type(preparationField(d), QStringLiteral("Schälen.\n\tKochen.\n"));
             type(remarksField(d), QString::fromUtf8("Preis: 2 € je 100\u00A0g"));
             // Shift+Enter breaks the line too, and comes out as the same CR LF.
             QTest::keyClick(remarksField(d), Qt::Key_Return, Qt::ShiftModifier);
             type(remarksField(d), QStringLiteral("Ende"));
         },
         " M\xF6hrensuppe .rezept", " Möhrensuppe .rezept",
         recipeFile({" M\xF6hrensuppe ", "Kartoffeln 30kg\r\n\xC4pfel\t3",
                     "Sch\xE4len.\r\n\tKochen.\r\n", "Preis: 2 \x80 je 100\xA0g\r\nEnde",
                     "J\xFCrgen Gro\xDF"})},
        {"fields of nothing but line breaks",
         [](const QWidget& d) {
             type(titleField(d), QStringLiteral("Leer"));
             clear(ingredientsField(d));
             type(preparationField(d), QStringLiteral("\n\n"));
             type(remarksField(d), QStringLiteral(" "));
         },
         "Leer.rezept", "Leer.rezept", recipeFile({"Leer", "", "\r\n\r\n", " ", ""})},
    };

    for (const Case& c : cases) {
        Setup setup;
        auto server = FtpServer::start(FtpServer::Kind::Pyftpdlib, setup.home);
        setup.services.account = server->account();
        NewRecipeDialog dialog(setup.services, setup.session);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        c.typeIn(dialog);
        pressDone(dialog);
        QVERIFY2(setup.texts() == (QStringList{kUploaded, kRefreshed}), c.name);
        QVERIFY2(readBytes(setup.zeb / c.remoteName) == c.bytes, c.name);
        QVERIFY2(readBytes(setup.services.workDir / c.localName) == c.bytes, c.name);
        QVERIFY2(!dialog.isVisible(), c.name);
    }
}

void NewRecipeDialogTest::refreshWithoutConnectionClosesAfterOneMessage() {
    Setup setup;
    auto server = FtpServer::start(FtpServer::Kind::Pyftpdlib, setup.home);
    setup.services.account = server->account();
    // The server goes away while the user reads the success message, so the refresh that
    // follows cannot connect.
    setup.onMessage = [&](const QString& text) {
        if (text == kUploaded)
            server.reset();
    };
    Owner owner;
    const int result = owner.run(setup, [&](NewRecipeDialog& dialog) {
        type(titleField(dialog), QStringLiteral("Suppe"));
        pressDone(dialog);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(setup.texts(), QStringList{kUploaded});
    QCOMPARE(readBytes(setup.zeb / "Suppe.rezept"),
             recipeFile({"Suppe", "Kartoffeln 30kg", "", "", ""}));
    QVERIFY(fs::is_empty(setup.services.libraryDir));
    QTRY_VERIFY(owner.widget()->isActiveWindow());
}

void NewRecipeDialogTest::failuresKeepTheInput() {
    enum class Serve { Nothing, Pyftpdlib, Misbehaving };
    struct Case {
        const char* name;
        QString title;
        Serve serve;
        std::vector<std::string> misbehaviour; // options of the misbehaving server
        bool nameOnServer;                     // the server holds "Suppe.rezept" already
        bool workDirGone;
        QString message;
        QString again; // when Done is pressed once more
    };
    const std::vector<Case> cases = {
        {"no connection", "Suppe", Serve::Nothing, {}, false, false, kNotConnected, kNotConnected},
        {"name taken", "Suppe", Serve::Pyftpdlib, {}, true, false, kNameTaken, kNameTaken},
        {"title that is no file name",
         "Suppe/Eintopf",
         Serve::Pyftpdlib,
         {},
         false,
         false,
         kNotSaved,
         kNotSaved},
        {"working directory gone",
         "Suppe",
         Serve::Pyftpdlib,
         {},
         false,
         true,
         kNotSaved,
         kNotSaved},
        {"upload refused",
         "Suppe",
         Serve::Misbehaving,
         {"--refuse-stor"},
         false,
         false,
         kNotUploaded,
         kNotUploaded},
        // The file did arrive, only its confirmation did not; the next try finds it there.
        {"upload never confirmed",
         "Suppe",
         Serve::Misbehaving,
         {"--stor-reply", "none"},
         false,
         false,
         kNotUploaded,
         kNameTaken},
    };
    const std::string existing = recipeFile({"Suppe", "alt", "", "", "Oma"});

    for (const Case& c : cases) {
        Setup setup;
        if (c.nameOnServer)
            writeBytes(setup.zeb / "Suppe.rezept", existing);
        if (c.workDirGone)
            setup.services.workDir = setup.temp / "gone";
        ClosedPort nowhere;
        std::unique_ptr<FtpServer> server;
        std::unique_ptr<BadFtpServer> badServer;
        setup.services.account = nowhere.account();
        if (c.serve == Serve::Pyftpdlib) {
            server = FtpServer::start(FtpServer::Kind::Pyftpdlib, setup.home);
            setup.services.account = server->account();
        } else if (c.serve == Serve::Misbehaving) {
            badServer = BadFtpServer::start(setup.home, c.misbehaviour);
            setup.services.account = badServer->account();
        }
        NewRecipeDialog dialog(setup.services, setup.session);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        fillIn(dialog, c.title);
        const QStringList typed = fieldTexts(dialog);

        pressDone(dialog);
        QVERIFY2(setup.texts() == QStringList{c.message}, c.name);
        QVERIFY2(setup.shown.front().parent == &dialog, c.name);
        QVERIFY2(dialog.isVisible(), c.name);
        QVERIFY2(fieldTexts(dialog) == typed, c.name);
        QVERIFY2(fs::is_empty(setup.services.libraryDir), c.name);
        if (c.nameOnServer) {
            QVERIFY2(readBytes(setup.zeb / "Suppe.rezept") == existing, c.name);
            QVERIFY2(fs::is_empty(setup.services.workDir), c.name);
        }

        pressDone(dialog);
        QVERIFY2(setup.texts() == (QStringList{c.message, c.again}), c.name);
        QVERIFY2(dialog.isVisible(), c.name);
        QVERIFY2(fieldTexts(dialog) == typed, c.name);
    }
}

void NewRecipeDialogTest::retryAfterNameTakenWithNewTitle() {
    Setup setup;
    const std::string existing = recipeFile({"Suppe", "alt", "", "", "Oma"});
    writeBytes(setup.zeb / "Suppe.rezept", existing);
    auto server = FtpServer::start(FtpServer::Kind::Vsftpd, setup.home);
    setup.services.account = server->account();
    Owner owner;
    const int result = owner.run(setup, [&](NewRecipeDialog& dialog) {
        fillIn(dialog, QStringLiteral("Suppe"));
        pressDone(dialog);
        QCOMPARE(setup.texts(), QStringList{kNameTaken});
        QVERIFY(dialog.isVisible());
        type(titleField(dialog), QStringLiteral(" neu"));
        pressDone(dialog);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(setup.texts(), (QStringList{kNameTaken, kUploaded, kRefreshed}));
    QCOMPARE(readBytes(setup.zeb / "Suppe.rezept"), existing);
    const std::string published = recipeFile({"Suppe neu", "Kartoffeln 30kg\r\n\xC4pfel 3",
                                              "Sch\xE4len.\r\nKochen.", "Lecker!", "J\xFCrgen"});
    QCOMPARE(readBytes(setup.zeb / "Suppe neu.rezept"), published);
    QCOMPARE(readBytes(setup.services.libraryDir / "Suppe neu.rezept"), published);
    QCOMPARE(readBytes(setup.services.libraryDir / "Suppe.rezept"), existing);
    QTRY_VERIFY(owner.widget()->isActiveWindow());
}

} // namespace quendelin

int main(int argc, char** argv) {
    // The window tests run without a display unless one is asked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    quendelin::NewRecipeDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "new_recipe_dialog_test.moc"
