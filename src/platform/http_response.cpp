#include "platform/http.h"

#include "platform/ascii_text.h"

#include <algorithm>

namespace zafrel {

std::optional<std::string> HttpResponse::header(std::string_view name) const
{
    const auto sameName = [name](const std::pair<std::string, std::string>& header) {
        return equalsIgnoringAsciiCase(header.first, name);
    };
    const auto it = std::ranges::find_if(headers, sameName);
    if (it == headers.end())
        return std::nullopt;
    return it->second;
}

}  // namespace zafrel
