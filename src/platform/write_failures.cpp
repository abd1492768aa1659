#include "platform/write_failures.h"

#include "platform/printable.h"

namespace zafrel {

WriteFailures& WriteFailures::instance()
{
    static WriteFailures failures;
    return failures;
}

void WriteFailures::settingsNotSaved(const QString& file)
{
    tell(file, QStringLiteral("No se pudieron guardar los ajustes en %1: libera espacio en el disco o revisa sus "
                              "permisos. Esta ejecución sigue con los valores indicados.")
                   .arg(printable(file)));
}

void WriteFailures::queueNotSaved(const QString& file)
{
    tell(file, QStringLiteral("No se pudo guardar la cola en %1: libera espacio en el disco o revisa sus permisos. "
                              "La subida sigue, pero si se interrumpe lo pendiente tendrá que enviarse de nuevo.")
                   .arg(printable(file)));
}

void WriteFailures::sessionNotSaved(const QString& file)
{
    tell(file, QStringLiteral("No se pudo guardar la sesión en %1: libera espacio en el disco o revisa sus permisos. "
                              "Esta sesión sigue, pero la próxima vez habrá que volver a entrar.")
                   .arg(printable(file)));
}

void WriteFailures::tell(const QString& file, const QString& message)
{
    if (told_.contains(file))
        return;
    told_.insert(file);
    emit failed(message);
}

}  // namespace zafrel
