#include "engine/upload_manager.h"

#include "platform/format.h"
#include "platform/printable.h"

#include <QDateTime>
#include <QStringList>

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
                           + (item.errorDetail.isEmpty() ? QString() : QStringLiteral(" (") + item.errorDetail + u')'));
    default:
        return statusWord(item.status());
    }
}

}  // namespace

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

QString UploadManager::md5List() const
{
    QStringList lines;
    for (const ItemPtr& item : items_)
        if (item->status() == Status::Done && !item->md5.empty())
            lines << QString::fromStdString(item->md5) + QStringLiteral("  ") + printable(item->destDir + item->name);
    return lines.join(u'\n');
}

}  // namespace zafrel
