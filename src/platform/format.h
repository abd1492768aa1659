#pragma once
#include <QString>
#include <cstdint>

namespace zafrel {

// Byte count for people, decimal multiples (1 KB = 1000 bytes) with the unit named: "0 bytes",
// "1 byte", "999 bytes", "12 KB", "1.5 MB", "2 MB", "3.25 GB". The decimal separator is the
// default locale's. The report and every screen use this one formatter.
QString formatByteCount(int64_t bytes);

}  // namespace zafrel
