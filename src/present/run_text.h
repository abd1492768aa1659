#pragma once
// What the window and the terminal say about a run while it goes on and once it has stopped,
// from the numbers and states the engine keeps.
#include "engine/run/pause_cause.h"
#include "engine/run/route_decision.h"
#include "engine/run/run_progress.h"

#include <QString>

#include <optional>

namespace zafrel {

struct Summary;

// Footer lines while a run goes on: "3 de 56 archivos · 150 MB de 2.1 GB · 22.3 MB/s · quedan 3 min"
// and "2 subiendo · 51 en cola" (with "· 1 en pausa" while files are paused).
QString runningText(const RunProgress& progress, double speed, std::optional<double> secondsLeft);
QString runningCounts(const RunProgress& progress);

// The symbol of an idle queue's footer line (finishedText): the green check only when every file
// ended uploaded or already there.
QString finishedSymbol(const Summary& summary);
bool finishedCleanly(const Summary& summary);

// The desktop notice at the end of a long run.
struct RunNotice {
    QString title;
    QString body;
};
RunNotice runEndNotice(const Summary& summary);

// Why a run stopped as a whole: "Sin conexión con el servidor", "Sesión caducada. Vuelve a entrar."
QString pauseMessage(PauseCause cause);

// The route the uploads take, "Ruta acelerada (79 ms)" or "Ruta directa (100 ms)"; empty text until
// a run has measured it.
QString routeText(const std::optional<RouteDecision>& route);

// "N archivos de otra cuenta esperan a que esa cuenta vuelva a entrar" (and its singular).
QString otherAccountsText(int files);

}  // namespace zafrel
