#pragma once

#include <QString>

class QWidget;

namespace quendelin {

// The program's one kind of message: title "Quendelin", the text (a line feed starts a new
// line), one OK button, no icon. It stands over `parent`, the window in front, and keeps
// every window of the program from input until the user dismisses it. With no parent it
// takes the window that is in front at that moment.
void showMessageBox(QWidget* parent, const QString& text);

} // namespace quendelin
