#pragma once
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

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
    // The queue file could not be read and was set aside as `aside` (empty when even that failed).
    void queueUnreadable(const QString& file, const QString& aside);

    // Everything told so far, in order: for a listener that comes later (the window is made after
    // the queue was restored).
    const QStringList& told() const { return messages_; }

signals:
    // A whole line in Spanish: what could not be saved, where, and what to do.
    void failed(const QString& message);

private:
    void tell(const QString& file, const QString& message);

    QSet<QString> told_;
    QStringList messages_;
};

}  // namespace zafrel
