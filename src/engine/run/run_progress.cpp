#include "engine/run/run_progress.h"

#include "engine/upload_manager.h"
#include "platform/format.h"

#include <algorithm>

namespace zafrel {

int RunProgress::percent() const
{
    // 100 % only once every file has ended: the last bytes out are not yet the store's answer.
    const int ceiling = finished < files ? 99 : 100;
    if (bytes > 0)
        return int(std::clamp<qint64>(sent * 100 / bytes, 0, ceiling));
    return files > 0 ? finished * 100 / files : 0;
}

RunProgress runProgress(const std::vector<ItemPtr>& items, uint64_t firstRun)
{
    RunProgress p;
    for (const ItemPtr& item : items) {
        const Status status = item->status();
        if (item->run == 0 || item->run < firstRun)
            continue;
        ++p.files;
        p.bytes += item->size;
        switch (status) {
        case Status::Queued: ++p.queued; break;
        case Status::Running:
            ++p.running;
            p.sent += std::min(item->loaded(), item->size);
            break;
        case Status::Done:
        case Status::Skipped:
            ++p.finished;
            p.sent += item->size;
            break;
        case Status::Paused:
            // Not ended: "1 de 60 archivos" with nothing uploaded would read as one file up.
            --p.files;
            ++p.paused;
            p.bytes -= item->size;
            break;
        default:
            // Failed or cancelled: ended, and nothing of it counts as sent.
            ++p.finished;
            p.bytes -= item->size;
            break;
        }
    }
    return p;
}

Summary runSummary(const std::vector<ItemPtr>& items, uint64_t run)
{
    Summary s;
    for (const ItemPtr& item : items)
        if (item->run == run)
            s.add(*item);
    return s;
}

QString counted(int count, const QString& singular, const QString& plural)
{
    return QString::number(count) + u' ' + (count == 1 ? singular : plural);
}

QString finishedText(const Summary& s)
{
    QStringList parts;
    const bool anythingElse = s.skipped + s.errors + s.cancelled + s.paused > 0;
    // Nothing uploaded is not news when something else happened: that comes first then.
    if (s.done > 0 || !anythingElse)
        parts << counted(s.done, QStringLiteral("subido y verificado"), QStringLiteral("subidos y verificados"))
                     + QStringLiteral(" · ") + formatByteCount(s.bytes);
    if (s.skipped > 0)
        parts << counted(s.skipped, QStringLiteral("ya existía"), QStringLiteral("ya existían"));
    if (s.errors > 0)
        parts << counted(s.errors, QStringLiteral("error"), QStringLiteral("errores"));
    if (s.cancelled > 0)
        parts << counted(s.cancelled, QStringLiteral("cancelado"), QStringLiteral("cancelados"));
    if (s.paused > 0)
        parts << counted(s.paused, QStringLiteral("pendiente"), QStringLiteral("pendientes"));
    return parts.join(QStringLiteral(" · "));
}

}  // namespace zafrel
