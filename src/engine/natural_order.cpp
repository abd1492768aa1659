#include "engine/natural_order.h"

namespace zafrel {

namespace {

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// "/" sorts before every other character, so a path's folders group their files together.
int rank(QChar c)
{
    return c == u'/' ? -1 : int(c.toCaseFolded().unicode());
}

}  // namespace

bool naturalLess(QStringView a, QStringView b)
{
    qsizetype i = 0, j = 0;
    // Equal under this order (e.g. "c01" and "C1"): the plain comparison decides, so the order
    // is total and stable from one drop to the next.
    int tie = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            qsizetype ai = i, bj = j;
            while (ai < a.size() && a[ai] == u'0')
                ++ai;
            while (bj < b.size() && b[bj] == u'0')
                ++bj;
            qsizetype aEnd = ai, bEnd = bj;
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
            if (tie == 0 && (aEnd - i) != (bEnd - j))
                tie = (aEnd - i) > (bEnd - j) ? -1 : 1;   // more leading zeros first
            i = aEnd;
            j = bEnd;
            continue;
        }
        const int ra = rank(a[i]), rb = rank(b[j]);
        if (ra != rb)
            return ra < rb;
        if (tie == 0 && a[i] != b[j])
            tie = a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i == a.size();   // a prefix goes first
    return tie < 0;
}

}  // namespace zafrel
