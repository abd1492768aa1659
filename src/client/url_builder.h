#pragma once
#include <QString>
#include <QUrl>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zafrel {

// The absolute, percent-encoded URL of a service endpoint.
// `relativePath` ("api/upload/init") follows the origin's own path with exactly one "/" between
// them, whether or not the origin ends with one; its slashes stay separators. The origin's query
// and fragment are not carried over. Query names and values are encoded as query components
// (everything but unreserved characters), so "/", "+", "&", "=", spaces and non-ASCII arrive as
// written; no items, no "?".
// Throws TransportError when `origin` cannot address a service (invalid, not http/https, no
// host); `originText` is the text as configured, quoted in that message.
std::string serviceURL(const QUrl& origin, const QString& originText, std::string_view relativePath,
                       const std::vector<std::pair<std::string, std::string>>& query);

}  // namespace zafrel
