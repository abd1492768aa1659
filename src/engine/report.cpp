#include "engine/upload_manager.h"

#include "engine/run/run_progress.h"
#include "platform/format.h"
#include "platform/printable.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>

namespace zafrel {

void Summary::add(const UploadItem& item)
{
    switch (item.status()) {
    case Status::Done:
        ++done;
        bytes += item.size;
        break;
    case Status::Skipped: ++skipped; break;
    case Status::Error: ++errors; break;
    case Status::Queued:
    case Status::Running: ++active; break;
    case Status::Cancelled: ++cancelled; break;
    case Status::Paused: ++paused; break;
    }
}

Summary UploadManager::summary() const
{
    Summary s;
    for (const ItemPtr& item : items_)
        s.add(*item);
    return s;
}

namespace {

QString stateText(const UploadItem& item)
{
    switch (item.status()) {
    case Status::Done:
        if (item.verified() && item.offloadChecked && item.offloadRecord)
            return QStringLiteral("OK verificado (ASC MHL, %1)")
                .arg(QLatin1StringView(hashFormatName(item.offloadRecord->format)));
        return item.verified() ? QStringLiteral("OK verificado") : QStringLiteral("OK");
    case Status::Skipped:
        return QStringLiteral("ya existía");
    case Status::Error:
        // The technical detail of a transport failure belongs here, not in the row's message.
        return QStringLiteral("ERROR ")
               + printable(item.error().value_or(QString())
                           + (item.errorDetail().isEmpty() ? QString() : QStringLiteral(" (") + item.errorDetail() + u')'));
    default:
        return statusWord(item.status());
    }
}

// The window speaks Spanish throughout, also for the states the command line's report names by
// their queue-file word.
QString outcomeText(const UploadItem& item)
{
    switch (item.status()) {
    case Status::Queued: return QStringLiteral("en cola");
    case Status::Running: return QStringLiteral("subiendo");
    case Status::Cancelled: return QStringLiteral("cancelado");
    case Status::Paused: return QStringLiteral("pendiente");
    default: return stateText(item);
    }
}

QString runFileLine(const UploadItem& item)
{
    return outcomeText(item) + u'\t' + QString::number(item.size) + u'\t' + printable(item.destDir + item.name) + u'\t'
           + (item.md5.empty() ? QStringLiteral("-") : QString::fromStdString(item.md5)) + u'\t' + printable(item.path);
}

QString averageSpeedText(const RunRecord& run, const QDateTime& end)
{
    const qint64 ms = std::max<qint64>(run.started.msecsTo(end), 1);
    return formatByteCount(run.sent * 1000 / ms) + QStringLiteral("/s (") + formatByteCount(run.sent)
           + QStringLiteral(" enviados)");
}

}  // namespace

std::vector<ItemPtr> UploadManager::runItems() const
{
    if (!lastRun_)
        return items_;
    std::vector<ItemPtr> mine;
    std::copy_if(items_.begin(), items_.end(), std::back_inserter(mine),
                 [number = lastRun_->number](const ItemPtr& item) { return item->run == number; });
    return mine;
}

QString UploadManager::runReport() const
{
    const std::vector<ItemPtr> files = runItems();
    Summary s;
    for (const ItemPtr& item : files)
        s.add(*item);
    QStringList lines{QStringLiteral("Zafrel — informe de subida")};
    const QString destination = lastRun_ ? lastRun_->destDir : destDir_;
    lines << QStringLiteral("Destino: ") + (destination.isEmpty() ? QStringLiteral("/") : printable(destination));
    if (lastRun_) {
        const QDateTime end = lastRun_->ended.value_or(QDateTime::currentDateTime());
        lines << QStringLiteral("Inicio: ") + localTimeText(lastRun_->started);
        lines << QStringLiteral("Fin: ") + (lastRun_->ended ? localTimeText(end) : QStringLiteral("en curso"));
        lines << QStringLiteral("Duración: ") + durationText(lastRun_->started.secsTo(end));
        lines << QStringLiteral("Velocidad media: ") + averageSpeedText(*lastRun_, end);
    } else {
        lines << QStringLiteral("Ninguna subida desde que se abrió Zafrel: los archivos de la lista, como quedaron.");
    }
    QString counts = finishedText(s);
    if (s.active > 0)
        counts += QStringLiteral(" · ") + counted(s.active, QStringLiteral("en curso"), QStringLiteral("en curso"));
    lines << QStringLiteral("Archivos: ") + counts;
    lines << QString() << QStringLiteral("Estado\tTamaño\tDestino\tMD5\tOrigen");
    // What needs a person's attention comes first; the rest follows in queue order.
    for (const ItemPtr& item : files)
        if (item->status() == Status::Error)
            lines << runFileLine(*item);
    for (const ItemPtr& item : files)
        if (item->status() != Status::Error)
            lines << runFileLine(*item);
    QStringList notices;
    for (size_t i = 0; i < offloadNotices_.size(); ++i)
        if (!lastRun_ || offloadNoticeRuns_.at(i) == lastRun_->number)
            notices << QStringLiteral("aviso: ") + offloadNotices_[i];
    if (!notices.isEmpty())
        lines << QString() << notices;
    QStringList sums;
    for (const ItemPtr& item : files)
        if (item->status() == Status::Done && !item->md5.empty())
            sums << QString::fromStdString(item->md5) + QStringLiteral("  ") + printable(item->destDir + item->name);
    if (!sums.isEmpty())
        lines << QString() << QStringLiteral("MD5:") << sums;
    return lines.join(u'\n');
}

QString UploadManager::report() const
{
    QStringList lines;
    // Qt::ISODate writes UTC as "2026-12-05T12:42:24Z", without fractions of a second.
    lines << QStringLiteral("Zafrel — informe de subida ")
                 + QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    lines << QStringLiteral("Destino: ") + (destDir_.isEmpty() ? QStringLiteral("/") : printable(destDir_));
    lines << QString();
    // Names and messages come from disks and servers: cleaned, so that every item stays on its
    // one line with its three fields.
    for (const ItemPtr& item : items_) {
        lines << stateText(*item) + u'\t' + QString::number(item->size) + u'\t' + printable(item->destDir + item->name);
    }
    lines << QString();
    const Summary s = summary();
    lines << QString::number(s.done) + QStringLiteral(" subidos, ") + QString::number(s.skipped)
                 + QStringLiteral(" ya existían, ") + QString::number(s.errors) + QStringLiteral(" errores, ")
                 + formatByteCount(s.bytes);
    for (const QString& notice : offloadNotices_)
        lines << QStringLiteral("aviso: ") + notice;
    return lines.join(u'\n');
}

}  // namespace zafrel
