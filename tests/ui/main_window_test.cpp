#include "about_dialog.hpp"
#include "ftp_server.hpp"
#include "main_window.hpp"
#include "new_recipe_dialog.hpp"
#include "recipe_library.hpp"
#include "recipe_view.hpp"
#include "server_session.hpp"
#include "translations.hpp"
#include "ui_fixture.hpp"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace quendelin;
using namespace quendelin::testing;

namespace {

const QString updatedText = QStringLiteral("Die Bibliothek wurde aktualisiert.");
const QString noConnectionText =
    QStringLiteral("Es konnte keine Verbindung zum Server hergestellt werden.\n"
                   "Überprüfen Sie Ihre Internetverbindung und versuchen Sie es noch einmal.");

// A recipe file as the program writes it: each section's lines, then "%", all in CR LF.
std::string recipeFile(const std::vector<std::vector<std::string>>& sections) {
    std::string bytes;
    for (const auto& section : sections) {
        for (const std::string& line : section)
            bytes += line + "\r\n";
        bytes += "%\r\n";
    }
    return bytes;
}

std::string simpleRecipe(const std::string& title, const std::string& author) {
    return recipeFile({{title}, {"Zutat 1"}, {"Kochen."}, {"Gut."}, {author}});
}

// The window under test with its controls, found as a screen reader or a test would.
struct Window {
    ServerSession session;
    MainWindow window;
    QToolBar* toolBar;
    QPushButton* libraryToggle;
    QListWidget* recipeList;
    QPushButton* viewToggle;
    QPlainTextEdit* recipeText;

    explicit Window(const UiServices& services)
        : window(services, session) {
        toolBar = window.findChild<QToolBar*>();
        libraryToggle = window.findChild<QPushButton*>(QStringLiteral("LibraryToggle"));
        recipeList = window.findChild<QListWidget*>(QStringLiteral("RecipeList"));
        viewToggle = window.findChild<QPushButton*>(QStringLiteral("ViewToggle"));
        recipeText = window.findChild<QPlainTextEdit*>(QStringLiteral("RecipeText"));
        window.show();
        window.activateWindow();
    }

    QToolButton* toolButton(const char* name) const {
        return window.findChild<QToolButton*>(QLatin1String(name));
    }
    QList<QPlainTextEdit*> authorLines() const {
        return window.findChildren<QPlainTextEdit*>(QStringLiteral("AuthorLine"));
    }
    QPlainTextEdit* authorLine() const {
        const auto lines = authorLines();
        return lines.isEmpty() ? nullptr : lines.front();
    }

    void clickLibrary() { QTest::mouseClick(libraryToggle, Qt::LeftButton); }
    void clickView() { QTest::mouseClick(viewToggle, Qt::LeftButton); }
    void select(int row) {
        QListWidgetItem* item = recipeList->item(row);
        QTest::mouseClick(recipeList->viewport(), Qt::LeftButton, {},
                          recipeList->visualItemRect(item).center());
    }
};

QString face(const QIcon& icon) {
    const QColor colour = faceColour(icon);
    if (!colour.isValid())
        return QStringLiteral("empty");
    for (const auto& [name, known] : iconColours()) {
        if (known == colour)
            return QString::fromLatin1(name).chopped(4);
    }
    return colour.name();
}

QString quoted(const QString& text) {
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\n'), QLatin1String("|")) +
           QLatin1Char('\'');
}

// What the user sees of the browser, one line per control, so that a failing comparison
// names the control that differs.
QString describe(const Window& w) {
    QStringList names;
    for (int row = 0; row < w.recipeList->count(); ++row)
        names.append(w.recipeList->item(row)->text());
    const QList<QListWidgetItem*> selected = w.recipeList->selectedItems();
    const int selectedRow = selected.isEmpty() ? -1 : w.recipeList->row(selected.front());

    QString author = QStringLiteral("absent");
    const auto authorLines = w.authorLines();
    if (authorLines.size() > 1)
        author = QStringLiteral("%1 controls").arg(authorLines.size());
    else if (const QPlainTextEdit* line = w.authorLine())
        author = QStringLiteral("%1 %2").arg(line->isVisible() ? QStringLiteral("visible")
                                                               : QStringLiteral("hidden"),
                                             quoted(line->toPlainText()));

    const auto shown = [](const QWidget* widget) {
        return widget->isVisible() ? QStringLiteral("visible") : QStringLiteral("hidden");
    };
    const auto pressed = [](const QPushButton* button) {
        return button->isChecked() ? QStringLiteral("pressed") : QStringLiteral("released");
    };
    return QStringList{
        QStringLiteral("LibraryToggle: %1 %2")
            .arg(pressed(w.libraryToggle), face(w.libraryToggle->icon())),
        QStringLiteral("RecipeList: %1 [%2] selected %3")
            .arg(shown(w.recipeList), names.join(QLatin1String(", ")))
            .arg(selectedRow),
        QStringLiteral("ViewToggle: %1 %2 %3")
            .arg(shown(w.viewToggle), pressed(w.viewToggle), face(w.viewToggle->icon())),
        QStringLiteral("RecipeText: %1 %2")
            .arg(shown(w.recipeText), quoted(w.recipeText->toPlainText())),
        QStringLiteral("AuthorLine: %1").arg(author),
    }
        .join(QLatin1Char('\n'));
}

// The three display states, as the user sees them.
QString libraryClosed(const QString& author = QStringLiteral("absent")) {
    return QStringList{
        QStringLiteral("LibraryToggle: released book"),
        QStringLiteral("RecipeList: hidden [] selected -1"),
        QStringLiteral("ViewToggle: hidden released book_next"),
        QStringLiteral("RecipeText: hidden ''"),
        QStringLiteral("AuthorLine: ") + author,
    }
        .join(QLatin1Char('\n'));
}

QString libraryOpen(const QStringList& names, int selected = -1,
                    const QString& author = QStringLiteral("absent")) {
    return QStringList{
        QStringLiteral("LibraryToggle: pressed book_open"),
        QStringLiteral("RecipeList: visible [%1] selected %2")
            .arg(names.join(QLatin1String(", ")))
            .arg(selected),
        QStringLiteral("ViewToggle: visible released book_next"),
        QStringLiteral("RecipeText: hidden ''"),
        QStringLiteral("AuthorLine: ") + author,
    }
        .join(QLatin1Char('\n'));
}

QString recipeShown(const QStringList& names, int selected, const QString& text,
                    const QString& author) {
    return QStringList{
        QStringLiteral("LibraryToggle: pressed book_open"),
        QStringLiteral("RecipeList: visible [%1] selected %2")
            .arg(names.join(QLatin1String(", ")))
            .arg(selected),
        QStringLiteral("ViewToggle: visible pressed book_previous"),
        QStringLiteral("RecipeText: visible ") + quoted(text),
        QStringLiteral("AuthorLine: ") + author,
    }
        .join(QLatin1Char('\n'));
}

QStringList toQStrings(const std::vector<std::string>& lines) {
    QStringList result;
    for (const std::string& line : lines)
        result.append(QString::fromStdString(line));
    return result;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(installGermanTranslations(*qApp)); }

    void opensAsDescribed() {
        UiFixture fixture;
        writeIcons(fixture.iconDir());
        Window w(fixture.services());
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));

        QCOMPARE(w.window.objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(w.window.windowTitle(), QStringLiteral("Quendelin"));
        QVERIFY(w.window.isWindow());
        QCOMPARE(w.window.size(), QSize(600, 500));
        QCOMPARE(w.window.minimumSize(), QSize(600, 500));
        QCOMPARE(w.window.maximumSize(), QSize(600, 500));
        const Qt::WindowFlags flags = w.window.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!w.window.windowIcon().isNull());
        QVERIFY(w.window.testAttribute(Qt::WA_AlwaysShowToolTips));

        // The toolbar: over the top strip, above the first control, fixed, three pictures.
        QVERIFY(w.toolBar);
        QCOMPARE(w.toolBar->geometry().topLeft(), QPoint(0, 0));
        QCOMPARE(w.toolBar->width(), 600);
        QVERIFY(!w.toolBar->isMovable());
        QVERIFY(!w.toolBar->isFloatable());
        QCOMPARE(w.toolBar->contextMenuPolicy(), Qt::PreventContextMenu);
        struct Button {
            const char* name;
            QString tip;
            const char* picture;
        };
        const std::vector<Button> buttons = {
            {"NewRecipeButton", QStringLiteral("Neues Rezept erstellen"), "page_green"},
            {"RefreshButton", QStringLiteral("Rezept-Bibliothek aktuallisieren"),
             "database_refresh"},
            {"AboutButton", QStringLiteral("Über Quendelin"), "brick"},
        };
        int previousX = -1;
        for (const Button& expected : buttons) {
            QToolButton* button = w.toolButton(expected.name);
            QVERIFY2(button, expected.name);
            QVERIFY(button->isVisible());
            QVERIFY2(button->x() > previousX, expected.name);
            // The buttons stand above the first control, which starts at y 35.
            QVERIFY2(button->mapTo(&w.window, button->rect().bottomLeft()).y() < 35, expected.name);
            previousX = button->x();
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
            QCOMPARE(button->toolTip(), expected.tip);
            QCOMPARE(button->accessibleName(), expected.tip);
            QVERIFY(!button->isCheckable());
            QCOMPARE(face(button->icon()), QLatin1String(expected.picture));
        }

        struct Control {
            QWidget* widget;
            QRect geometry;
        };
        for (const Control& control : std::vector<Control>{
                 {w.libraryToggle, QRect(30, 35, 40, 40)},
                 {w.recipeList, QRect(30, 90, 200, 400)},
                 {w.viewToggle, QRect(240, 90, 40, 40)},
                 {w.recipeText, QRect(300, 90, 280, 400)},
             }) {
            QVERIFY(control.widget);
            QCOMPARE(control.widget->geometry(), control.geometry);
        }
        QVERIFY(!w.libraryToggle->accessibleName().isEmpty());
        QVERIFY(!w.viewToggle->accessibleName().isEmpty());
        QCOMPARE(describe(w), libraryClosed());
    }

    // Every way through the three display states, each step checked against what the user
    // should see.
    void displayStatesAndTransitions() {
        UiFixture fixture;
        writeIcons(fixture.iconDir());
        writeBytes(fixture.library / "Apfelkuchen.rezept", simpleRecipe("Apfelkuchen", "Oma"));
        writeBytes(fixture.library / "Bohnensuppe.rezept", simpleRecipe("Bohnensuppe", "Opa"));
        writeBytes(fixture.library / "notiz.txt", "kein Rezept");
        const auto listed = RecipeLibrary::list(fixture.library.path());
        QCOMPARE(listed.size(), std::size_t{2});
        const QStringList names = toQStrings(listed);
        const auto textOf = [&](int row) {
            const auto lines = RecipeView::compose(fixture.library.path(), listed.at(row));
            return toQStrings(lines->viewer).join(QLatin1Char('\n'));
        };
        const auto authorOf = [&](int row) {
            const auto lines = RecipeView::compose(fixture.library.path(), listed.at(row));
            return QStringLiteral("visible ") +
                   quoted(toQStrings(lines->author).join(QLatin1Char('\n')));
        };
        const QString hiddenEmpty = QStringLiteral("hidden ''");

        struct Step {
            std::function<void(Window&)> act;
            QString expected;
        };
        struct Case {
            const char* what;
            std::vector<Step> steps;
        };
        const auto library = [](Window& w) { w.clickLibrary(); };
        const auto view = [](Window& w) { w.clickView(); };
        const auto select = [](int row) { return [row](Window& w) { w.select(row); }; };

        const std::vector<Case> cases = {
            {"library on, off and on again lists each name once",
             {{library, libraryOpen(names)},
              {library, libraryClosed()},
              {library, libraryOpen(names)}}},
            {"view with nothing selected shows an empty text and no author line",
             {{library, libraryOpen(names)},
              {view, recipeShown(names, -1, QString(), QStringLiteral("absent"))},
              {view, libraryOpen(names)}}},
            {"another selection while a recipe is shown changes nothing until shown again",
             {{library, libraryOpen(names)},
              {select(0), libraryOpen(names, 0)},
              {view, recipeShown(names, 0, textOf(0), authorOf(0))},
              {select(1), recipeShown(names, 1, textOf(0), authorOf(0))},
              {view, libraryOpen(names, 1, hiddenEmpty)},
              {view, recipeShown(names, 1, textOf(1), authorOf(1))}}},
            {"library off while a recipe is shown resets the view",
             {{library, libraryOpen(names)},
              {select(1), libraryOpen(names, 1)},
              {view, recipeShown(names, 1, textOf(1), authorOf(1))},
              {library, libraryClosed(hiddenEmpty)},
              {library, libraryOpen(names, -1, hiddenEmpty)},
              {view, recipeShown(names, -1, QString(), hiddenEmpty)}}},
        };

        for (const Case& testCase : cases) {
            Window w(fixture.services());
            QCOMPARE(describe(w), libraryClosed());
            int number = 0;
            for (const Step& step : testCase.steps) {
                step.act(w);
                ++number;
                const QString seen = describe(w);
                if (seen != step.expected)
                    qWarning("%s, step %d", testCase.what, number);
                QCOMPARE(seen, step.expected);
            }
            QVERIFY(fixture.messages->empty());
        }
    }

    // The bytes of a recipe file become the lines on screen: Windows-1252 umlauts, headings,
    // the author line on its own.
    void showsTheRecipeFileAsText() {
        UiFixture fixture;
        writeBytes(fixture.library / "Suppe.rezept",
                   recipeFile({{"Kartoffelsuppe"},
                               {"Kartoffeln 1kg", "W\xfcrstchen 4"},
                               {"Sch\xe4len und kochen."},
                               {"Hei\xdf servieren!"},
                               {"Gro\xdfmutter"}}));
        Window w(fixture.services());
        w.clickLibrary();
        w.select(0);
        w.clickView();

        QCOMPARE(w.recipeText->toPlainText(),
                 QStringLiteral("\nKartoffelsuppe\n"
                                "=============================\nZUTATEN:\n\n"
                                "Kartoffeln 1kg\nWürstchen 4\n"
                                "=============================\nZUBEREITUNG:\n"
                                "Schälen und kochen.\n"
                                "=============================\nBEMERKUNGEN:\n"
                                "Heiß servieren!"));
        QPlainTextEdit* author = w.authorLine();
        QVERIFY(author);
        QCOMPARE(author->toPlainText(), QStringLiteral("AUTOR: Großmutter"));
        QCOMPARE(author->parentWidget(), &w.window);
        QCOMPARE(author->geometry(), QRect(300, 60, 280, 20));
        QVERIFY(author->isVisible());
        QVERIFY(author->isReadOnly());
    }

    void authorLineHoldsEveryAuthorLine_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("author");
        QTest::newRow("no author: shown empty")
            << QByteArray::fromStdString(recipeFile({{"T"}, {}, {}, {}, {}})) << QString();
        QTest::newRow("one empty line")
            << QByteArray::fromStdString(recipeFile({{"T"}, {}, {}, {}, {""}}))
            << QStringLiteral("AUTOR: ");
        QTest::newRow("two lines")
            << QByteArray::fromStdString(recipeFile({{"T"}, {}, {}, {}, {"Anna", "Bert"}}))
            << QStringLiteral("AUTOR: Anna\nAUTOR: Bert");
    }
    void authorLineHoldsEveryAuthorLine() {
        QFETCH(QByteArray, file);
        QFETCH(QString, author);
        UiFixture fixture;
        writeBytes(fixture.library / "T.rezept", file.toStdString());
        Window w(fixture.services());
        w.clickLibrary();
        w.select(0);
        w.clickView();

        QPlainTextEdit* line = w.authorLine();
        QVERIFY(line);
        QVERIFY(line->isVisible());
        QCOMPARE(line->toPlainText(), author);
    }

    // Each shown recipe gets a new author line; the previous one is gone, not just emptied.
    void everyShownRecipeReplacesTheAuthorLine() {
        UiFixture fixture;
        writeBytes(fixture.library / "A.rezept", simpleRecipe("A", "Anna"));
        writeBytes(fixture.library / "B.rezept", simpleRecipe("B", "Bert"));
        Window w(fixture.services());
        w.clickLibrary();
        w.select(0);
        w.clickView();
        QPointer<QPlainTextEdit> first = w.authorLine();
        QVERIFY(first);
        const QString firstText = first->toPlainText();

        w.clickView();
        w.select(1);
        w.clickView();

        QVERIFY(first.isNull());
        QCOMPARE(w.authorLines().size(), 1);
        QPlainTextEdit* second = w.authorLine();
        QVERIFY(second->isVisible());
        QVERIFY(second->toPlainText() != firstText);
        QVERIFY(second->toPlainText().startsWith(QStringLiteral("AUTOR: ")));
    }

    // A recipe that cannot be opened shows an empty text and leaves the author line alone.
    void recipeThatCannotBeOpened_data() {
        QTest::addColumn<bool>("deleteFile");
        QTest::addColumn<bool>("replaceByFolder");
        QTest::newRow("file deleted after listing") << true << false;
        QTest::newRow("a folder named like a recipe") << false << true;
    }
    void recipeThatCannotBeOpened() {
        QFETCH(bool, deleteFile);
        QFETCH(bool, replaceByFolder);
        UiFixture fixture;
        writeBytes(fixture.library / "A.rezept", simpleRecipe("A", "Anna"));
        writeBytes(fixture.library / "B.rezept", simpleRecipe("B", "Bert"));
        Window w(fixture.services());
        w.clickLibrary();
        w.select(0);
        w.clickView();
        w.clickView();
        QPointer<QPlainTextEdit> before = w.authorLine();
        QVERIFY(before);
        const std::string other = RecipeLibrary::list(fixture.library.path()).at(1);
        if (deleteFile || replaceByFolder)
            std::filesystem::remove(fixture.library / other);
        if (replaceByFolder)
            std::filesystem::create_directory(fixture.library / other);

        w.select(1);
        w.clickView();

        QVERIFY(w.recipeText->isVisible());
        QCOMPARE(w.recipeText->toPlainText(), QString());
        QCOMPARE(w.authorLine(), before.data());
        QVERIFY(!before->isVisible());
        QCOMPARE(before->toPlainText(), QString());
        QVERIFY(fixture.messages->empty());
    }

    // Local names are the platform's bytes; one that is not UTF-8 is shown as well as it can
    // be and still opens.
    void namesThatAreNotUtf8StillOpen() {
        UiFixture fixture;
        writeBytes(fixture.library / "K\xe4se.rezept", simpleRecipe("Latin-1", "L"));
        writeBytes(fixture.library / "K\xc3\xa4se.rezept", simpleRecipe("UTF-8", "U"));
        Window w(fixture.services());
        w.clickLibrary();
        QCOMPARE(w.recipeList->count(), 2);

        QStringList titles;
        for (int row = 0; row < 2; ++row) {
            w.select(row);
            w.clickView();
            titles.append(w.recipeText->toPlainText().section(QLatin1Char('\n'), 1, 1));
            const QString name = w.recipeList->item(row)->text();
            if (titles.back() == QStringLiteral("UTF-8"))
                QCOMPARE(name, QStringLiteral("Käse.rezept"));
            else
                QVERIFY2(name.startsWith(QStringLiteral("K")) &&
                             name.endsWith(QStringLiteral("se.rezept")),
                         qPrintable(name));
            w.clickView();
        }
        titles.sort();
        QCOMPARE(titles, (QStringList{QStringLiteral("Latin-1"), QStringLiteral("UTF-8")}));
    }

    // Without pictures the program works as usual, with empty faces and all tooltips.
    void missingOrBrokenPicturesLeaveEmptyFaces_data() {
        QTest::addColumn<bool>("brokenFiles");
        QTest::newRow("folder icons missing") << false;
        QTest::newRow("every file broken") << true;
    }
    void missingOrBrokenPicturesLeaveEmptyFaces() {
        QFETCH(bool, brokenFiles);
        UiFixture fixture;
        if (brokenFiles) {
            std::filesystem::create_directories(fixture.iconDir());
            for (const auto& [name, colour] : iconColours())
                writeBytes(fixture.iconDir() / name, "\x89PNG\r\n\x1a\n broken");
        }
        writeBytes(fixture.library / "A.rezept", simpleRecipe("A", "Anna"));
        Window w(fixture.services());

        for (const char* name : {"NewRecipeButton", "RefreshButton", "AboutButton"}) {
            QToolButton* button = w.toolButton(name);
            QVERIFY2(button && button->isVisible(), name);
            QVERIFY(button->icon().isNull());
            QVERIFY(!button->toolTip().isEmpty());
        }
        QVERIFY(w.libraryToggle->icon().isNull());
        w.clickLibrary();
        QVERIFY(w.libraryToggle->icon().isNull());
        QVERIFY(w.recipeList->isVisible());
        w.select(0);
        w.clickView();
        QVERIFY(w.viewToggle->icon().isNull());
        QVERIFY(w.recipeText->toPlainText().contains(QStringLiteral("ZUTATEN:")));
        QVERIFY(w.authorLine());

        // The about dialog also opens without its logo.
        QSize logo(-1, -1);
        whenModalOpens<AboutDialog>([&logo](AboutDialog& dialog) {
            logo = dialog.findChild<QWidget*>(QStringLiteral("AboutLogo"))->size();
            dialog.accept();
        });
        w.toolButton("AboutButton")->click();
        QCOMPARE(logo, QSize(0, 0));
    }

    void refreshReportsWhetherTheServerWasReached() {
        UiFixture fixture;
        TempDir home;
        std::filesystem::create_directory(home / "zeb");
        writeBytes(home.path() / "zeb" / "Neu.rezept", simpleRecipe("Neu", "Server"));
        const auto server = FtpServer::start(FtpServer::Kind::Pyftpdlib, home.path());
        writeBytes(fixture.library / "Alt.rezept", simpleRecipe("Alt", "Lokal"));
        Window w(fixture.services(server->account()));
        w.clickLibrary();
        const QString before = describe(w);

        w.toolButton("RefreshButton")->click();

        QCOMPARE(fixture.messages->size(), std::size_t{1});
        QCOMPARE(fixture.messages->back().text, updatedText);
        QCOMPARE(fixture.messages->back().parent.data(), &w.window);
        QCOMPARE(readBytes(fixture.library / "Neu.rezept"), simpleRecipe("Neu", "Server"));
        // The open list stays as it was; the new file shows when the library opens again.
        QCOMPARE(describe(w), before);
        w.clickLibrary();
        w.clickLibrary();
        QCOMPARE(w.recipeList->count(), 2);
    }

    void refreshWithoutConnectionSaysSoOnTwoLines() {
        UiFixture fixture;
        ClosedPort closed;
        writeBytes(fixture.library / "A.rezept", simpleRecipe("A", "Anna"));
        Window w(fixture.services(closed.account()));
        w.clickLibrary();
        w.select(0);
        w.clickView();
        const QString before = describe(w);

        w.toolButton("RefreshButton")->click();

        QCOMPARE(fixture.messages->size(), std::size_t{1});
        QCOMPARE(fixture.messages->back().text, noConnectionText);
        QCOMPARE(fixture.messages->back().text.count(QLatin1Char('\n')), 1);
        QCOMPARE(fixture.messages->back().parent.data(), &w.window);
        QCOMPARE(describe(w), before);
    }

    // While a dialog is open the window takes no input; afterwards it is active again, in the
    // state it had, and a recipe shown then puts its author line into the main window.
    void dialogsBlockTheWindowAndGiveItBack_data() {
        QTest::addColumn<QString>("button");
        QTest::newRow("about") << QStringLiteral("AboutButton");
        QTest::newRow("new recipe") << QStringLiteral("NewRecipeButton");
    }
    void dialogsBlockTheWindowAndGiveItBack() {
        QFETCH(QString, button);
        UiFixture fixture;
        writeIcons(fixture.iconDir());
        writeBytes(fixture.library / "A.rezept", simpleRecipe("A", "Anna"));
        writeBytes(fixture.library / "B.rezept", simpleRecipe("B", "Bert"));
        Window w(fixture.services());
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.clickLibrary();
        w.select(0);
        w.clickView();
        const QString before = describe(w);
        const QPoint libraryCentre = w.libraryToggle->geometry().center();

        QString opened;
        bool applicationModal = false, separateWindow = false;
        QString whileOpen;
        whenModalOpens<QDialog>([&](QDialog& dialog) {
            opened = dialog.metaObject()->className();
            applicationModal = dialog.windowModality() == Qt::ApplicationModal;
            separateWindow = dialog.isWindow() && dialog.window() != &w.window;
            // A real click, through the window system, on the library toggle.
            QTest::mouseClick(w.window.windowHandle(), Qt::LeftButton, {}, libraryCentre);
            whileOpen = describe(w);
            dialog.close();
        });
        w.window.findChild<QToolButton*>(button)->click();

        QVERIFY2(opened.endsWith(button == QStringLiteral("AboutButton")
                                     ? QStringLiteral("AboutDialog")
                                     : QStringLiteral("NewRecipeDialog")),
                 qPrintable(opened));
        QVERIFY(applicationModal);
        QVERIFY(separateWindow);
        QCOMPARE(whileOpen, before);
        QCOMPARE(describe(w), before);
        QTRY_COMPARE(QApplication::activeWindow(), &w.window);

        // The same click reaches the window now that the dialog is gone.
        QTest::mouseClick(w.window.windowHandle(), Qt::LeftButton, {}, libraryCentre);
        QVERIFY(!w.libraryToggle->isChecked());
        w.clickLibrary();
        w.select(1);
        w.clickView();
        QCOMPARE(w.authorLines().size(), 1);
        QCOMPARE(w.authorLine()->window(), &w.window);
        QCOMPARE(w.authorLine()->parentWidget(), &w.window);
    }

    void tabMovesThroughTheVisibleControlsInOrder() {
        UiFixture fixture;
        writeBytes(fixture.library / "A.rezept", simpleRecipe("A", "Anna"));
        Window w(fixture.services());
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.clickLibrary();
        w.select(0);
        w.clickView();
        w.libraryToggle->setFocus();

        QStringList order;
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order.append(QApplication::focusWidget()->objectName());
        }
        QCOMPARE(order, (QStringList{QStringLiteral("RecipeList"), QStringLiteral("ViewToggle"),
                                     QStringLiteral("RecipeText"), QStringLiteral("AuthorLine"),
                                     QStringLiteral("LibraryToggle")}));
    }

    // The recipe can be read, selected and copied, in German menus, but not changed.
    void recipeTextIsReadOnlyWithGermanMenu() {
        UiFixture fixture;
        writeBytes(fixture.library / "A.rezept", simpleRecipe("A", "Anna"));
        Window w(fixture.services());
        w.clickLibrary();
        w.select(0);
        w.clickView();
        const QString before = w.recipeText->toPlainText();

        w.recipeText->setFocus();
        QTest::keyClicks(w.recipeText, QStringLiteral("xyz"));
        QTest::keyClick(w.recipeText, Qt::Key_Delete);
        QCOMPARE(w.recipeText->toPlainText(), before);

        for (QPlainTextEdit* text : {w.recipeText, w.authorLine()}) {
            std::unique_ptr<QMenu> menu(text->createStandardContextMenu());
            QStringList entries;
            for (const QAction* action : menu->actions())
                entries.append(action->text().section(QLatin1Char('\t'), 0, 0));
            QVERIFY2(entries.contains(QStringLiteral("&Kopieren")), qPrintable(entries.join(", ")));
            QVERIFY2(entries.contains(QStringLiteral("Alles auswählen")),
                     qPrintable(entries.join(", ")));
        }
    }

    void closingWhileARecipeIsShownAsksNothing() {
        UiFixture fixture;
        writeBytes(fixture.library / "A.rezept", simpleRecipe("A", "Anna"));
        Window w(fixture.services());
        w.clickLibrary();
        w.select(0);
        w.clickView();

        QVERIFY(w.window.close());
        QVERIFY(!w.window.isVisible());
        QVERIFY(fixture.messages->empty());
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
