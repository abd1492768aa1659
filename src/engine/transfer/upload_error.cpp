#include "engine/transfer/upload_error.h"

#include "platform/errors.h"
#include "platform/printable.h"

#include <QString>
#include <QTextBoundaryFinder>
#include <QXmlStreamReader>

#include <utility>

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

struct StoreError {
    QString code;
    QString message;
};

// The object store answers failures with an XML document whose <Code> and <Message> say what went
// wrong ("SlowDown", "Please reduce your request rate."); the markup around them says nothing to
// a person. An empty code when the body is no such document.
StoreError readStoreError(const std::string& body)
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
    return {code, message};
}

std::string storeErrorText(const StoreError& error)
{
    if (error.code.isEmpty())
        return {};
    return (error.message.isEmpty() ? error.code : error.code + QStringLiteral(": ") + error.message).toStdString();
}

// What the common codes mean for a crew, and what to do; nothing for any other code.
const char* storeCodeText(const QString& code)
{
    static const std::pair<const char*, const char*> texts[] = {
        {"SlowDown", "El almacén pide menos peticiones a la vez; reintenta en unos minutos"},
        {"AccessDenied", "El almacén ha denegado el acceso; avisa a quien administra la productora"},
        {"RequestTimeout", "El almacén dejó de esperar los datos; comprueba la conexión y reintenta"},
        {"InternalError", "Error interno del almacén; reintenta en unos minutos"},
        {"ServiceUnavailable", "El almacén no está disponible; reintenta en unos minutos"},
        {"NoSuchUpload", "El almacén ya no tiene esta subida por partes; al reintentar empieza de nuevo"},
        {"EntityTooLarge", "El almacén no admite un envío tan grande; avisa a quien administra la productora"},
        {"ExpiredToken", "El permiso de subida ha caducado; reintenta para pedir otro"},
        {"SignatureDoesNotMatch", "El almacén no acepta la firma de la subida; comprueba la hora del equipo y reintenta"},
    };
    for (const auto& [known, text] : texts)
        if (code == QLatin1String(known))
            return text;
    return nullptr;
}

}  // namespace

UploadError::UploadError(Kind kind, int code, std::string text, std::string detail)
    : kind_(kind), code_(code), text_(std::move(text)), detail_(std::move(detail))
{
}

UploadError UploadError::http(int code, std::string message)
{
    const StoreError error = readStoreError(message);
    const std::string storeText = storeErrorText(error);
    const std::string& shown = storeText.empty() ? message : storeText;
    std::string words = "HTTP " + std::to_string(code) + " " + firstCharacters(printable(shown), 80);
    const char* text = storeCodeText(error.code);
    UploadError result = text ? UploadError(Kind::Http, code, text, std::move(words))
                              : UploadError(Kind::Http, code, std::move(words));
    result.storeCode_ = error.code.toStdString();
    return result;
}

std::string failureDetail(const std::exception_ptr& failure)
{
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const UploadError& e) {
        return e.detail();
    } catch (...) {
    }
    return technicalDetailOf(failure);
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
