#include "platform/printable.h"

#include <algorithm>

namespace zafrel {

namespace {

bool isControl(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7f && u <= 0x9f)      // C0, DEL, C1
        || u == 0x2028 || u == 0x2029                // line and paragraph separators
        || u == 0x061c || u == 0x200e || u == 0x200f // bidirectional marks
        || (u >= 0x202a && u <= 0x202e)              // embeddings and overrides
        || (u >= 0x2066 && u <= 0x2069);             // isolates
}

}  // namespace

QString printable(const QString& text)
{
    if (std::none_of(text.begin(), text.end(), isControl))
        return text;
    QString out;
    out.reserve(text.size());
    bool pendingBlank = false;
    for (const QChar c : text) {
        if (isControl(c)) {
            pendingBlank = true;
            continue;
        }
        if (pendingBlank && !out.isEmpty() && !out.endsWith(u' '))
            out += u' ';
        pendingBlank = false;
        out += c;
    }
    return out;
}

std::string printable(std::string_view utf8)
{
    return printable(QString::fromUtf8(utf8.data(), qsizetype(utf8.size()))).toStdString();
}

}  // namespace zafrel
