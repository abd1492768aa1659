#include "engine/report.h"

#include "engine/queue/upload_queue.h"
#include "engine/run/run_progress.h"
#include "platform/format.h"
#include "platform/printable.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>

namespace zafrel {

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

void OffloadNotices::add(const std::vector<QString>& more, uint64_t run)
{
    texts_.insert(texts_.end(), more.begin(), more.end());
    runs_.resize(texts_.size(), run);
}

void OffloadNotices::clear()
{
    texts_.clear();
    runs_.clear();
}

std::vector<QString> OffloadNotices::of(const std::optional<RunRecord>& run) const
{
    std::vector<QString> out;
    for (size_t i = 0; i < texts_.size(); ++i)
        if (!run || runs_[i] == run->number)
            out.push_back(texts_[i]);
    return out;
}

std::vector<ItemPtr> itemsOfRun(const std::vector<ItemPtr>& items, const std::optional<RunRecord>& run)
{
    if (!run)
        return items;
    std::vector<ItemPtr> mine;
    std::copy_if(items.begin(), items.end(), std::back_inserter(mine),
                 [number = run->number](const ItemPtr& item) { return item->run == number; });
    return mine;
}

QString runReportText(const std::vector<ItemPtr>& files, const std::optional<RunRecord>& run, const QString& destDir,
                      const OffloadNotices& offload)
{
    Summary s;
    for (const ItemPtr& item : files)
        s.add(*item);
    QStringList lines{QStringLiteral("Zafrel — informe de subida")};
    const QString destination = run ? run->destDir : destDir;
    lines << QStringLiteral("Destino: ") + (destination.isEmpty() ? QStringLiteral("/") : printable(destination));
    if (run) {
        const QDateTime end = run->ended.value_or(QDateTime::currentDateTime());
        lines << QStringLiteral("Inicio: ") + localTimeText(run->started);
        lines << QStringLiteral("Fin: ") + (run->ended ? localTimeText(end) : QStringLiteral("en curso"));
        lines << QStringLiteral("Duración: ") + durationText(run->started.secsTo(end));
        lines << QStringLiteral("Velocidad media: ") + averageSpeedText(*run, end);
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
    for (const QString& notice : offload.of(run))
        notices << QStringLiteral("aviso: ") + notice;
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

QString queueReportText(const std::vector<ItemPtr>& items, const QString& destDir, const OffloadNotices& notices)
{
    QStringList lines;
    // Qt::ISODate writes UTC as "2026-12-05T12:42:24Z", without fractions of a second.
    lines << QStringLiteral("Zafrel — informe de subida ")
                 + QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    lines << QStringLiteral("Destino: ") + (destDir.isEmpty() ? QStringLiteral("/") : printable(destDir));
    lines << QString();
    // Names and messages come from disks and servers: cleaned, so that every item stays on its
    // one line with its three fields.
    Summary s;
    for (const ItemPtr& item : items) {
        s.add(*item);
        lines << stateText(*item) + u'\t' + QString::number(item->size) + u'\t' + printable(item->destDir + item->name);
    }
    lines << QString();
    lines << QString::number(s.done) + QStringLiteral(" subidos, ") + QString::number(s.skipped)
                 + QStringLiteral(" ya existían, ") + QString::number(s.errors) + QStringLiteral(" errores, ")
                 + formatByteCount(s.bytes);
    for (const QString& notice : notices.texts())
        lines << QStringLiteral("aviso: ") + notice;
    return lines.join(u'\n');
}

}  // namespace zafrel
