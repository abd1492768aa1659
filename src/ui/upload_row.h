#pragma once
// What one queue row shows for its item: symbol, colours, state text, progress and button texts.
#include "engine/upload_item.h"

#include <QColor>
#include <QString>

namespace zafrel::ui {

// Symbol name of a state: "clock", "arrow.up.circle", "checkmark.circle.fill", …
QString rowSymbol(Status status);
QColor rowSymbolColor(Status status);

// The line under the name: "En cola · 1.5 MB", "3 MB de 10 MB", the error text, …
QString rowSubtitle(const UploadItem& item);
QColor rowSubtitleColor(Status status);

// The progress bar of a running item: `loaded` out of `size`, or out of 1 for an empty file.
double rowProgressTotal(const UploadItem& item);
// The fraction drawn, clamped to 0…1.
double rowProgressFraction(const UploadItem& item);

// The cross button stops an active item and removes any other.
QString crossTooltip(const UploadItem& item);

}  // namespace zafrel::ui
