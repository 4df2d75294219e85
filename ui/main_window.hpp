#pragma once

#include "server_session.hpp"
#include "ui_services.hpp"

#include <QIcon>
#include <QPointer>
#include <QWidget>

class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QToolBar;

namespace quendelin {

// The program's window: a toolbar (new recipe, refresh, about) and the recipe browser.
//
// Display states, kept only in the controls:
//   library closed - LibraryToggle released; list, ViewToggle and text hidden
//   library open   - LibraryToggle pressed; list and ViewToggle shown, text hidden
//   recipe shown   - ViewToggle pressed too; RecipeText and AuthorLine shown
class MainWindow : public QWidget {
    Q_OBJECT

public:
    MainWindow(UiServices services, ServerSession& session, QWidget* parent = nullptr);

private:
    void libraryToggled();
    void viewToggled();
    void refresh();
    void newRecipe();
    void about();

    void libraryOn();
    void libraryOff();
    void viewOn();
    void viewOff();
    void showAuthor(const QString& text);
    void backFromDialog();

    UiServices services_;
    ServerSession& session_;

    QIcon libraryClosedIcon_, libraryOpenIcon_, viewOffIcon_, viewOnIcon_;

    QToolBar* toolBar_;
    QPushButton* libraryToggle_;
    QListWidget* recipeList_;
    QPushButton* viewToggle_;
    QPlainTextEdit* recipeText_;
    // Made anew for every recipe shown; absent until the first one.
    QPointer<QPlainTextEdit> authorLine_;
};

} // namespace quendelin
