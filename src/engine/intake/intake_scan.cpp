#include "engine/transfer/file_state.h"
#include "engine/intake/natural_order.h"
#include "engine/intake/intake_scan.h"
#include "engine/intake/offload_intake.h"

#include <QDir>
#include <QFile>

#include "platform/path_io.h"
#include "platform/printable.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <span>
#include <string>
#include <utility>
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
// a pipe, socket or device would block or never end when read, so they are skipped. What cannot
// be taken among the paths handed to add() (missing, unreadable, neither file nor folder) and every
// folder of a walk that cannot be read are answered as problems, so that nothing is left out
// without a word.

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

// An open folder, closed when the walk leaves it.
class FolderHandle {
public:
    explicit FolderHandle(int fd = -1) : fd_(fd) {}
    FolderHandle(FolderHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FolderHandle& operator=(FolderHandle&& other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~FolderHandle()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

// The visible entries of the open folder `folder` that can contribute: regular files (directly or
// through a link) with their size and date, and real sub-folders. The listing is read whole and
// closed before anything is visited; the folder itself stays open for opening its sub-folders
// relative to it, so one descriptor is held per level of depth and no path is ever resolved
// whole again (a path below a deep tree may be longer than the system accepts in one call).
//
// An entry that cannot be examined (a sub-folder that can be listed but not entered, a link that
// loops, an I/O error) and a listing that fails part-way are told to `problems` under `path`, the
// folder's own path, so that nothing is left out without a word; an entry gone since the listing,
// and a broken link, contribute nothing. Answers false when the folder cannot be listed at all.
bool readFolder(int folder, const std::string& path, std::vector<Entry>& entries, std::vector<IntakeProblem>& problems)
{
    const auto unreadable = [&](const char* name) {
        std::string full = path;
        if (name) {
            if (full.empty() || full.back() != '/')
                full += '/';
            full += name;
        }
        problems.push_back({QFile::decodeName(full.c_str()), IntakeProblem::Kind::Unreadable});
    };
    const int listing = ::dup(folder);
    DIR* dir = listing < 0 ? nullptr : ::fdopendir(listing);
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return false;
    }
    ::rewinddir(dir);
    for (;;) {
        errno = 0;
        const dirent* d = ::readdir(dir);
        if (!d) {
            if (errno != 0)
                unreadable(nullptr);   // the listing broke off: what it did not reach is unknown
            break;
        }
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
        if (::fstatat(folder, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                unreadable(d->d_name);
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            entry.isFolder = true;
        } else if (S_ISLNK(st.st_mode)) {
            if (::fstatat(folder, d->d_name, &st, 0) != 0) {
                if (errno != ENOENT && errno != ENOTDIR)   // a broken link is no file
                    unreadable(d->d_name);
                continue;
            }
            if (!S_ISREG(st.st_mode))
                continue;
        } else if (!S_ISREG(st.st_mode)) {
            continue;
        }
        // A file the walk could list but that could not be read would only fail later, and after
        // the run had already said nothing about it.
        if (!entry.isFolder && ::faccessat(folder, d->d_name, R_OK, AT_EACCESS) != 0) {
            unreadable(d->d_name);
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

int openFolderAt(int parent, const char* name)
{
    int fd;
    do {
        // Never through a link: a sub-folder is entered only as the real folder the listing saw.
        fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Depth first, each folder's entries in natural order of their names (see readFolder), a
// sub-folder visited where it is met. `relative` is the folder's path below the dropped folder's
// parent: the dropped folder's own name, then its sub-folders. A folder that cannot be opened or
// listed, the given one included, is told to `problems` and contributes nothing; the walk goes on.
void walk(const QString& root, const QString& rootRelative, std::vector<FileFound>& found,
          std::vector<IntakeProblem>& problems)
{
    struct Frame {
        FolderHandle folder;
        std::string path;
        QString relative;
        std::vector<Entry> entries;
        size_t next = 0;
    };
    std::vector<Frame> stack;
    Frame first{FolderHandle(openPath(root, O_RDONLY | O_DIRECTORY)), QFile::encodeName(root).toStdString(),
                rootRelative, {}, 0};
    if (first.folder.fd() < 0 || !readFolder(first.folder.fd(), first.path, first.entries, problems)) {
        problems.push_back({root, IntakeProblem::Kind::Unreadable});
        return;
    }
    stack.push_back(std::move(first));

    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.entries.size()) {
            stack.pop_back();
            continue;
        }
        Entry& entry = frame.entries[frame.next++];
        std::string path = frame.path;
        if (path.empty() || path.back() != '/')
            path += '/';
        path += entry.name;
        const QString name = QFile::decodeName(entry.name.c_str());
        if (entry.isFolder) {
            QString relative = frame.relative.isEmpty() ? name : frame.relative + u'/' + name;
            Frame child{FolderHandle(openFolderAt(frame.folder.fd(), entry.name.c_str())), std::move(path),
                        std::move(relative), {}, 0};
            if (child.folder.fd() >= 0 && readFolder(child.folder.fd(), child.path, child.entries, problems))
                stack.push_back(std::move(child));   // invalidates `frame` and `entry`
            else
                problems.push_back({QFile::decodeName(child.path.c_str()), IntakeProblem::Kind::Unreadable});
            continue;
        }
        found.push_back({QFile::decodeName(path.c_str()), entry.size, entry.mtime, frame.relative});
    }
}

// Why a path given to add() cannot be looked at, from stat's errno.
IntakeProblem::Kind kindOfFailure(int error)
{
    return error == ENOENT || error == ENOTDIR ? IntakeProblem::Kind::Missing : IntakeProblem::Kind::Unreadable;
}

bool canRead(const QString& file)
{
    const int fd = openPath(file, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
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

QString IntakeProblem::text() const
{
    switch (kind) {
    case Kind::Missing:
        return QStringLiteral("No existe: ") + printable(path);
    case Kind::Unreadable:
        return QStringLiteral("No se puede leer: ") + printable(path);
    case Kind::NotFileOrFolder:
        break;
    }
    return QStringLiteral("No es un archivo ni una carpeta: ") + printable(path);
}

IntakeScan scanForIntake(const QList<QUrl>& urls, const QString& dest, bool startHistories)
{
    IntakeScan scan;
    for (const QUrl& url : urls) {
        const QString path = url.toLocalFile();
        if (path.isEmpty())
            continue;
        struct stat st;
        if (statPath(path, st) != 0) {
            scan.problems.push_back({path, kindOfFailure(errno)});
            continue;
        }

        if (S_ISDIR(st.st_mode)) {
            const QString folder = cleanFolderPath(path);
            std::vector<FileFound> found;
            walk(folder, lastComponent(folder), found, scan.problems);
            const size_t first = scan.files.size();
            scan.files.reserve(first + found.size());
            for (FileFound& file : found) {
                QString itemDest = file.relativeFolder.isEmpty() ? dest : dest + file.relativeFolder + u'/';
                scan.files.push_back({std::move(file.path), file.size, file.mtime, std::move(itemDest), std::nullopt});
            }
            attachOffloadRecords(scan, first, folder, dest + lastComponent(folder) + u'/', startHistories);
            continue;
        }

        if (!S_ISREG(st.st_mode)) {
            scan.problems.push_back({path, IntakeProblem::Kind::NotFileOrFolder});
            continue;
        }
        if (lastComponent(path).startsWith(u'.'))
            continue;
        if (!canRead(path)) {
            scan.problems.push_back({path, IntakeProblem::Kind::Unreadable});
            continue;
        }
        scan.files.push_back({path, qint64(st.st_size), modificationTime(st), dest, std::nullopt});
    }
    return scan;
}

}  // namespace zafrel
