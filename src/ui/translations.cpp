#include "ui/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace zafrel::ui {

void installSpanishTranslations()
{
    static QTranslator* installed = nullptr;
    if (installed || !QCoreApplication::instance())
        return;
    auto* translator = new QTranslator(QCoreApplication::instance());
    // "qt_es" brings in the catalogues of every Qt module the system has, qtbase's among them.
    if (!translator->load(QStringLiteral("qt_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
}

}  // namespace zafrel::ui
