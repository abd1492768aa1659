#include "client/url_builder.h"

#include "platform/ascii_text.h"
#include "platform/errors.h"

namespace zafrel {

namespace {

bool isUnreserved(char c)
{
    return isAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// Percent-encodes every byte but the unreserved ones and those in `kept`, as QByteArray's
// toPercentEncoding does (upper-case hex digits).
void appendEncoded(std::string& out, std::string_view text, std::string_view kept)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(ch) || kept.find(ch) != std::string_view::npos) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
}

}  // namespace

ServiceOrigin::ServiceOrigin(const QUrl& origin, const QString& originText)
{
    const QString scheme = origin.scheme();
    if (!origin.isValid() || origin.host().isEmpty() || (scheme != "http" && scheme != "https"))
        throw TransportError(("Dirección del servidor no válida: \"" + originText + "\"").toStdString());
    secure_ = scheme == "https";
    prefix_ = origin.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment).toEncoded().toStdString();
    if (prefix_.empty() || prefix_.back() != '/')
        prefix_ += '/';
}

std::string ServiceOrigin::url(std::string_view relativePath,
                               const std::vector<std::pair<std::string, std::string>>& query) const
{
    std::string url = prefix_;
    url.reserve(prefix_.size() + relativePath.size() + 64);
    // The slashes of the relative path remain separators.
    appendEncoded(url, relativePath, "/!$&'()*+,;=:@");
    char separator = '?';
    for (const auto& [name, value] : query) {
        url += separator;
        separator = '&';
        appendEncoded(url, name, {});
        url += '=';
        appendEncoded(url, value, {});
    }
    return url;
}

}  // namespace zafrel
