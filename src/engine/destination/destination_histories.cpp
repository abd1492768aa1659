#include "engine/destination/destination_histories.h"

#include "engine/intake/intake_scan.h"
#include "engine/queue/upload_queue.h"
#include "engine/transfer/file_state.h"
#include "platform/build_config.h"
#include "platform/paths.h"
#include "platform/printable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSysInfo>

#include <algorithm>

namespace zafrel {

namespace {

// Every file of the stage is at the destination, verified or found there.
bool allUp(const std::vector<ItemPtr>& items)
{
    return std::all_of(items.begin(), items.end(), [](const ItemPtr& item) {
        return (item->status() == Status::Done && item->verified()) || item->status() == Status::Skipped;
    });
}

bool writeWhole(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush();
}

ItemPtr historyFileItem(const QString& path, const QString& destDir, const std::shared_ptr<const QueueOwner>& owner)
{
    const std::optional<FileState> state = currentFileState(path);
    auto item = std::make_shared<UploadItem>(QUuid::createUuid(), path, state ? state->size : 0, state ? state->mtime : 0,
                                             destDir);
    item->owner = owner;
    // The destination's chain and hash lists are this program's own, each generation written over
    // the last one it wrote there: never kept out as another file of the same name.
    item->replaceAllowed = true;
    return item;
}

}  // namespace

DestinationHistories::DestinationHistories(QString recordPath) : record_(std::move(recordPath)) {}

void DestinationHistories::setStart(bool start, bool withXxh64)
{
    start_ = start;
    xxh64_ = start && withXxh64;
}

void DestinationHistories::take(const IntakeScan& scan, const std::vector<ItemPtr>& fresh, UploadQueue& queue)
{
    std::vector<std::shared_ptr<DestinationHistory>> byIndex;
    QSet<QString> superseded;
    for (const ScannedHistory& h : scan.histories) {
        // The same folder dropped again to the same place joins the history already taken.
        auto same = std::find_if(histories_.begin(), histories_.end(), [&](const auto& d) {
            return d->root == h.root && d->destFolder == h.destFolder;
        });
        if (same == histories_.end()) {
            auto made = std::make_shared<DestinationHistory>();
            made->root = h.root;
            made->destFolder = h.destFolder;
            made->offloadChain = h.chain;
            made->startsHere = h.chain.empty();
            same = histories_.insert(histories_.end(), std::move(made));
            superseded.insert(h.destFolder + QStringLiteral("ascmhl/"));
        }
        byIndex.push_back(*same);
    }
    // History files an earlier process left unsent (failed, interrupted): the next generation
    // written from the record replaces them, so they are no leftovers that fail every later run.
    if (!superseded.isEmpty()) {
        std::vector<ItemPtr> kept;
        for (const ItemPtr& item : queue.items())
            if (item->isActive() || item->status() == Status::Done || item->status() == Status::Skipped
                || !superseded.contains(item->destDir))
                kept.push_back(item);
        if (kept.size() != queue.items().size())
            queue.keepOnly(std::move(kept));
    }
    // A file already waiting in the queue belongs to its folder's history as much as a new one.
    QHash<QString, ItemPtr> active;
    for (const ItemPtr& item : queue.items())
        if (item->status() == Status::Queued || item->status() == Status::Running || item->status() == Status::Paused)
            active.insert(item->queueKey(), item);
    for (const ItemPtr& item : fresh)
        active.insert(item->queueKey(), item);
    for (const ScannedFile& file : scan.files) {
        if (file.history < 0)
            continue;
        const ItemPtr item = active.value(UploadItem::queueKey(file.path, file.destDir));
        if (!item)
            continue;
        DestinationHistory& history = *byIndex[size_t(file.history)];
        if (history.startsHere && xxh64_ && !item->offloadRecord)
            item->newRecordFormat = HashFormat::Xxh64;
        history.members.push_back(item);
    }
}

std::vector<ItemPtr> DestinationHistories::advance(const QString& origin, const std::shared_ptr<const QueueOwner>& owner,
                                                   std::vector<QString>& notices)
{
    std::vector<ItemPtr> queued;
    for (const std::shared_ptr<DestinationHistory>& history : histories_) {
        DestinationHistory& h = *history;
        if (h.stage == DestinationHistory::Stage::Collecting) {
            bool complete = true, anyLeft = false;
            std::vector<HashListEntry> sent;
            for (const std::weak_ptr<UploadItem>& member : h.members) {
                const ItemPtr item = member.lock();
                if (!item)
                    continue;
                anyLeft = true;
                if (item->status() == Status::Done && item->verified()) {
                    if (!item->md5.empty() && !std::exchange(item->historyNoted, true))
                        sent.push_back(h.entryOf(*item));
                } else if (item->status() != Status::Skipped) {
                    complete = false;
                }
            }
            // Kept at once: a folder finished over several runs lists every file it sent.
            if (!sent.empty() && !record_.addVerified(origin, h.destFolder, sent))
                notices.push_back(QStringLiteral("No se pudo guardar el registro ASC MHL del destino en %1; "
                                                         "compruebe el espacio libre")
                                              .arg(printable(record_.filePath())));
            const DestinationHistoryRecord::Folder& folder = record_.folder(origin, h.destFolder);
            // A folder whose files were all taken out of the list ("Limpiar") is not known to be
            // up: its next drop finishes it.
            if (!anyLeft || !complete || folder.verified.empty())
                continue;   // a file still to go up, or nothing new to write
            const std::vector<ChainEntry>& before = folder.written.empty() ? h.offloadChain : folder.written;
            qint64 generation = 1;
            for (const ChainEntry& entry : before)
                generation = std::max(generation, entry.sequence + 1);
            const QDateTime created = QDateTime::currentDateTimeUtc();
            const QString name = hashListName(generation, QFileInfo(h.root).fileName(), created);
            const QByteArray xml = transferHashListXml({created, QSysInfo::machineHostName(), QString::fromLatin1(build::version)},
                                                       folder.verified);
            // Never in the source folder: the generation is made in the data folder and sent from there.
            h.outgoing = paths::dataDir() + QStringLiteral("/mhl-outgoing/") + QUuid::createUuid().toString(QUuid::WithoutBraces);
            if (!QDir().mkpath(h.outgoing) || !writeWhole(h.outgoing + u'/' + name, xml)) {
                notices.push_back(QStringLiteral("No se pudo preparar el registro ASC MHL de %1 en %2; compruebe el "
                                                         "espacio libre y repita la orden")
                                              .arg(printable(h.destFolder), printable(h.outgoing)));
                continue;
            }
            h.sending.clear();
            const QString destDir = h.destFolder + QStringLiteral("ascmhl/");
            // The offload's generations go up once, with the first written here.
            if (folder.written.empty())
                for (const ChainEntry& entry : h.offloadChain)
                    h.sending.push_back(historyFileItem(h.root + QStringLiteral("/ascmhl/") + entry.name, destDir, owner));
            h.sending.push_back(historyFileItem(h.outgoing + u'/' + name, destDir, owner));
            h.chainAfter = before;
            h.chainAfter.push_back({generation, name, c4Of(xml)});
            h.listed = folder.verified;
            h.stage = DestinationHistory::Stage::HashLists;
            queued.insert(queued.end(), h.sending.begin(), h.sending.end());
        } else if (!allUp(h.sending)) {
            continue;   // a failed one waits for "Reintentar" or the next run
        } else if (h.stage == DestinationHistory::Stage::HashLists) {
            const QString chainPath = h.outgoing + QStringLiteral("/ascmhl_chain.xml");
            if (!writeWhole(chainPath, chainXml(h.chainAfter))) {
                notices.push_back(QStringLiteral("No se pudo preparar el registro ASC MHL de %1 en %2; compruebe el "
                                                         "espacio libre y repita la orden")
                                              .arg(printable(h.destFolder), printable(h.outgoing)));
                continue;
            }
            h.sending = {historyFileItem(chainPath, h.destFolder + QStringLiteral("ascmhl/"), owner)};
            h.stage = DestinationHistory::Stage::Chain;
            queued.insert(queued.end(), h.sending.begin(), h.sending.end());
        } else {
            if (!record_.written(origin, h.destFolder, h.chainAfter, h.listed))
                notices.push_back(QStringLiteral("No se pudo guardar el registro ASC MHL del destino en %1; "
                                                         "compruebe el espacio libre")
                                              .arg(printable(record_.filePath())));
            QDir(h.outgoing).removeRecursively();
            h.sending.clear();
            h.stage = DestinationHistory::Stage::Collecting;
        }
    }
    std::erase_if(histories_, [](const std::shared_ptr<DestinationHistory>& h) {
        return h->stage == DestinationHistory::Stage::Collecting
               && std::none_of(h->members.begin(), h->members.end(), [](const auto& m) { return !m.expired(); });
    });
    return queued;
}

}  // namespace zafrel
