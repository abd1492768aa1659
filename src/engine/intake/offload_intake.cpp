#include "engine/intake/offload_intake.h"

#include "engine/destination/offload_history.h"
#include "platform/printable.h"

#include <QSet>

#include <span>

#include <algorithm>
#include <vector>

namespace zafrel {

namespace {

const QString kChainSuffix = QStringLiteral("/ascmhl/ascmhl_chain.xml");

struct Managed {
    QString root;
    OffloadHistory history;
    int index = -1;   // in IntakeScan::histories, when it can be extended at the destination
};

// The intake never takes hidden names, so their records are neither checked nor missed.
bool isHiddenPath(const QString& relative)
{
    return relative.startsWith(u'.') || relative.contains(QStringLiteral("/."));
}

}  // namespace

void attachOffloadRecords(IntakeScan& scan, size_t first, const QString& folder, const QString& folderDest,
                          bool startHistory)
{
    const std::span<ScannedFile> files = std::span(scan.files).subspan(first);
    std::vector<QString>& notices = scan.notices;
    // The walk lists every history's chain file among the files: no second walk is needed.
    std::vector<Managed> managed;
    for (const ScannedFile& file : files) {
        if (!file.path.endsWith(kChainSuffix))
            continue;
        const QString root = file.path.chopped(kChainSuffix.size());
        if (root == folder || root.startsWith(folder + u'/'))
            managed.push_back({root, OffloadHistory::read(root)});
    }
    const bool folderManaged = std::any_of(managed.begin(), managed.end(), [&](const Managed& m) { return m.root == folder; });
    if (managed.empty() && !startHistory)
        return;
    // The nearest history first: the longest root that holds the file.
    std::sort(managed.begin(), managed.end(), [](const Managed& a, const Managed& b) { return a.root.size() > b.root.size(); });
    for (Managed& m : managed) {
        for (const QString& problem : m.history.problems())
            notices.push_back(problem);
        // A history whose chain cannot be read cannot be extended: its files go up as they are.
        if (m.history.chain()) {
            m.index = int(scan.histories.size());
            const QString inner = m.root.mid(folder.size() + 1);
            scan.histories.push_back({m.root, inner.isEmpty() || m.root == folder ? folderDest : folderDest + inner + u'/',
                                      *m.history.chain()});
        }
    }
    int started = -1;
    if (startHistory && !folderManaged) {
        started = int(scan.histories.size());
        scan.histories.push_back({folder, folderDest, {}});
    }

    QSet<QString> present;
    std::vector<bool> historyFile(files.size(), false);
    for (size_t i = 0; i < files.size(); ++i) {
        ScannedFile& file = files[i];
        const auto owner = std::find_if(managed.begin(), managed.end(),
                                        [&](const Managed& m) { return file.path.startsWith(m.root + u'/'); });
        if (owner == managed.end()) {
            file.history = started;
            continue;
        }
        const QString relative = file.path.mid(owner->root.size() + 1);
        if (relative.startsWith(QStringLiteral("ascmhl/"))) {
            // The history itself: it goes up extended, never as files over what is written there.
            historyFile[i] = owner->index >= 0;
            continue;
        }
        file.history = owner->index;
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
    size_t kept = first;
    for (size_t i = 0; i < historyFile.size(); ++i)
        if (!historyFile[i])
            scan.files[kept++] = std::move(scan.files[first + i]);
    scan.files.resize(kept);
}

}  // namespace zafrel
