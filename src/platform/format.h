#pragma once
#include <QDateTime>
#include <QString>
#include <cstdint>

namespace zafrel {

// Byte count for people, decimal multiples (1 KB = 1000 bytes) with the unit named: "0 bytes",
// "1 byte", "999 bytes", "12 KB", "1.5 MB", "2 MB", "3.25 GB". The decimal separator is the
// default locale's. The report and every screen use this one formatter.
QString formatByteCount(int64_t bytes);

// A moment as read where the computer is: local date and time, the zone's abbreviation when it has
// one, and the offset from UTC, so that a report read elsewhere still places it:
// "2026-12-07 19:30:05 CET (UTC+01:00)", "2026-12-07 15:30:05 (UTC-03:00)".
QString localTimeText(const QDateTime& when);

// A span of whole seconds: "0 s", "45 s", "12 min 05 s", "2 h 03 min 09 s".
QString durationText(int64_t seconds);

}  // namespace zafrel
