#include "engine/offload_intake.h"

#include "engine/offload_history.h"
#include "platform/printable.h"

#include <QSet>

#include <algorithm>
#include <vector>

namespace zafrel {

namespace {

const QString kChainSuffix = QStringLiteral("/ascmhl/ascmhl_chain.xml");

struct Managed {
    QString root;
    OffloadHistory history;
};

// The intake never takes hidden names, so their records are neither checked nor missed.
bool isHiddenPath(const QString& relative)
{
    return relative.startsWith(u'.') || relative.contains(QStringLiteral("/."));
}

}  // namespace

void attachOffloadRecords(const QString& folder, std::span<ScannedFile> files, std::vector<QString>& notices)
{
    // The walk lists every history's chain file among the files: no second walk is needed.
    std::vector<Managed> managed;
    for (const ScannedFile& file : files) {
        if (!file.path.endsWith(kChainSuffix))
            continue;
        const QString root = file.path.chopped(kChainSuffix.size());
        if (root == folder || root.startsWith(folder + u'/'))
            managed.push_back({root, OffloadHistory::read(root)});
    }
    if (managed.empty())
        return;
    // The nearest history first: the longest root that holds the file.
    std::sort(managed.begin(), managed.end(), [](const Managed& a, const Managed& b) { return a.root.size() > b.root.size(); });
    for (const Managed& m : managed)
        for (const QString& problem : m.history.problems())
            notices.push_back(problem);

    QSet<QString> present;
    for (ScannedFile& file : files) {
        const auto owner = std::find_if(managed.begin(), managed.end(),
                                        [&](const Managed& m) { return file.path.startsWith(m.root + u'/'); });
        if (owner == managed.end())
            continue;
        const QString relative = file.path.mid(owner->root.size() + 1);
        if (relative.startsWith(QStringLiteral("ascmhl/")))
            continue;   // the history itself
        present.insert(OffloadHistory::pathKey(file.path));
        file.record = owner->history.recordToCheck(relative);
        if (!file.record)
            notices.push_back(QStringLiteral("Sin registro en la copia (ASC MHL); se sube sin comprobarlo: ")
                              + printable(file.path));
    }
    for (const Managed& m : managed) {
        for (const auto& [relative, records] : m.history.files()) {
            const QString path = m.root + u'/' + relative;
            // A file below a nearer history is that history's to miss.
            const auto owner = std::find_if(managed.begin(), managed.end(),
                                            [&](const Managed& n) { return path.startsWith(n.root + u'/'); });
            if (owner->root != m.root || isHiddenPath(relative) || present.contains(OffloadHistory::pathKey(path)))
                continue;
            notices.push_back(QStringLiteral("Falta un archivo registrado en la copia (ASC MHL); compruebe la copia: ")
                              + printable(path));
        }
    }
}

}  // namespace zafrel
