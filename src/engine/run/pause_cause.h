#pragma once
#include <QString>

#include <exception>
#include <optional>

namespace zafrel {

// Why a run stopped taking files before its queue was done: the service or the store stayed out of
// reach through every retry, or the service ended the session (401). Neither is the fault of the
// files, so they end paused, to be continued, not failed one by one.
enum class PauseCause { NoConnection, SessionEnded };

// The line the footer and the command line show: "Sin conexión con el servidor", "Sesión caducada.
// Vuelve a entrar."
QString pauseMessage(PauseCause cause);

// The cause that a transfer's failure gives the whole run, or nothing for a failure of its own file.
std::optional<PauseCause> pauseCauseOf(const std::exception_ptr& failure);

}  // namespace zafrel
