// Endpoint URLs built from the configured origin.
#include "client/url_builder.h"
#include "platform/errors.h"

#include <gtest/gtest.h>

using namespace zafrel;

namespace {

std::string build(const QString& origin, std::string_view path, const std::vector<std::pair<std::string, std::string>>& query = {})
{
    return serviceURL(QUrl(origin, QUrl::StrictMode), origin, path, query);
}

// Exactly one slash between the origin's path and the endpoint; the origin's query and fragment
// are not carried over; query values are encoded as components.
TEST(ServiceURL, JoinsOriginAndEndpointAndEncodesQueryValues)
{
    const std::pair<std::string, std::string> cases[] = {
        {build("https://up.example.com", "api/me"), "https://up.example.com/api/me"},
        {build("https://up.example.com/", "api/me"), "https://up.example.com/api/me"},
        {build("http://127.0.0.1:8080/zafrel", "api/upload/init"), "http://127.0.0.1:8080/zafrel/api/upload/init"},
        {build("http://127.0.0.1:8080/zafrel/", "api/upload/init"), "http://127.0.0.1:8080/zafrel/api/upload/init"},
        {build("https://h/a/b", "api/ls"), "https://h/a/b/api/ls"},
        {build("https://h/p?x=1#frag", "api/me"), "https://h/p/api/me"},
        {build("https://h", "api/ls", {{"path", "Día 1/A&B=C+D %/"}}), "https://h/api/ls?path=D%C3%ADa%201%2FA%26B%3DC%2BD%20%25%2F"},
        {build("https://h", "api/upload/urls", {{"key", "a"}, {"first", "1"}, {"accelerate", "0"}}),
         "https://h/api/upload/urls?key=a&first=1&accelerate=0"},
        {build("https://h", "api/ls", {{"path", ""}}), "https://h/api/ls?path="},
        {build("https://h", "api/ls", {{"path", "-._~"}}), "https://h/api/ls?path=-._~"},
    };
    for (const auto& [built, expected] : cases)
        EXPECT_EQ(built, expected);
}

TEST(ServiceURL, UnusableOriginsFailWithAReadableTransportError)
{
    for (QString origin : {"", "not a url", "upload.zafrel.app", "/api", "ftp://h", "file:///etc", "https://", " https://h", "https://h/ x"}) {
        try {
            build(origin, "api/me");
            ADD_FAILURE() << origin.toStdString();
        } catch (const TransportError& e) {
            EXPECT_EQ(std::string(e.what()), "Dirección del servidor no válida: \"" + origin.toStdString() + "\"");
        }
    }
}

}  // namespace
