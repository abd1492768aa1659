// The command line decides first whether an unattended upload is wanted; the desktop window opens
// whenever it can, beside such an upload too.
#include "cli/program.h"

#include "cli/headless.h"
#include "cli/option_checks.h"
#include "cli/options.h"
#include "cli/password_source.h"
#include "cli/process_exit.h"
#include "cli/usage.h"
#include "engine/transfer/background_aborts.h"
#include "engine/queue/queue_lock.h"
#include "platform/paths.h"

#ifdef ZAFREL_WITH_GUI
#include "platform/private_library.h"
#endif

#include <QCoreApplication>

#include <cstdio>
#include <optional>

namespace zafrel {

namespace {

void print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// What the command line can answer before anything starts: help, version, and options it cannot
// take (then nothing is sent at all). An exit code, or nothing when the program goes on.
std::optional<int> answerAtOnce(const Options& options)
{
    if (options.given(QStringLiteral("--help")) || options.given(QStringLiteral("-h"))) {
        print(stdout, usageText());
        return 0;
    }
    if (options.given(QStringLiteral("--version"))) {
        print(stdout, versionText() + u'\n');
        return 0;
    }
    for (const QString& unknown : options.unknownOptions()) {
        printFailure(QStringLiteral("Opción desconocida: ") + unknown, 2);
        return 2;
    }
    if (const auto problem = optionProblem(options)) {
        printFailure(*problem, 2);
        return 2;
    }
    if (const auto problem = paths::homeProblem()) {
        printFailure(*problem, 2);
        return 2;
    }
    return std::nullopt;
}

#ifdef ZAFREL_WITH_GUI
bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
           || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// The window's library, loaded now: the command line alone never maps the desktop's libraries.
WindowProgram* loadWindow()
{
    return reinterpret_cast<WindowProgram*>(privateLibrarySymbol("libzafrel_window.so", "zafrel_run_window"));
}
#endif

}  // namespace

int runProgram(int& argc, char** argv)
{
    const Options options(argc, argv);
    setJsonOutput(options.given(QStringLiteral("--json")));
    if (const auto code = answerAtOnce(options))
        return *code;
    const bool uploadRequested = options.uploadRequested();
    // The queue's leftovers are listed or forgotten, and a destination checked, without a window.
    const bool queueCommand = options.given(QStringLiteral("--pendientes")) || options.given(QStringLiteral("--olvidar"))
                              || options.checkRequested();
    // A password given as "--login EMAIL PASSWORD" stays readable in the process list for as long
    // as the run lasts; from here on it is not there any more.
    if (const auto password = options.passwordIndex())
        hideArgument(argc, argv, *password);

#ifdef ZAFREL_WITH_GUI
    if (displayAvailable() && !queueCommand) {
        if (WindowProgram* runWindow = loadWindow())
            return runWindow(argc, argv, options);
        const QString missing = QStringLiteral("No se encontró la ventana de Zafrel o no se pudo cargar; reinstala el "
                                               "paquete o usa la línea de órdenes (zafrel --upload RUTA...).");
        // An upload asked for goes on without the window; the window alone cannot.
        if (!uploadRequested) {
            printFailure(missing, 2);
            return 2;
        }
        printNotice(missing);
    }
#endif

    if (!uploadRequested && !queueCommand) {
        // A script that asked for JSON gets JSON, not the usage.
        if (jsonOutput()) {
            printFailure(QStringLiteral("Nada que hacer: usa --upload RUTA..., --simular, --comprobar, "
                                        "--pendientes u --olvidar."),
                         2);
            return 2;
        }
        print(stdout, usageText());
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
    const QueueLock lock(QueueLock::defaultPath());
    if (lock.refused()) {
        printFailure(lock.refusal(), 2);
        return 2;
    }
    Headless::prepare(options);
    Headless::start(options);
    const int code = app.exec();
    finishBackgroundAborts();
    return code;
}

}  // namespace zafrel
