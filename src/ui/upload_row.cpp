#include "ui/upload_row.h"

#include "engine/destination/destination_verdict.h"
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

namespace {
// Longer than a store takes to answer a whole part on a slow link, short enough to be told before
// a crew member starts to wonder.
constexpr std::chrono::seconds kQuietAfter{40};

// A multipart upload continues where it stopped: what is already there is not sent again. Said
// while it waits (paused, or resumed behind files that hold every slot) so it does not look lost.
QString alreadyStored(const UploadItem& item)
{
    const qint64 stored = item.uploadId() ? item.storedBytes() : 0;
    return stored > 0 ? QStringLiteral(" · ") + formatByteCount(stored) + QStringLiteral(" ya en el destino") : QString();
}
}  // namespace

QString rowSubtitle(const UploadItem& item, std::chrono::steady_clock::time_point now)
{
    switch (item.status()) {
    case Status::Queued:
        return QStringLiteral("En cola · ") + formatByteCount(item.size) + alreadyStored(item);
    case Status::Running: {
        const QString bytes = formatByteCount(item.loaded()) + QStringLiteral(" de ") + formatByteCount(item.size);
        if (const auto& wait = item.retryWait()) {
            const auto left = std::chrono::ceil<std::chrono::seconds>(wait->at - now).count();
            const QString what = wait->part > 0 ? QStringLiteral("Reintentando la parte %1").arg(wait->part)
                                                : QStringLiteral("Reintentando");
            const QString attempt = what + QStringLiteral(" (intento %1 de %2)").arg(wait->next).arg(wait->of);
            const QString when = left > 0 ? attempt + QStringLiteral(" en %1 s").arg(left) : attempt + QStringLiteral("…");
            // The other parts go on meanwhile.
            return wait->part > 0 ? when + QStringLiteral(" · ") + bytes : when;
        }
        // Bytes that stopped going out: the store (or the way to it) holds the request.
        if (const auto quiet = item.quietSince(); quiet && now - *quiet >= kQuietAfter) {
            const auto seconds = std::chrono::floor<std::chrono::seconds>(now - *quiet).count();
            return QStringLiteral("Sin respuesta del almacén desde hace %1 s").arg(seconds);
        }
        // A failed attempt's bytes left the count; the row says why it went down.
        if (const std::optional<Resend> again = item.resending()) {
            const QString what = again->part > 0 ? QStringLiteral("reenviando la parte %1").arg(again->part)
                                                 : QStringLiteral("reenviando");
            return bytes + QStringLiteral(" · ") + what
                   + QStringLiteral(" (intento %1 de %2)").arg(again->attempt).arg(again->of);
        }
        // Every byte is out; the store's answer and its checksum are still to come.
        if (item.size > 0 && item.loaded() >= item.size)
            return QStringLiteral("Verificando…");
        return bytes;
    }
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
    case Status::Paused: {
        // A file out of reach says so: it waits for its card or folder to come back.
        if (item.error())
            return printable(*item.error()) + QStringLiteral(" · ") + formatByteCount(item.size);
        return QStringLiteral("Pendiente de continuar · ") + formatByteCount(item.size) + alreadyStored(item);
    }
    }
    return {};
}

QColor rowSubtitleColor(const UploadItem& item, std::chrono::steady_clock::time_point now)
{
    if (item.status() == Status::Error)
        return redColor();
    if (item.status() != Status::Running)
        return secondaryColor();
    const auto quiet = item.quietSince();
    const bool stalled = quiet && now - *quiet >= kQuietAfter;
    return item.retryWait() || stalled ? orangeColor() : secondaryColor();
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
    if (item.status() == Status::Error && !item.errorDetail().isEmpty())
        text += QStringLiteral(" (") + item.errorDetail() + u')';
    return text;
}

bool rowRetriable(const UploadItem& item, bool running)
{
    return item.status() == Status::Error || (item.status() == Status::Cancelled && !running);
}

RowAction rowAction(const UploadItem& item, bool running)
{
    if (item.status() == Status::Error && item.error() == QString::fromUtf8(kOtherFileThere))
        return RowAction::Replace;
    if (rowRetriable(item, running))
        return RowAction::Retry;
    if (item.isActive())
        return RowAction::Pause;
    return item.status() == Status::Paused ? RowAction::Resume : RowAction::None;
}

QString rowActionText(RowAction action)
{
    switch (action) {
    case RowAction::Retry: return QStringLiteral("Reintentar");
    case RowAction::Replace: return QStringLiteral("Reemplazar…");
    case RowAction::Pause: return QStringLiteral("Pausar");
    case RowAction::Resume: return QStringLiteral("Reanudar");
    case RowAction::None: break;
    }
    return {};
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
