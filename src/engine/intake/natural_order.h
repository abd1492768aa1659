#pragma once
#include <string_view>

namespace zafrel {

// The order people expect of file names (UTF-8): runs of digits compare by their value (C2 before
// C10, A001C002 after A001C001), ASCII letters without regard to case, and a name that another
// one merely continues goes first ("A001" before "A001-B" and "A001C001.MXF").
bool naturalLess(std::string_view a, std::string_view b);

}  // namespace zafrel
