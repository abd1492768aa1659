#include "present/run_text.h"

#include "engine/queue/upload_queue.h"
#include "platform/format.h"
#include "present/time_left.h"

#include <algorithm>
#include <cmath>

namespace zafrel {

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

QString pauseMessage(PauseCause cause)
{
    switch (cause) {
    case PauseCause::NoConnection:
        return QStringLiteral("Sin conexión con el servidor");
    case PauseCause::SessionEnded:
        return QStringLiteral("Sesión caducada. Vuelve a entrar.");
    }
    return {};
}

QString routeText(const std::optional<RouteDecision>& route)
{
    if (!route)
        return {};
    const QString ms = QString::number(static_cast<long long>(std::trunc(route->milliseconds)));
    return route->accelerate ? QStringLiteral("Ruta acelerada (%1 ms)").arg(ms) : QStringLiteral("Ruta directa (%1 ms)").arg(ms);
}

QString otherAccountsText(int files)
{
    return files == 1 ? QStringLiteral("1 archivo de otra cuenta espera a que esa cuenta vuelva a entrar")
                      : QStringLiteral("%1 archivos de otra cuenta esperan a que esa cuenta vuelva a entrar").arg(files);
}

}  // namespace zafrel
