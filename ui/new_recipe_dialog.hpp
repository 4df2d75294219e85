#pragma once

#include "ui_services.hpp"

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace quendelin {

class ServerSession;
struct Recipe;

// Where the user writes a new recipe and publishes it. Each opening is a new object, so no
// input of an earlier opening survives. Run it with exec(): the main window stays blocked
// until the dialog has closed.
class NewRecipeDialog : public QDialog {
    Q_OBJECT
public:
    NewRecipeDialog(const UiServices& services, ServerSession& session, QWidget* parent = nullptr);

    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void centreOnScreen();
    Recipe gather() const;
    void publish();

    const UiServices services_;
    ServerSession& session_;
    QLineEdit* titleField_ = nullptr;
    QLineEdit* authorField_ = nullptr;
    QPlainTextEdit* ingredientsField_ = nullptr;
    QPlainTextEdit* preparationField_ = nullptr;
    QPlainTextEdit* remarksField_ = nullptr;
    QPushButton* doneButton_ = nullptr;
    bool publishing_ = false;
};

} // namespace quendelin
