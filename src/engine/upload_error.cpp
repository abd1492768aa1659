#include "engine/upload_error.h"

#include "platform/printable.h"

#include <QString>
#include <QTextBoundaryFinder>
#include <QXmlStreamReader>

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

// The object store answers failures with an XML document whose <Code> and <Message> say what went
// wrong ("SlowDown", "Please reduce your request rate."); the markup around them says nothing to
// a person. Empty text when the body is no such document.
std::string storeErrorText(const std::string& body)
{
    QXmlStreamReader xml(QByteArray::fromStdString(body));
    QString code;
    QString message;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("Code") && code.isEmpty())
            code = xml.readElementText().trimmed();
        else if (xml.name() == QLatin1String("Message") && message.isEmpty())
            message = xml.readElementText().trimmed();
    }
    if (code.isEmpty())
        return {};
    return (message.isEmpty() ? code : code + QStringLiteral(": ") + message).toStdString();
}

}  // namespace

UploadError::UploadError(Kind kind, int code, std::string text)
    : kind_(kind), code_(code), text_(std::move(text))
{
}

UploadError UploadError::http(int code, std::string message)
{
    const std::string storeText = storeErrorText(message);
    const std::string& shown = storeText.empty() ? message : storeText;
    return UploadError(Kind::Http, code, "HTTP " + std::to_string(code) + " " + firstCharacters(printable(shown), 80));
}

UploadError UploadError::checksum()
{
    return UploadError(Kind::Checksum, 0, "La verificación MD5 no coincide");
}

UploadError UploadError::offloadMismatch(std::string_view format)
{
    return UploadError(Kind::OffloadRecord, 0,
                       "No coincide con el registro de la copia (ASC MHL, " + std::string(format) + ")");
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
