// The program's start: the command line decides first whether an unattended upload is wanted;
// the desktop window opens whenever it can, beside such an upload too.
#include "cli/headless.h"
#include "cli/option_checks.h"
#include "cli/options.h"
#include "cli/password_source.h"
#include "cli/process_exit.h"
#include "cli/usage.h"
#include "engine/background_aborts.h"
#include "engine/queue_lock.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>
#include <QStringList>

#ifdef ZAFREL_WITH_GUI
#include "ui/desktop.h"

#include <QApplication>
#endif

#include <cstdio>
#include <optional>

namespace {

QStringList argumentsOf(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

void print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// What the command line can answer before anything starts: help, version, and options it cannot
// take (then nothing is sent at all). An exit code, or nothing when the program goes on.
std::optional<int> answerAtOnce(const zafrel::Options& options)
{
    if (options.given(QStringLiteral("--help")) || options.given(QStringLiteral("-h"))) {
        print(stdout, zafrel::usageText());
        return 0;
    }
    if (options.given(QStringLiteral("--version"))) {
        print(stdout, zafrel::versionText() + u'\n');
        return 0;
    }
    for (const QString& unknown : options.unknownOptions()) {
        zafrel::printFailure(QStringLiteral("Opción desconocida: ") + unknown, 2);
        return 2;
    }
    if (const auto problem = zafrel::optionProblem(options)) {
        zafrel::printFailure(*problem, 2);
        return 2;
    }
    if (const auto problem = zafrel::paths::homeProblem()) {
        zafrel::printFailure(*problem, 2);
        return 2;
    }
    return std::nullopt;
}

#ifdef ZAFREL_WITH_GUI
// Relative paths are taken from the current directory.
QList<QUrl> fileURLs(const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(QDir::cleanPath(QDir::current().absoluteFilePath(path))));
    return urls;
}

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
    const zafrel::Options options(arguments);
    zafrel::setJsonOutput(options.given(QStringLiteral("--json")));
    if (const auto code = answerAtOnce(options))
        return *code;
    const bool uploadRequested = options.uploadRequested();
    // The queue's leftovers are listed or forgotten, and a destination checked, without a window.
    const bool queueCommand = options.given(QStringLiteral("--pendientes")) || options.given(QStringLiteral("--olvidar"))
                              || options.checkRequested();
    // A password given as "--login EMAIL PASSWORD" stays readable in the process list for as long
    // as the run lasts; from here on it is not there any more.
    if (const auto password = options.passwordIndex())
        zafrel::hideArgument(argc, argv, *password);

#ifdef ZAFREL_WITH_GUI
    if (displayAvailable() && !queueCommand) {
        QApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Zafrel"));
        // Taken before any engine exists: a second engine on this queue would undo the first's.
        const zafrel::QueueLock lock(zafrel::QueueLock::defaultPath());
        if (lock.refused()) {
            zafrel::printNotice(lock.refusal());
            // A script waits for no one: only the window alone says it in a window.
            if (!uploadRequested)
                zafrel::ui::showRefusal(lock.refusal());
            return 2;
        }
        // With an upload under way the process ends when the upload does, not with the window.
        if (uploadRequested) {
            QApplication::setQuitOnLastWindowClosed(false);
            zafrel::Headless::prepare(options);
        }
        // One engine: the window shows the run it is part of.
        // Files handed over by a launcher ("%F") or a file manager go to the queue as a drop would.
        auto desktop = zafrel::ui::startDesktop(uploadRequested ? QList<QUrl>() : fileURLs(options.strayArguments()));
        if (uploadRequested)
            zafrel::Headless::start(options, &desktop->uploader());
        const int code = app.exec();
        // The engine goes without waiting for anything; the aborts it sent on their own still end.
        desktop.reset();
        zafrel::finishBackgroundAborts();
        return code;
    }
#endif

    if (!uploadRequested && !queueCommand) {
        // A script that asked for JSON gets JSON, not the usage.
        if (zafrel::jsonOutput()) {
            zafrel::printFailure(QStringLiteral("Nada que hacer: usa --upload RUTA..., --simular, --comprobar, "
                                                "--pendientes u --olvidar."),
                                 2);
            return 2;
        }
        print(stdout, zafrel::usageText());
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
    const zafrel::QueueLock lock(zafrel::QueueLock::defaultPath());
    if (lock.refused()) {
        zafrel::printFailure(lock.refusal(), 2);
        return 2;
    }
    zafrel::Headless::prepare(options);
    zafrel::Headless::start(options);
    const int code = app.exec();
    zafrel::finishBackgroundAborts();
    return code;
}
