#include "new_recipe_dialog.hpp"

#include "messages.hpp"
#include "recipe.hpp"
#include "recipe_publisher.hpp"
#include "server_session.hpp"

#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTextDocument>
#include <QValidator>
#include <QWindow>
#include <algorithm>

namespace quendelin {

namespace {

QLabel* addLabel(QWidget* parent, const QString& text, int x, int y, int width, int height) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, width, height);
    // Text starts in the top-left corner and wraps at word boundaries, like a plain static
    // text; a QLabel would otherwise centre it vertically.
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    return label;
}

bool isLineBreak(QChar c) {
    return c == u'\r' || c == u'\n' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

// Keeps a one-line field on one line. Qt's line edit takes line breaks from the clipboard or a
// drop as they come, but a title with a line break cannot name a file, and an author with one
// breaks the layout of the recipe file. The field never holds a break, so every break came
// with the text that was just put in, which ends at the cursor; like the system's one-line
// fields, keep what came before the first break and drop the rest of that text.
class OneLineValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override {
        const auto first = std::find_if(input.cbegin(), input.cend(), isLineBreak);
        if (first == input.cend())
            return Acceptable;
        const auto last = std::find_if(input.crbegin(), input.crend(), isLineBreak).base();
        const int from = static_cast<int>(first - input.cbegin());
        const int to = std::max(pos, static_cast<int>(last - input.cbegin()));
        input.remove(from, to - from);
        pos = from;
        return Acceptable;
    }
};

// The one-line fields are 15 pixels high, made for a smaller desktop font than Linux's
// usual one: at that font the frame cuts off the dots of Ä, Ö and Ü, and "Öhler" reads as
// "Ohler". The font shrinks, a pixel at a time, until a whole line fits inside the frame.
void fitFontInside(QLineEdit& field) {
    const int room = field.height() - 2; // the frame's line above and below the text
    QFont font = field.font();
    int pixels = QFontInfo(font).pixelSize();
    while (QFontMetrics(font).height() > room && pixels > 8) {
        font.setPixelSize(--pixels);
    }
    field.setFont(font);
}

QLineEdit* addLineField(QWidget* parent, const char* name, int x, int y) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setGeometry(x, y, 200, 15);
    field->setValidator(new OneLineValidator(field));
    fitFontInside(*field);
    return field;
}

QPlainTextEdit* addTextField(QWidget* parent, const char* name, int x, int y, int height) {
    auto* field = new QPlainTextEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setGeometry(x, y, 250, height);
    // Lines stay as typed and scroll sideways; Tab is a character of the text.
    field->setLineWrapMode(QPlainTextEdit::NoWrap);
    field->setTabChangesFocus(false);
    return field;
}

// The document's raw text, not toPlainText(): that one turns no-break spaces into ordinary
// spaces, and the recipe must hold exactly what the user typed. Paragraphs (Enter) and line
// separators (Shift+Enter) both become the CR LF of the recipe file.
std::string multiLineText(const QPlainTextEdit* field) {
    QString text = field->document()->toRawText();
    text.replace(QChar(QChar::ParagraphSeparator), QStringLiteral("\r\n"));
    text.replace(QChar(QChar::LineSeparator), QStringLiteral("\r\n"));
    return text.toStdString();
}

} // namespace

NewRecipeDialog::NewRecipeDialog(const UiServices& services, ServerSession& session,
                                 QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
    , services_(services)
    , session_(session) {
    setObjectName(QStringLiteral("NewRecipeDialog"));
    setWindowTitle(QStringLiteral("Neues Rezept..."));
    setFixedSize(500, 500);

    // Created in this order, which is also the order in which Tab walks through them.
    addLabel(this, QStringLiteral("Rezept-Titel:"), 50, 10, 100, 15);
    titleField_ = addLineField(this, "TitleField", 130, 8);
    addLabel(this, QStringLiteral("Autor-Name:"), 50, 27, 100, 20);
    authorField_ = addLineField(this, "AuthorField", 130, 25);
    addLabel(this, QStringLiteral("Zutaten (Zutat Menge):\n(Beispiel löschen!)"), 50, 50, 200, 30);
    ingredientsField_ = addTextField(this, "IngredientsField", 50, 80, 100);
    ingredientsField_->appendPlainText(QStringLiteral("Kartoffeln 30kg"));
    addLabel(this, QStringLiteral("Zubereitung:"), 50, 185, 200, 15);
    preparationField_ = addTextField(this, "PreparationField", 50, 200, 150);
    addLabel(this, QStringLiteral("Bemerkungen:"), 50, 360, 200, 20);
    remarksField_ = addTextField(this, "RemarksField", 50, 380, 100);
    doneButton_ = new QPushButton(QStringLiteral("Fertig"), this);
    doneButton_->setObjectName(QStringLiteral("DoneButton"));
    doneButton_->setGeometry(350, 400, 100, 35);
    // No default button: Enter in a field must never publish a half-written recipe.
    doneButton_->setAutoDefault(false);
    doneButton_->setDefault(false);
    connect(doneButton_, &QPushButton::clicked, this, &NewRecipeDialog::publish);

    for (QPlainTextEdit* field : {ingredientsField_, preparationField_, remarksField_})
        field->installEventFilter(this);
}

void NewRecipeDialog::done(int result) {
    QDialog::done(result);
    // Once the dialog is gone the user continues in the window that opened it, whichever
    // window the platform would pick on its own.
    if (QWidget* owner = parentWidget())
        owner->window()->activateWindow();
}

void NewRecipeDialog::keyPressEvent(QKeyEvent* event) {
    // Escape is no close request here: it would throw the user's recipe away. Enter
    // arriving from a one-line field presses nothing.
    if (event->matches(QKeySequence::Cancel) || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool NewRecipeDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle()) {
        if (event->type() == QEvent::Expose && windowHandle()->isExposed()) {
            watched->removeEventFilter(this);
            centreOnScreen();
        }
        return QDialog::eventFilter(watched, event);
    }
    // The multi-line fields keep Tab as a character; Shift+Tab still leaves them backwards,
    // so the keyboard never gets stuck in a field.
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool backtab =
            key->key() == Qt::Key_Backtab ||
            (key->key() == Qt::Key_Tab && key->modifiers().testFlag(Qt::ShiftModifier));
        const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (backtab && plain) {
            focusNextPrevChild(false);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void NewRecipeDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    centreOnScreen();
    // A window manager makes its frame known only once the window is on the screen; the
    // dialog is placed again then, so that the whole window, frame included, is centred.
    if (QWindow* window = windowHandle())
        window->installEventFilter(this);
}

void NewRecipeDialog::centreOnScreen() {
    // On the screen, not over the main window.
    QRect frame = frameGeometry();
    frame.moveCenter(screen()->availableGeometry().center());
    move(frame.topLeft());
}

Recipe NewRecipeDialog::gather() const {
    Recipe recipe;
    recipe.title = titleField_->text().toStdString();
    recipe.ingredients = multiLineText(ingredientsField_);
    recipe.preparation = multiLineText(preparationField_);
    recipe.remarks = multiLineText(remarksField_);
    recipe.author = authorField_->text().toStdString();
    return recipe;
}

void NewRecipeDialog::publish() {
    // The message boxes shown while publishing run event loops of their own; a second press
    // must not start a second publication inside the first.
    if (publishing_)
        return;
    publishing_ = true;
    const PublishOutcome outcome = RecipePublisher::publish(
        session_, services_.account, services_.libraryDir, services_.workDir, gather(),
        [this] { services_.showMessage(this, Messages::recipeUploaded()); });
    publishing_ = false;

    switch (outcome) {
    case PublishOutcome::NotConnected:
        services_.showMessage(this, Messages::noConnection());
        break;
    case PublishOutcome::NameTaken:
        services_.showMessage(this, Messages::nameTaken());
        break;
    case PublishOutcome::NotSaved:
        services_.showMessage(this, Messages::recipeNotSaved());
        break;
    case PublishOutcome::NotUploaded:
        services_.showMessage(this, Messages::recipeNotUploaded());
        break;
    case PublishOutcome::PublishedAndRefreshed:
        services_.showMessage(this, Messages::libraryUpdated());
        accept();
        break;
    case PublishOutcome::PublishedNotRefreshed:
        accept();
        break;
    }
}

} // namespace quendelin
