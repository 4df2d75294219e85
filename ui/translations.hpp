#pragma once

class QCoreApplication;

namespace quendelin {

// Makes Qt's own texts German (the context menus of the texts, the message box's button),
// like every text of the program. False when Qt's German translations are not installed;
// the program then runs with Qt's English defaults.
bool installGermanTranslations(QCoreApplication& app);

} // namespace quendelin
