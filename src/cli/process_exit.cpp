#include "cli/process_exit.h"

#include "cli/json_report.h"

#include <QCoreApplication>

#include <cstdio>

namespace zafrel {

namespace {

// Main thread only, like everything that writes here.
bool g_progressShown = false;
bool g_json = false;

void writeToStandardError(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

}  // namespace

void showProgressLine(const QString& line)
{
    // Back to the line's start, the new text, then erase whatever a longer old line left.
    writeToStandardError("\r" + line.toUtf8() + "\x1b[K");
    g_progressShown = true;
}

void clearProgressLine()
{
    if (!g_progressShown)
        return;
    writeToStandardError("\r\x1b[K");
    g_progressShown = false;
}

void exitWithOutput(const QString& text, int code)
{
    clearProgressLine();
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
    QCoreApplication::exit(code);
}

void setJsonOutput(bool json) { g_json = json; }
bool jsonOutput() { return g_json; }

void printFailure(const QString& message, int code)
{
    clearProgressLine();
    if (!g_json) {
        writeToStandardError((message + u'\n').toUtf8());
        return;
    }
    const std::string document = jsonFailure(message, code) + '\n';
    std::fwrite(document.data(), 1, document.size(), stdout);
    std::fflush(stdout);
}

void exitWithFailure(const QString& message, int code)
{
    printFailure(message, code);
    QCoreApplication::exit(code);
}

void printNotice(const QString& line)
{
    clearProgressLine();
    writeToStandardError((line + u'\n').toUtf8());
}

}  // namespace zafrel
