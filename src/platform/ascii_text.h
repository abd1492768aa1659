#pragma once
// ASCII classes of protocol text, whatever the locale. Protocol words (header names, URL schemes,
// hex digests) compare without regard to the case of their ASCII letters; bytes outside ASCII
// compare as they are.
#include <algorithm>
#include <string_view>

namespace zafrel {

constexpr bool isAsciiAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
constexpr bool isAsciiHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

constexpr char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
           && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

}  // namespace zafrel
