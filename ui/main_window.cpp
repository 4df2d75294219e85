#include "main_window.hpp"

#include "about_dialog.hpp"
#include "icon_loader.hpp"
#include "library_refresh.hpp"
#include "message_box.hpp"
#include "messages.hpp"
#include "new_recipe_dialog.hpp"
#include "recipe_library.hpp"
#include "recipe_view.hpp"
#include "window_placement.hpp"

#include <QAction>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <string>
#include <utility>
#include <vector>

namespace quendelin {

namespace {

constexpr int toggleIconSide = 25;

// The list shows a name as UTF-8 but opens it by the exact bytes of the directory entry, so
// a name that is not valid UTF-8 can still be opened.
constexpr int rawNameRole = Qt::UserRole;

QString joinLines(const std::vector<std::string>& lines) {
    QStringList joined;
    joined.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines)
        joined.append(QString::fromStdString(line));
    return joined.join(QLatin1Char('\n'));
}

// A read-only text for lines the program puts in: selectable and copyable, never wrapped,
// and Tab moves on instead of being swallowed.
void makeReadOnlyText(QPlainTextEdit& text) {
    text.setReadOnly(true);
    text.setTabChangesFocus(true);
    text.setLineWrapMode(QPlainTextEdit::NoWrap);
}

QPushButton* makeToggle(QWidget* parent, const QString& name, const QIcon& icon, int x, int y) {
    auto* toggle = new QPushButton(parent);
    toggle->setObjectName(name);
    toggle->setGeometry(x, y, 40, 40);
    toggle->setCheckable(true);
    toggle->setIcon(icon);
    toggle->setIconSize(QSize(toggleIconSide, toggleIconSide));
    return toggle;
}

} // namespace

MainWindow::MainWindow(UiServices services, ServerSession& session, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint)
    , services_(std::move(services))
    , session_(session) {
    if (!services_.showMessage)
        services_.showMessage = showMessageBox;

    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Quendelin"));
    setWindowIcon(IconLoader::applicationIcon());
    setFixedSize(600, 500);
    // The toolbar's tooltips help most while the user looks for the right button, which is
    // often before the window has been clicked at all.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    centreOnScreen(*this);

    toolBar_ = new QToolBar(this);
    toolBar_->setObjectName(QStringLiteral("ToolBar"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setContextMenuPolicy(Qt::PreventContextMenu);
    toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);

    const auto addButton = [this](const char* name, const char* file, const QString& tip,
                                  void (MainWindow::*handler)()) {
        QAction* action = toolBar_->addAction(
            IconLoader::toIcon(IconLoader::load(services_.iconDir / file)), tip);
        action->setObjectName(QLatin1String(name));
        action->setToolTip(tip);
        QWidget* button = toolBar_->widgetForAction(action);
        button->setObjectName(QLatin1String(name));
        // Only the picture is shown; a screen reader still has something to say.
        button->setAccessibleName(tip);
        connect(action, &QAction::triggered, this, handler);
    };
    addButton("NewRecipeButton", "page_green.png", QStringLiteral("Neues Rezept erstellen"),
              &MainWindow::newRecipe);
    addButton("RefreshButton", "database_refresh.png",
              QStringLiteral("Rezept-Bibliothek aktuallisieren"), &MainWindow::refresh);
    addButton("AboutButton", "brick.png", QStringLiteral("Über Quendelin"), &MainWindow::about);
    toolBar_->setGeometry(0, 0, width(), toolBar_->sizeHint().height());

    const auto toggleIcon = [this](const char* file) {
        return IconLoader::toIcon(
            IconLoader::loadScaled(services_.iconDir / file, toggleIconSide, toggleIconSide));
    };
    libraryClosedIcon_ = toggleIcon("book.png");
    libraryOpenIcon_ = toggleIcon("book_open.png");
    libraryToggle_ = makeToggle(this, QStringLiteral("LibraryToggle"), libraryClosedIcon_, 30, 35);
    libraryToggle_->setAccessibleName(QStringLiteral("Rezept-Bibliothek"));
    connect(libraryToggle_, &QPushButton::clicked, this, &MainWindow::libraryToggled);

    recipeList_ = new QListWidget(this);
    recipeList_->setObjectName(QStringLiteral("RecipeList"));
    recipeList_->setGeometry(30, 90, 200, 400);
    recipeList_->setSelectionMode(QAbstractItemView::SingleSelection);
    recipeList_->setSortingEnabled(false);
    recipeList_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    recipeList_->hide();

    viewOffIcon_ = toggleIcon("book_next.png");
    viewOnIcon_ = toggleIcon("book_previous.png");
    viewToggle_ = makeToggle(this, QStringLiteral("ViewToggle"), viewOffIcon_, 240, 90);
    viewToggle_->setAccessibleName(QStringLiteral("Rezept anzeigen"));
    viewToggle_->hide();
    connect(viewToggle_, &QPushButton::clicked, this, &MainWindow::viewToggled);

    recipeText_ = new QPlainTextEdit(this);
    recipeText_->setObjectName(QStringLiteral("RecipeText"));
    recipeText_->setGeometry(300, 90, 280, 400);
    makeReadOnlyText(*recipeText_);
    recipeText_->hide();
}

void MainWindow::libraryToggled() {
    if (libraryToggle_->isChecked())
        libraryOn();
    else
        libraryOff();
}

void MainWindow::viewToggled() {
    if (viewToggle_->isChecked())
        viewOn();
    else
        viewOff();
}

void MainWindow::libraryOn() {
    libraryToggle_->setIcon(libraryOpenIcon_);
    recipeList_->show();
    viewToggle_->show();

    recipeList_->clear();
    for (const std::string& name : RecipeLibrary::list(services_.libraryDir)) {
        auto* item = new QListWidgetItem(QString::fromStdString(name));
        item->setData(rawNameRole, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
        recipeList_->addItem(item);
    }
}

void MainWindow::libraryOff() {
    libraryToggle_->setIcon(libraryClosedIcon_);
    recipeList_->hide();
    viewToggle_->hide();
    viewToggle_->setChecked(false);
    viewToggle_->setIcon(viewOffIcon_);
    recipeText_->hide();
    recipeText_->clear();
    if (authorLine_) {
        authorLine_->hide();
        authorLine_->clear();
    }
    recipeList_->clear();
}

void MainWindow::viewOn() {
    viewToggle_->setIcon(viewOnIcon_);
    recipeText_->show();

    std::string name;
    const QList<QListWidgetItem*> selected = recipeList_->selectedItems();
    if (!selected.isEmpty()) {
        const QByteArray raw = selected.front()->data(rawNameRole).toByteArray();
        name.assign(raw.constData(), static_cast<std::size_t>(raw.size()));
    }

    // A recipe that cannot be opened leaves the text empty and the author line as it was.
    const std::optional<RecipeView::Lines> lines = RecipeView::compose(services_.libraryDir, name);
    if (!lines)
        return;
    recipeText_->setPlainText(joinLines(lines->viewer));
    showAuthor(joinLines(lines->author));
}

void MainWindow::viewOff() {
    recipeText_->clear();
    if (authorLine_) {
        authorLine_->clear();
        authorLine_->hide();
    }
    viewToggle_->setIcon(viewOffIcon_);
    recipeText_->hide();
}

void MainWindow::showAuthor(const QString& text) {
    // A new control for every recipe: nothing of the previous recipe's author can linger.
    delete authorLine_;
    auto* line = new QPlainTextEdit(this);
    line->setObjectName(QStringLiteral("AuthorLine"));
    line->setGeometry(300, 60, 280, 20);
    makeReadOnlyText(*line);
    // One line high: scroll bars would cover the line itself. Wheel and keyboard still
    // scroll when the author runs over more than one line.
    line->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    line->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    line->document()->setDocumentMargin(1);
    line->setPlainText(text);
    line->show();
    authorLine_ = line;
}

void MainWindow::refresh() {
    const bool connected = LibraryRefresh::run(session_, services_.account, services_.libraryDir);
    services_.showMessage(this, connected ? Messages::libraryUpdated() : Messages::noConnection());
}

void MainWindow::newRecipe() {
    NewRecipeDialog dialog(services_, session_, this);
    dialog.exec();
    backFromDialog();
}

void MainWindow::about() {
    AboutDialog dialog(services_, this);
    dialog.exec();
    backFromDialog();
}

void MainWindow::backFromDialog() {
    raise();
    activateWindow();
}

} // namespace quendelin
