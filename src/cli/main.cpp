// The program's start: the command line decides first whether an unattended upload is wanted;
// the desktop window opens whenever it can, beside such an upload too.
#include "cli/headless.h"
#include "cli/options.h"
#include "cli/password_source.h"

#include <QCoreApplication>
#include <QStringList>

#ifdef ZAFREL_WITH_GUI
#include "ui/desktop.h"

#include <QApplication>
#endif

#include <cstdio>

namespace {

QStringList argumentsOf(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

const char* const kUsage =
    "Uso: zafrel --upload RUTA... [--dest CARPETA] [--login EMAIL] [--server URL]\n"
    "Sube los archivos y carpetas indicados al almacenamiento de la productora, los verifica\n"
    "y escribe el informe de subida. Código de salida: 0 todo subido, 1 algún error,\n"
    "2 sin sesión o acceso rechazado.\n"
    "La contraseña de --login se toma de la variable ZAFREL_PASSWORD o se pide en la terminal.\n";

#ifdef ZAFREL_WITH_GUI
bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
           || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    const QStringList arguments = argumentsOf(argc, argv);
    const bool uploadRequested = arguments.contains(QStringLiteral("--upload"));
    // A password given as "--login EMAIL PASSWORD" stays readable in the process list for as long
    // as the run lasts; from here on it is not there any more.
    if (const auto password = zafrel::Options(arguments).passwordIndex())
        zafrel::hideArgument(argc, argv, *password);

#ifdef ZAFREL_WITH_GUI
    if (displayAvailable()) {
        QApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Zafrel"));
        // With an upload under way the process ends when the upload does, not with the window.
        if (uploadRequested)
            QApplication::setQuitOnLastWindowClosed(false);
        zafrel::Headless::runIfRequested(arguments);
        const auto desktop = zafrel::ui::startDesktop();
        return app.exec();
    }
#endif

    if (!uploadRequested) {
        std::fputs(kUsage, stdout);
#ifdef ZAFREL_WITH_GUI
        std::fputs("Sin pantalla disponible la ventana no puede abrirse; usa --upload.\n", stdout);
#else
        std::fputs("Esta compilación no incluye la ventana de escritorio.\n", stdout);
#endif
        std::fflush(stdout);
        return 2;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Zafrel"));
    zafrel::Headless::runIfRequested(arguments);
    return app.exec();
}
