#include "ui/upload_row.h"

#include "platform/format.h"
#include "platform/printable.h"
#include "ui/style.h"

#include <algorithm>

namespace zafrel::ui {

QString rowSymbol(Status status)
{
    switch (status) {
    case Status::Queued: return QStringLiteral("clock");
    case Status::Running: return QStringLiteral("arrow.up.circle");
    case Status::Done: return QStringLiteral("checkmark.circle.fill");
    case Status::Skipped: return QStringLiteral("equal.circle");
    case Status::Error: return QStringLiteral("exclamationmark.circle.fill");
    case Status::Cancelled: return QStringLiteral("slash.circle");
    case Status::Paused: return QStringLiteral("pause.circle");
    }
    return QStringLiteral("clock");
}

QColor rowSymbolColor(Status status)
{
    switch (status) {
    case Status::Running: return accentColor();
    case Status::Done: return greenColor();
    case Status::Error: return redColor();
    default: return secondaryColor();
    }
}

QString rowSubtitle(const UploadItem& item)
{
    switch (item.status()) {
    case Status::Queued:
        return QStringLiteral("En cola · ") + formatByteCount(item.size);
    case Status::Running:
        return formatByteCount(item.loaded()) + QStringLiteral(" de ") + formatByteCount(item.size);
    case Status::Done:
        return QStringLiteral("Subido y verificado · ") + formatByteCount(item.size);
    case Status::Skipped:
        return QStringLiteral("Ya estaba en el destino · ") + formatByteCount(item.size);
    case Status::Error:
        return printable(item.error().value_or(QStringLiteral("Error")));
    case Status::Cancelled:
        return QStringLiteral("Cancelado");
    case Status::Paused:
        return QStringLiteral("Pendiente de continuar · ") + formatByteCount(item.size);
    }
    return {};
}

QColor rowSubtitleColor(Status status)
{
    return status == Status::Error ? redColor() : secondaryColor();
}

double rowProgressTotal(const UploadItem& item)
{
    return item.size < 1 ? 1.0 : double(item.size);
}

double rowProgressFraction(const UploadItem& item)
{
    return std::clamp(double(item.loaded()) / rowProgressTotal(item), 0.0, 1.0);
}

QString crossTooltip(const UploadItem& item)
{
    return item.isActive() ? QStringLiteral("Cancelar") : QStringLiteral("Quitar");
}

}  // namespace zafrel::ui
