#pragma once
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

namespace zafrel {

// One run of the queue, from start() until it has wound down: which one it is (the items it took
// up carry its number), when it began and ended, where new files went when it began, and the
// bytes it handed to the network (resent ones included: what the link carried).
struct RunRecord {
    uint64_t number = 0;
    QDateTime started;
    std::optional<QDateTime> ended;   // none while it goes on
    QString destDir;
    qint64 sent = 0;
};

}  // namespace zafrel
