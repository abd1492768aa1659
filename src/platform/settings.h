#pragma once
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace zafrel::settings {

// The user defaults: "serverURL", "email", "destDir" and the window's keys. QSettings under
// organisation and application "Zafrel" (on Linux ~/.config/Zafrel/Zafrel.conf, mode 0600, moved
// by XDG_CONFIG_HOME). Main thread only.
//
// The file is read once, at the first use, and kept: a change another process makes later is not
// seen by this one. Setting a key to the value it already holds does not write the file.
//
// A value set by this process is what this process reads back, also when the file could not take
// it: every QSettings of one process shares one view of the file, changes not yet written
// included, so a run given "--server" on a full disk does not sign in to the stored or built-in
// server instead. QSettings replaces the file whole (a temporary file, then a rename, under its
// own lock file) or not at all, so a failed write leaves the old file as it was; setValue checks
// the outcome and tells a failure to WriteFailures. The file is kept in QSettings' own format,
// which the window and earlier versions read.
std::optional<QString> value(const QString& key);
// Answers whether the file took the value.
bool setValue(const QString& key, const QString& value);
// Several keys in one write of the file; answers whether the file took them.
bool setValues(const QList<std::pair<QString, QString>>& values);

}  // namespace zafrel::settings
