#pragma once
#include <QObject>
#include <QSet>
#include <QString>

namespace zafrel {

// Files of the program's own (settings, queue, the session's cookies) that could not be written: a
// full disk or a folder that takes no writes. The old file stays in place and the process goes on
// with what it holds in memory, but the person has to know, once per file, not at every write.
// Main thread only.
class WriteFailures : public QObject {
    Q_OBJECT
public:
    static WriteFailures& instance();

    // Tells failed() the first time `file` fails in this process.
    void settingsNotSaved(const QString& file);
    void queueNotSaved(const QString& file);
    void sessionNotSaved(const QString& file);

signals:
    // A whole line in Spanish: what could not be saved, where, and what to do.
    void failed(const QString& message);

private:
    void tell(const QString& file, const QString& message);

    QSet<QString> told_;
};

}  // namespace zafrel
