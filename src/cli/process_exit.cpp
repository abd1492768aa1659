#include "cli/process_exit.h"

#include <QCoreApplication>

#include <cstdio>

namespace zafrel {

void exitWithOutput(const QString& text, int code)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
    QCoreApplication::exit(code);
}

void printNotice(const QString& line)
{
    const QByteArray bytes = (line + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

}  // namespace zafrel
