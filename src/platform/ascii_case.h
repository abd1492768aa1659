#pragma once
// Protocol words (header names, URL schemes, hex digests) compare without regard to the case of
// their ASCII letters; bytes outside ASCII compare as they are, whatever the locale.
#include <algorithm>
#include <string_view>

namespace zafrel {

constexpr char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
           && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

}  // namespace zafrel
