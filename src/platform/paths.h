#pragma once
#include <QString>

#include <optional>

namespace zafrel::paths {

// The program's folder in the user's data directory (~/.local/share/Zafrel, or below
// XDG_DATA_HOME). Created, with missing parents, on every call; a failure is ignored and later
// reads and writes there fail on their own.
QString dataDir();

// Why the program has no place of its own for its files, or nothing when it has one: the settings
// and the data folder are found through XDG_CONFIG_HOME and XDG_DATA_HOME when they are absolute
// paths, else under HOME, which must then be an absolute path to a folder. Without it they would
// land under "/" (Qt's fallback) or nowhere, so the program says why (one line, Spanish) and stops.
// So it does when the data folder cannot be made (the queue and the session live there); the
// settings' folder is not needed for a run.
std::optional<QString> homeProblem();

}  // namespace zafrel::paths
