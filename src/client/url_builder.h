#pragma once
#include <QString>
#include <QUrl>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zafrel {

// A service origin checked and encoded once, from which the URL of each endpoint is built by
// appending: a run makes several requests per file, and parsing the origin anew for each cost
// more than the rest of building them.
//
// `relativePath` ("api/upload/init") follows the origin's own path with exactly one "/" between
// them, whether or not the origin ends with one; its slashes stay separators. The origin's query
// and fragment are not carried over. Query names and values are encoded as query components
// (everything but unreserved characters), so "/", "+", "&", "=", spaces and non-ASCII arrive as
// written; no items, no "?".
class ServiceOrigin {
public:
    // Throws TransportError when `origin` cannot address a service (invalid, not http/https, no
    // host); `originText` is the text as configured, quoted in that message.
    ServiceOrigin(const QUrl& origin, const QString& originText);

    std::string url(std::string_view relativePath, const std::vector<std::pair<std::string, std::string>>& query) const;
    bool secure() const { return secure_; }

private:
    std::string prefix_;   // encoded, ending with "/"
    bool secure_ = false;
};

inline std::string serviceURL(const QUrl& origin, const QString& originText, std::string_view relativePath,
                              const std::vector<std::pair<std::string, std::string>>& query)
{
    return ServiceOrigin(origin, originText).url(relativePath, query);
}

}  // namespace zafrel
