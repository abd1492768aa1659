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

QString rowSubtitle(const UploadItem& item, std::chrono::steady_clock::time_point now)
{
    switch (item.status()) {
    case Status::Queued:
        return QStringLiteral("En cola · ") + formatByteCount(item.size);
    case Status::Running:
        if (const auto& wait = item.retryWait()) {
            const auto left = std::chrono::ceil<std::chrono::seconds>(wait->at - now).count();
            const QString attempt = QStringLiteral("Reintentando (intento %1 de %2)").arg(wait->next).arg(wait->of);
            return left > 0 ? attempt + QStringLiteral(" en %1 s").arg(left) : attempt + QStringLiteral("…");
        }
        // Every byte is out; the store's answer and its checksum are still to come.
        if (item.size > 0 && item.loaded() >= item.size)
            return QStringLiteral("Verificando…");
        return formatByteCount(item.loaded()) + QStringLiteral(" de ") + formatByteCount(item.size);
    case Status::Done:
        if (item.offloadChecked && item.offloadRecord)
            return QStringLiteral("Subido y verificado, igual que la copia (ASC MHL, %1) · ")
                       .arg(QLatin1StringView(hashFormatName(item.offloadRecord->format)))
                   + formatByteCount(item.size);
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

QColor rowSubtitleColor(const UploadItem& item)
{
    if (item.status() == Status::Error)
        return redColor();
    return item.status() == Status::Running && item.retryWait() ? orangeColor() : secondaryColor();
}

QString rowFolder(const UploadItem& item, const QString& destDir)
{
    QString folder = item.destDir;
    if (!destDir.isEmpty() && folder.startsWith(destDir))
        folder = folder.mid(destDir.size());
    while (folder.endsWith(u'/'))
        folder.chop(1);
    while (folder.startsWith(u'/'))
        folder.remove(0, 1);
    return printable(folder);
}

QString rowAccessibleName(const UploadItem& item, const QString& destDir)
{
    const QString folder = rowFolder(item, destDir);
    return folder.isEmpty() ? printable(item.name) : printable(item.name) + QStringLiteral(", en ") + folder;
}

QString rowAccessibleDescription(const UploadItem& item)
{
    QString text = rowSubtitle(item);
    if (item.status() == Status::Error && !item.errorDetail.isEmpty())
        text += QStringLiteral(" (") + item.errorDetail + u')';
    return text;
}

bool rowRetriable(const UploadItem& item, bool running)
{
    return item.status() == Status::Error || (item.status() == Status::Cancelled && !running);
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
