#pragma once
#include <QString>

namespace zafrel::paths {

// The program's folder in the user's data directory (~/.local/share/Zafrel, or below
// XDG_DATA_HOME). Created, with missing parents, on every call; a failure is ignored and later
// reads and writes there fail on their own.
QString dataDir();

}  // namespace zafrel::paths
