#include "engine/upload_error.h"

#include "platform/printable.h"

#include <QString>
#include <QTextBoundaryFinder>

namespace zafrel {

namespace {

// The first `count` characters as people count them (grapheme clusters), so that neither a
// multi-byte UTF-8 sequence nor a letter with its combining accent is ever split.
std::string firstCharacters(const std::string& utf8, int count)
{
    const QString text = QString::fromUtf8(utf8);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (int i = 0; i < count; ++i) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text.toStdString();
        end = next;
    }
    return text.left(end).toStdString();
}

}  // namespace

UploadError::UploadError(Kind kind, int code, std::string text)
    : kind_(kind), code_(code), text_(std::move(text))
{
}

UploadError UploadError::http(int code, std::string message)
{
    return UploadError(Kind::Http, code, "HTTP " + std::to_string(code) + " " + firstCharacters(printable(message), 80));
}

UploadError UploadError::checksum()
{
    return UploadError(Kind::Checksum, 0, "La verificación MD5 no coincide");
}

UploadError UploadError::cancelled()
{
    return UploadError(Kind::Cancelled, 0, "Cancelado");
}

UploadError UploadError::network()
{
    return UploadError(Kind::Network, 0, "Sin respuesta de red");
}

}  // namespace zafrel
