#include "engine/intake/natural_order.h"

namespace zafrel {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

unsigned char folded(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : static_cast<unsigned char>(c);
}

}  // namespace

bool naturalLess(std::string_view a, std::string_view b)
{
    size_t i = 0, j = 0;
    // Names equal under this order ("c01" and "C1") are told apart by their first plain difference,
    // so the order is total and the same from one drop to the next.
    int tie = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            size_t ai = i, bj = j;
            while (ai < a.size() && a[ai] == '0')
                ++ai;
            while (bj < b.size() && b[bj] == '0')
                ++bj;
            size_t aEnd = ai, bEnd = bj;
            while (aEnd < a.size() && isDigit(a[aEnd]))
                ++aEnd;
            while (bEnd < b.size() && isDigit(b[bEnd]))
                ++bEnd;
            // Without leading zeros, the longer run is the larger number.
            if (aEnd - ai != bEnd - bj)
                return aEnd - ai < bEnd - bj;
            for (; ai < aEnd; ++ai, ++bj)
                if (a[ai] != b[bj])
                    return a[ai] < b[bj];
            if (tie == 0 && aEnd - i != bEnd - j)
                tie = aEnd - i > bEnd - j ? -1 : 1;   // more leading zeros first
            i = aEnd;
            j = bEnd;
            continue;
        }
        const unsigned char fa = folded(a[i]), fb = folded(b[j]);
        if (fa != fb)
            return fa < fb;
        if (tie == 0 && a[i] != b[j])
            tie = static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i == a.size();   // a name that the other one continues goes first
    return tie < 0;
}

}  // namespace zafrel
