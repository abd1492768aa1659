#include "ui/report_archive.h"

#include "platform/paths.h"

#include <QDir>
#include <QFile>
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
    // Paths and names of a shoot are this account's business, whatever the umask.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(text.toUtf8());
    return file.commit();
}

QString archiveReport(const QString& text, const QDateTime& when)
{
    const QString dir = reportsDir();
    if (!QDir().mkpath(dir))
        return {};
    QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString stem = dir + QStringLiteral("/informe-") + when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    QString path = stem + QStringLiteral(".txt");
    // Two runs in one second (a retry that ends at once) keep both reports.
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = stem + QStringLiteral("-%1.txt").arg(n);
    return writeReportFile(path, text) ? path : QString();
}

}  // namespace zafrel::ui
