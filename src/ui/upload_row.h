#pragma once
// What one queue row shows for its item: symbol, colours, state text, progress and button texts.
#include "engine/queue/upload_item.h"

#include <QColor>
#include <QString>

#include <chrono>

namespace zafrel::ui {

// Symbol name of a state: "clock", "arrow.up.circle", "checkmark.circle.fill", …
QString rowSymbol(Status status);
QColor rowSymbolColor(Status status);

// The line under the name: "En cola · 1.5 MB", "3 MB de 10 MB", "Verificando…" once every byte
// is sent, "Reintentando (intento 2 de 5) en 6 s" while a failed request waits, "… · reenviando la
// parte 3 (intento 2 de 5)" while it is sent again, "Sin respuesta del almacén desde hace 40 s"
// once its bytes stopped going out, the error text, …
QString rowSubtitle(const UploadItem& item,
                    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());
QColor rowSubtitleColor(const UploadItem& item,
                        std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

// The item's folder below the destination `destDir` ("A001/CLIPS"), its whole destination folder
// when it lies elsewhere, and empty when it goes straight into `destDir`.
QString rowFolder(const UploadItem& item, const QString& destDir);

// What a screen reader says of the row: its name and folder, and its state with the error.
QString rowAccessibleName(const UploadItem& item, const QString& destDir);
QString rowAccessibleDescription(const UploadItem& item);

// A failed row can be tried again: in error, or cancelled once no run holds it any more.
bool rowRetriable(const UploadItem& item, bool running);

// The row's button (and what Return does on the row): "Reemplazar…" on a file refused because
// another file holds its name at the destination, "Reintentar" on another retriable row, "Pausar"
// on a waiting or running one, "Reanudar" on a paused one.
enum class RowAction { None, Retry, Replace, Pause, Resume };
RowAction rowAction(const UploadItem& item, bool running);
QString rowActionText(RowAction action);

// The progress bar of a running item: `loaded` out of `size`, or out of 1 for an empty file.
double rowProgressTotal(const UploadItem& item);
// The fraction drawn, clamped to 0…1.
double rowProgressFraction(const UploadItem& item);

// The cross button stops an active item and removes any other.
QString crossTooltip(const UploadItem& item);

}  // namespace zafrel::ui
