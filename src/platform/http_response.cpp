#include "platform/http.h"

#include <algorithm>
#include <cctype>

namespace zafrel {

std::optional<std::string> HttpResponse::header(std::string_view name) const
{
    const auto sameName = [name](const std::pair<std::string, std::string>& header) {
        return std::ranges::equal(header.first, name, [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        });
    };
    const auto it = std::ranges::find_if(headers, sameName);
    if (it == headers.end())
        return std::nullopt;
    return it->second;
}

}  // namespace zafrel
