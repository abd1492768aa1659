// The program's start. "--help" and "--version" are answered here, with nothing but Qt's core
// library mapped; everything else runs in the program's own library, loaded only then (see
// platform/private_library.h), which in turn loads the window's library only when a display is there.
#include "cli/options.h"
#include "cli/usage.h"
#include "platform/private_library.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

void print(FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// Without its library the program can do nothing else; it says so as any run that did not start.
int programMissing(const zafrel::Options& options)
{
    const QString message = QStringLiteral("No se encontró la biblioteca de Zafrel (libzafrel_core.so) o no se pudo "
                                           "cargar; reinstala el paquete.");
    if (options.given(QStringLiteral("--json")))
        print(stdout, QJsonDocument(QJsonObject{{QStringLiteral("exitCode"), 2}, {QStringLiteral("error"), message}})
                              .toJson(QJsonDocument::Compact)
                          + '\n');
    else
        print(stderr, (message + u'\n').toUtf8());
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const zafrel::Options options(argc, argv);
    if (options.given(QStringLiteral("--help")) || options.given(QStringLiteral("-h"))) {
        print(stdout, zafrel::usageText().toUtf8());
        return 0;
    }
    if (options.given(QStringLiteral("--version"))) {
        print(stdout, (zafrel::versionText() + u'\n').toUtf8());
        return 0;
    }
    using Program = int(int& argc, char** argv);
    auto* runProgram = reinterpret_cast<Program*>(zafrel::privateLibrarySymbol("libzafrel_core.so", "zafrel_run_program"));
    if (!runProgram)
        return programMissing(options);
    return runProgram(argc, argv);
}
