// Continuing an interrupted command-line run.
//
// A run that was killed leaves its unfinished items in the queue file, where they come back
// paused (or in error). A paused item keeps add() from queueing the same file for the same place
// again, so the same command given once more would queue nothing, upload nothing and end as a
// success. resumeMatching() lets that command take its own leftovers up again: the items it would
// queue now continue where they stopped (a multipart upload keeps its stored parts, unless its
// file changed since), the others start from the beginning with the file as it is now, and items
// it does not name stay as they are.
#include "engine/upload_manager.h"

#include <QDir>
#include <QFileInfo>

namespace zafrel {

namespace {

// Whether add(urls) with destination `dest` would make an item of the file at `path` bound for
// `destDir`: the file given itself, or a visible file below a given folder whose relative folder
// gives that destination. Follows the intake's rules: hidden names are skipped, sub-folders are
// only entered when they are real folders (never through links).
bool wouldQueue(const QString& path, const QString& destDir, const QList<QUrl>& urls, const QString& dest)
{
    for (const QUrl& url : urls) {
        const QString given = url.toLocalFile();
        const QFileInfo info(given);
        if (given.isEmpty() || !info.exists())
            continue;
        if (info.isFile()) {
            if (given == path && destDir == dest && !info.fileName().startsWith(u'.'))
                return true;
            continue;
        }
        if (!info.isDir())
            continue;
        const QString folder = QDir::cleanPath(given);
        const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
        if (!path.startsWith(prefix))
            continue;
        const QStringList below = path.mid(prefix.size()).split(u'/');
        bool visible = true;
        QString walked = folder;
        for (qsizetype i = 0; i < below.size() && visible; ++i) {
            walked += u'/' + below[i];
            visible = !below[i].isEmpty() && !below[i].startsWith(u'.')
                      && (i + 1 == below.size() || !QFileInfo(walked).isSymLink());
        }
        if (!visible)
            continue;
        QString relative = QFileInfo(folder).fileName();
        for (qsizetype i = 0; i + 1 < below.size(); ++i)
            relative += (relative.isEmpty() ? QString() : QStringLiteral("/")) + below[i];
        const QString expected = relative.isEmpty() ? dest : dest + relative + u'/';
        if (destDir == expected && QFileInfo(path).isFile())
            return true;
    }
    return false;
}

}  // namespace

void UploadManager::resumeMatching(const QList<QUrl>& urls)
{
    for (const ItemPtr& item : items_) {
        const Status status = item->status();
        if (status != Status::Paused && status != Status::Error)
            continue;
        if (!wouldQueue(item->path, item->destDir, urls, destDir_))
            continue;
        // Queued again as retry() does: a failed item left alone would be queued a second time
        // beside it, and its stale failure would keep the run's result at "error" after the file
        // went up. An open multipart upload goes on with its verified parts.
        queueAgain(item);
    }
}

}  // namespace zafrel
