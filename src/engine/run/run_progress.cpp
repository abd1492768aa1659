#include "engine/run/run_progress.h"

#include "engine/upload_manager.h"
#include "platform/format.h"

#include <algorithm>
#include <cmath>

namespace zafrel {

namespace {
// How much each new speed reading moves the estimate: about the last ten seconds count.
constexpr double kSmoothing = 0.1;
}  // namespace

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

void TimeLeft::restart(Clock::time_point now)
{
    firstBytes_.reset();
    smoothedSpeed_.reset();
    started_ = now;
    last_ = now;
}

std::optional<double> TimeLeft::update(Clock::time_point now, qint64 remaining, double speed)
{
    if (speed <= 0 || remaining < 0) {
        // Nothing moves: an estimate from the speed before would stand still and lie. It settles
        // anew once bytes move again.
        firstBytes_.reset();
        smoothedSpeed_.reset();
        last_ = now;
        return std::nullopt;
    }
    if (!firstBytes_)
        firstBytes_ = now;
    const double elapsed = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    // An exponential average over time, so a faster redraw does not weigh the latest burst more.
    const double weight = smoothedSpeed_ ? 1.0 - std::pow(1.0 - kSmoothing, std::max(elapsed, 0.0)) : 1.0;
    smoothedSpeed_ = smoothedSpeed_ ? *smoothedSpeed_ + weight * (speed - *smoothedSpeed_) : speed;
    if (now - *firstBytes_ < kSettling)
        return std::nullopt;
    return double(remaining) / *smoothedSpeed_;
}

QString timeLeftText(std::optional<double> seconds)
{
    if (!seconds)
        return QStringLiteral("calculando…");
    const auto total = static_cast<long long>(std::ceil(std::max(*seconds, 0.0)));
    if (total < 60)
        return QStringLiteral("quedan %1 s").arg(std::max<long long>(total, 1));
    const long long minutes = (total + 30) / 60;
    if (minutes < 60)
        return QStringLiteral("quedan %1 min").arg(minutes);
    return QStringLiteral("quedan %1 h %2 min").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString counted(int count, const QString& singular, const QString& plural)
{
    return QString::number(count) + u' ' + (count == 1 ? singular : plural);
}

QString runningText(const RunProgress& progress, double speed, std::optional<double> secondsLeft)
{
    const auto perSecond = static_cast<int64_t>(std::trunc(std::max(0.0, speed)));
    return QString::number(progress.finished) + QStringLiteral(" de ")
           + counted(progress.files, QStringLiteral("archivo"), QStringLiteral("archivos")) + QStringLiteral(" · ")
           + formatByteCount(progress.sent) + QStringLiteral(" de ") + formatByteCount(progress.bytes)
           + QStringLiteral(" · ") + formatByteCount(perSecond) + QStringLiteral("/s · ") + timeLeftText(secondsLeft);
}

QString runningCounts(const RunProgress& progress)
{
    QString text = QString::number(progress.running) + QStringLiteral(" subiendo · ") + QString::number(progress.queued)
                   + QStringLiteral(" en cola");
    if (progress.paused > 0)
        text += QStringLiteral(" · %1 en pausa").arg(progress.paused);
    return text;
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

bool finishedCleanly(const Summary& s)
{
    return s.errors == 0 && s.cancelled == 0 && s.paused == 0 && s.active == 0;
}

QString finishedSymbol(const Summary& s)
{
    if (s.errors > 0)
        return QStringLiteral("exclamationmark.triangle.fill");
    return finishedCleanly(s) ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("pause.circle");
}

RunNotice runEndNotice(const Summary& s)
{
    QString title;
    if (s.errors > 0)
        title = QStringLiteral("Subida terminada con errores");
    else if (!finishedCleanly(s))
        title = QStringLiteral("Subida sin terminar");
    else
        title = QStringLiteral("Subida terminada");
    QString body = finishedText(s);
    if (s.errors > 0)
        body += QStringLiteral(". Abre Zafrel para reintentar los fallidos.");
    return {title, body};
}

}  // namespace zafrel
