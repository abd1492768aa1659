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

void WriteFailures::queueUnreadable(const QString& file, const QString& aside)
{
    // Told apart from a failed write of the same file: both may happen in one process.
    const QString what = file + QStringLiteral(" (lectura)");
    if (aside.isEmpty())
        tell(what, QStringLiteral("La cola guardada en %1 no se puede leer y se empieza con una cola vacía. "
                                  "Vuelve a añadir los archivos que quedaban pendientes.")
                       .arg(printable(file)));
    else
        tell(what, QStringLiteral("La cola guardada en %1 no se puede leer: se ha apartado como %2 y se empieza con "
                                  "una cola vacía. Vuelve a añadir los archivos que quedaban pendientes.")
                       .arg(printable(file), printable(aside)));
}

void WriteFailures::tell(const QString& file, const QString& message)
{
    if (told_.contains(file))
        return;
    told_.insert(file);
    messages_.push_back(message);
    emit failed(message);
}

}  // namespace zafrel
