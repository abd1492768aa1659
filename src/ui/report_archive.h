#pragma once
#include <QDateTime>
#include <QString>

namespace zafrel::ui {

// The folder where every run's report is kept: "informes" in the data folder.
QString reportsDir();

// Writes `text` as a new file in reportsDir() named by `when` (local time,
// "informe-2026-12-06_21-15-00.txt"), never replacing an earlier one. Answers the file's path, or
// empty text when it could not be written.
QString archiveReport(const QString& text, const QDateTime& when);

// Writes `text` to `path` exactly, replacing the file whole or not at all.
bool writeReportFile(const QString& path, const QString& text);

}  // namespace zafrel::ui
