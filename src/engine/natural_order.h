#pragma once
#include <QStringView>

namespace zafrel {

// The order people expect of file names and paths: runs of digits compare by their value (C2
// before C10, A001C002 after A001C001), letters without regard to case, and a folder's contents
// before a sibling whose name merely continues the folder's ("CLIPS/x" before "CLIPS-2/x").
bool naturalLess(QStringView a, QStringView b);

}  // namespace zafrel
