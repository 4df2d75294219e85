#include "message_box.hpp"

#include "icon_loader.hpp"

#include <QApplication>
#include <QMessageBox>

namespace quendelin {

void showMessageBox(QWidget* parent, const QString& text) {
    if (parent == nullptr)
        parent = QApplication::activeModalWidget();
    if (parent == nullptr)
        parent = QApplication::activeWindow();

    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("Quendelin"));
    box.setWindowIcon(IconLoader::applicationIcon());
    box.setIcon(QMessageBox::NoIcon);
    // Plain text always, so that a line feed is a line break and nothing is read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace quendelin
