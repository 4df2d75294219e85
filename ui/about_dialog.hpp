#pragma once

#include "ui_services.hpp"

#include <QDialog>
#include <QStringList>

namespace quendelin {

// The program's name, credits, thanks, a contact address and the version. Modal: the main
// window takes no input while it is open.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    AboutDialog(const UiServices& services, QWidget* parent = nullptr);

    // The lines of the text, top to bottom.
    static QStringList lines();
};

} // namespace quendelin
