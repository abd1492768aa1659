#pragma once
// What counts as UTF-8 here: no overlong forms, no surrogates, nothing above U+10FFFF.
#include <string_view>

namespace zafrel {

// Length of the well-formed UTF-8 sequence that starts at `p` with a lead byte of 0x80 or more,
// reading no further than `end`; 0 when it is not one.
int utf8SequenceLength(const unsigned char* p, const unsigned char* end);

bool isValidUtf8(std::string_view bytes);

}  // namespace zafrel
