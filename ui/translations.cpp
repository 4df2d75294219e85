#include "translations.hpp"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace quendelin {

bool installGermanTranslations(QCoreApplication& app) {
    const QLocale german(QLocale::German, QLocale::Germany);
    QLocale::setDefault(german);

    auto* translator = new QTranslator(&app);
    if (!translator->load(german, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace quendelin
