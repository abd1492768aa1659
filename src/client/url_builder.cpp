#include "client/url_builder.h"

#include "platform/errors.h"

namespace zafrel {

std::string serviceURL(const QUrl& origin, const QString& originText, std::string_view relativePath,
                       const std::vector<std::pair<std::string, std::string>>& query)
{
    const QString scheme = origin.scheme();
    if (!origin.isValid() || origin.host().isEmpty() || (scheme != "http" && scheme != "https"))
        throw TransportError(("Dirección del servidor no válida: \"" + originText + "\"").toStdString());

    QByteArray url = origin.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment).toEncoded();
    if (!url.endsWith('/'))
        url += '/';

    // Segment by segment, so that the slashes of the relative path remain separators.
    const QByteArray path = QByteArray(relativePath.data(), qsizetype(relativePath.size()));
    bool first = true;
    for (const QByteArray& segment : path.split('/')) {
        if (!first)
            url += '/';
        first = false;
        url += segment.toPercentEncoding("!$&'()*+,;=:@");
    }

    char separator = '?';
    for (const auto& [name, value] : query) {
        url += separator;
        separator = '&';
        url += QByteArray::fromStdString(name).toPercentEncoding();
        url += '=';
        url += QByteArray::fromStdString(value).toPercentEncoding();
    }
    return url.toStdString();
}

}  // namespace zafrel
