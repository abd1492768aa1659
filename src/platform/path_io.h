#pragma once
#include <QString>

#include <sys/stat.h>

namespace zafrel {

// open(2) and stat(2) of a local path that also work when the path is longer than PATH_MAX (a
// camera card copied a few folders deep under long names): such a path is resolved one folder at
// a time, each opened relative to its parent. Both answer what the system call answers (-1 and
// errno on failure); symbolic links are followed as the system call would.
int openPath(const QString& path, int flags);
int statPath(const QString& path, struct stat& st);

}  // namespace zafrel
