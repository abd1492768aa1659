#include "engine/queue/queue_store.h"

#include "engine/transfer/file_state.h"
#include "engine/queue/queue_file.h"
#include "engine/queue/queue_salvage.h"
#include "engine/queue/upload_queue.h"
#include "platform/atomic_file.h"
#include "platform/write_failures.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QRegularExpression>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>
#include <chrono>

namespace zafrel {

namespace {
// Below this many entries a restore is quick enough on this thread alone.
constexpr size_t kParallelRestoreThreshold = 2000;
}  // namespace

QueueStore::QueueStore(QString queuePath, QString journalPath, const UploadQueue& queue)
    : queuePath_(std::move(queuePath)),
      journalPath_(std::move(journalPath)),
      queue_(queue),
      journal_(queuePath_, journalPath_)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(std::chrono::milliseconds(kPersistDelayMs));
    QObject::connect(&timer_, &QTimer::timeout, [this] { flushPersisted(); });
}

void QueueStore::schedule()
{
    if (!timer_.isActive())
        timer_.start();
}

void QueueStore::persist(const UploadItem& item)
{
    if (closed_)
        return;
    journal_.add(journalItemRecord(item));
    schedule();
}

void QueueStore::persistPart(const UploadItem& item, int64_t part)
{
    if (closed_)
        return;
    journal_.add(journalPartRecord(item, part));
    schedule();
}

void QueueStore::flushPersisted()
{
    timer_.stop();
    if (closed_ || !journal_.hasPending())
        return;
    if (!journal_.flush()) {
        persistNow();   // the records cannot continue the file on disk: the queue goes whole
        return;
    }
    if (journal_.journalBytes() > std::max(kFoldJournalBytes, journal_.baseBytes()))
        persistNow();
}

void QueueStore::persistNow()
{
    if (!closed_)
        writeWhole(queue_.whole());
}

void QueueStore::close()
{
    flushPersisted();
    closed_ = true;
}

void QueueStore::writeWhole(const std::vector<ItemPtr>& items)
{
    timer_.stop();
    const QByteArray bytes = encodeQueue(items);
    // A write that fails leaves the previous file and its journal in place, and the records not yet
    // written stay for that journal; the person hears of it once, since a crash now would cost the
    // progress since the last write.
    if (writeFileAtomically(queuePath_, bytes))
        journal_.restartAfter(bytes);
    else
        WriteFailures::instance().queueNotSaved(queuePath_);
}

void QueueStore::removeLeftoverTemporaries() const
{
    // writeFileAtomically writes through "<file>.XXXXXX" (mkostemp); a process killed between
    // creating and renaming it leaves it behind. Only this process works on the queue now.
    const QFileInfo queue(queuePath_);
    const QRegularExpression temporary(QStringLiteral("^") + QRegularExpression::escape(queue.fileName())
                                       + QStringLiteral("\\.[A-Za-z0-9]{6}$"));
    QDir folder = queue.dir();
    for (const QString& name : folder.entryList({queue.fileName() + QStringLiteral(".*")}, QDir::Files | QDir::Hidden))
        if (temporary.match(name).hasMatch())
            folder.remove(name);
}

QueueStore::Restored QueueStore::setAside(const QByteArray& bytes)
{
    // Taken as an empty queue without a word, its files would be sent whole again and its open
    // uploads left stored (and billed): it is kept for a person to look at, and said.
    const QString aside = queuePath_ + QStringLiteral(".dañado-")
                          + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const bool kept = QFile::rename(queuePath_, aside);
    WriteFailures::instance().queueUnreadable(queuePath_, kept ? aside : QString());
    Restored restored;
    restored.abandonedUploads = openUploadsNamedIn(bytes);
    return restored;
}

std::optional<QueueStore::Restored> QueueStore::restore()
{
    removeLeftoverTemporaries();
    QFile file(queuePath_);
    if (!file.exists())
        return std::nullopt;
    QByteArray bytes;
    bool read = file.open(QIODevice::ReadOnly);
    if (read) {
        bytes = file.readAll();
        read = file.error() == QFileDevice::NoError;
    }
    file.close();

    auto snapshots = read ? decodeQueue(bytes) : std::nullopt;
    if (!snapshots)
        return setAside(bytes);
    // What the last run recorded after the queue file was written whole.
    QFile journalFile(journalPath_);
    const bool continued = journalFile.open(QIODevice::ReadOnly) && applyJournal(journalFile.readAll(), bytes, *snapshots);
    journalFile.close();

    // Whether each file can be reached is independent per entry and costs much of a large restore (a
    // path lookup each). This thread and helpers on the pool take slices from a shared counter
    // until none is left, so the work spreads over the cores when they are free and this thread
    // simply does it all when the pool is slow to start. The items, which belong to this thread,
    // are made here afterwards.
    const size_t count = snapshots->size();
    std::vector<FilePresence> presence(count, FilePresence::Unavailable);
    std::atomic<size_t> nextSlice{0};
    const auto examine = [&] {
        constexpr size_t kSlice = 256;
        for (;;) {
            const size_t begin = nextSlice.fetch_add(1, std::memory_order_relaxed) * kSlice;
            if (begin >= count)
                return;
            const size_t end = std::min(count, begin + kSlice);
            for (size_t i = begin; i < end; ++i) {
                presence[i] = lookAtFile((*snapshots)[i].path).presence;
            }
        }
    };
    std::vector<QFuture<void>> helpers;
    if (count >= kParallelRestoreThreshold) {
        for (int t = 1; t < QThreadPool::globalInstance()->maxThreadCount(); ++t)
            helpers.push_back(QtConcurrent::run(QThreadPool::globalInstance(), examine));
    }
    examine();
    for (QFuture<void>& helper : helpers)
        helper.waitForFinished();

    Restored restored;
    restored.items.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        Snapshot& s = (*snapshots)[i];
        if (presence[i] == FilePresence::Gone) {
            // Deleted or renamed in a folder that is there: dropped, and gone from the file at the
            // next write. Its open upload could never be continued, so its parts are not left
            // stored at the service. A file that is merely out of reach (a card not mounted yet, a
            // folder moved away, no permission) keeps its item, upload and parts: it waits.
            if (s.key && s.uploadId)
                restored.abandonedUploads.emplace_back(s.key->toStdString(), s.uploadId->toStdString());
            continue;
        }
        auto item = std::make_shared<UploadItem>(s.id, std::move(s.path), s.size, s.mtime, s.destDir);
        item->restoreFrom({std::move(s.key), std::move(s.uploadId), s.partSize, std::move(s.etags)});
        if (s.status == Status::Error) {
            item->setStatus(Status::Error);
            item->setError(QStringLiteral("Pendiente de reintento"));
        } else if (s.status == Status::Cancelled) {
            item->setStatus(Status::Cancelled);
        } else {
            item->setStatus(Status::Paused);
            if (presence[i] == FilePresence::Unavailable)
                item->setError(QString::fromUtf8(kFileUnavailable));
        }
        restored.items.push_back(std::move(item));
    }
    // Folded at once: the queue file shows where things stand, and the journal starts afresh.
    if (continued)
        writeWhole(restored.items);
    else
        journal_.restartAfter(bytes);
    return restored;
}

}  // namespace zafrel
