#include "ui/report_archive.h"

#include "platform/paths.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace zafrel::ui {

QString reportsDir()
{
    return paths::dataDir() + QStringLiteral("/informes");
}

bool writeReportFile(const QString& path, const QString& text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.toUtf8());
    return file.commit();
}

QString archiveReport(const QString& text, const QDateTime& when)
{
    const QString dir = reportsDir();
    if (!QDir().mkpath(dir))
        return {};
    const QString stem = dir + QStringLiteral("/informe-") + when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    QString path = stem + QStringLiteral(".txt");
    // Two runs in one second (a retry that ends at once) keep both reports.
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = stem + QStringLiteral("-%1.txt").arg(n);
    return writeReportFile(path, text) ? path : QString();
}

}  // namespace zafrel::ui
