#include "engine/file_state.h"
#include "engine/natural_order.h"
#include "engine/upload_manager.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zafrel {

// Symbolic links.
//
// A path handed to add() is followed: a link to a folder is walked under the link's own name, a
// link to a file is queued as that file. Inside a walk, links are never followed into folders, so
// a link pointing back up the tree cannot make the walk loop. A link met in the walk that points
// at a regular file is queued under the link's name with the target's size and date (uploading
// reads through the link, so the object gets the target's content); a broken link, a link to a
// folder and a link to anything else contribute nothing.
//
// Hidden entries are names beginning with "."; nothing below a hidden folder is visited. A folder
// handed to add() is walked even when its own name is hidden. Only regular files become items:
// a pipe, socket or device would block or never end when read, so they are skipped, also when
// handed over directly.

namespace {

struct FileFound {
    QString path;
    qint64 size;
    double mtime;
    QString relativeFolder;
};

struct Entry {
    std::string name;
    bool isFolder = false;
    qint64 size = 0;
    double mtime = 0;
};

// The visible entries of one folder that can contribute: regular files (directly or through a
// link) with their size and date, and real sub-folders. Read whole and closed before anything is
// visited, so that a deep tree never holds more than one descriptor open. The properties are read
// relative to the open folder, without resolving the full path again for every entry.
bool readFolder(const std::string& folder, std::vector<Entry>& entries)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    const int fd = ::dirfd(dir);
    while (const dirent* d = ::readdir(dir)) {
        if (d->d_name[0] == '.')
            continue;   // hidden, and "." and ".."
        Entry entry;
        entry.name = d->d_name;
        if (d->d_type == DT_DIR) {
            entry.isFolder = true;
            entries.push_back(std::move(entry));
            continue;
        }
        if (d->d_type != DT_REG && d->d_type != DT_LNK && d->d_type != DT_UNKNOWN)
            continue;
        struct stat st;
        if (::fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            entry.isFolder = true;
        } else if (S_ISLNK(st.st_mode)) {
            if (::fstatat(fd, d->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
                continue;
        } else if (!S_ISREG(st.st_mode)) {
            continue;
        }
        entry.size = entry.isFolder ? 0 : qint64(st.st_size);
        entry.mtime = entry.isFolder ? 0 : modificationTime(st);
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    // Directory-read order is the file system's whim; a card is queued in the order its clips were
    // shot (A001C002 after A001C001, C2 before C10). Sorting each folder's names, which the walk
    // then visits in turn, orders the whole tree by path.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return naturalLess(a.name, b.name); });
    return true;
}

// Depth first, each folder's entries in natural order of their names (see readFolder), a
// sub-folder visited where it is met. `relative` is the folder's path below the dropped folder's
// parent: the dropped folder's own name, then its sub-folders.
void walk(const std::string& root, const QString& rootRelative, std::vector<FileFound>& found)
{
    struct Frame {
        std::string folder;
        QString relative;
        std::vector<Entry> entries;
        size_t next = 0;
    };
    std::vector<Frame> stack;
    stack.push_back({root, rootRelative, {}, 0});
    if (!readFolder(root, stack.back().entries))
        return;   // the walk cannot start: nothing from this folder

    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.entries.size()) {
            stack.pop_back();
            continue;
        }
        Entry& entry = frame.entries[frame.next++];
        std::string path = frame.folder;
        if (path.empty() || path.back() != '/')
            path += '/';
        path += entry.name;
        const QString name = QFile::decodeName(entry.name.c_str());
        if (entry.isFolder) {
            QString relative = frame.relative.isEmpty() ? name : frame.relative + u'/' + name;
            Frame child{std::move(path), std::move(relative), {}, 0};
            // An unreadable sub-folder is passed over; the walk goes on.
            if (readFolder(child.folder, child.entries))
                stack.push_back(std::move(child));   // invalidates `frame` and `entry`
            continue;
        }
        found.push_back({QFile::decodeName(path.c_str()), entry.size, entry.mtime, frame.relative});
    }
}

// "/Volumes/CARD/CLIPS/" and "/Volumes/CARD/./CLIPS" name the folder CLIPS below /Volumes/CARD.
QString cleanFolderPath(const QString& path)
{
    return QDir::cleanPath(path);
}

QString lastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? path : path.mid(slash + 1);
}

}  // namespace

void UploadManager::add(const QList<QUrl>& urls, const QString& bucket)
{
    this->bucket = bucket;
    const QString dest = destDir_;
    std::vector<ItemPtr> fresh;

    for (const QUrl& url : urls) {
        const QString path = url.toLocalFile();
        if (path.isEmpty())
            continue;
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            continue;

        if (S_ISDIR(st.st_mode)) {
            const QString folder = cleanFolderPath(path);
            std::vector<FileFound> found;
            walk(QFile::encodeName(folder).toStdString(), lastComponent(folder), found);
            fresh.reserve(fresh.size() + found.size());
            for (FileFound& file : found) {
                QString itemDest = file.relativeFolder.isEmpty() ? dest : dest + file.relativeFolder + u'/';
                fresh.push_back(std::make_shared<UploadItem>(QUuid::createUuid(), QUrl::fromLocalFile(file.path),
                                                             file.size, file.mtime, std::move(itemDest)));
            }
            continue;
        }

        if (!S_ISREG(st.st_mode))
            continue;
        if (lastComponent(path).startsWith(u'.'))
            continue;
        fresh.push_back(std::make_shared<UploadItem>(QUuid::createUuid(), url, qint64(st.st_size),
                                                     modificationTime(st), dest));
    }

    // Only items that still wait or hold a place block a second copy; finished, failed and
    // cancelled ones do not. New items are not compared with each other.
    QSet<QString> taken;
    for (const ItemPtr& item : items_) {
        const Status s = item->status();
        if (s == Status::Queued || s == Status::Running || s == Status::Paused)
            taken.insert(item->queueKey());
    }
    std::vector<ItemPtr> queue = items_;
    queue.reserve(queue.size() + fresh.size());
    for (ItemPtr& item : fresh) {
        if (taken.isEmpty() || !taken.contains(item->queueKey()))
            queue.push_back(std::move(item));
    }
    setItems(std::move(queue));

    persistNow();
    start();
}

}  // namespace zafrel
