#pragma once
#include "engine/destination/offload_history.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>
#include <vector>

namespace zafrel {

// A path handed to add() that it could not take, or a folder met in a walk that could not be read.
struct IntakeProblem {
    enum class Kind { Missing, Unreadable, NotFileOrFolder };
    QString path;
    Kind kind;
    // One line for the person: "No existe: RUTA", "No se puede leer: RUTA" or "No es un archivo ni
    // una carpeta: RUTA", the path made printable.
    QString text() const;
    bool operator==(const IntakeProblem&) const = default;
};

// A file the intake would queue: where it is, as it is now, and the folder it goes to.
struct ScannedFile {
    QString path;   // absolute
    qint64 size = 0;
    double mtime = 0;
    QString destDir;
    // What the offload's history recorded for it, when it is below a managed folder and recorded.
    std::optional<OffloadRecord> record;
    // The history at the destination it belongs to (an index of IntakeScan::histories), or -1.
    int history = -1;
};

// A folder whose history is extended at the destination once its files are up: a managed folder
// (its chain readable), or a dropped folder without one when a history is to be started there.
struct ScannedHistory {
    QString root;         // absolute
    QString destFolder;   // where it goes: the destination, its name and inner path, "/" at the end
    std::vector<ChainEntry> chain;   // the offload's generations; none when it starts here
};

struct IntakeScan {
    std::vector<ScannedFile> files;   // in queue order
    std::vector<IntakeProblem> problems;
    // What the offload's histories say that is worth a word but stops nothing (offload_intake.h).
    std::vector<QString> notices;
    std::vector<ScannedHistory> histories;
};

// Every regular file that `urls` (files and folders) hold by the intake's rules, bound for `dest`
// (empty or ending with "/") and, below a folder, for the folder's own path under it. The one walk
// of the intake and of the command line's resume matching, so that both agree on every file.
// The files of a managed folder's own ascmhl/ are not among the files: its history goes up as
// one (ScannedHistory). With `startHistories`, a dropped folder without a history gets one.
IntakeScan scanForIntake(const QList<QUrl>& urls, const QString& dest, bool startHistories = false);

}  // namespace zafrel
