#pragma once
// Small helpers of the desktop tests: a clean slate per test, items without a run, finding and
// pressing widgets.
#include "engine/upload_item.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "support/test_env.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTextDocument>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include <algorithm>
#include <memory>

namespace zafrel::test {

// No queue file and nothing remembered (e-mail, destination, window, chooser folder): every desktop
// test starts like a first run.
inline void resetDesktopState()
{
    QFile::remove(paths::dataDir() + QStringLiteral("/queue.json"));
    QFile::remove(paths::dataDir() + QStringLiteral("/cookies.txt"));
    settings::setValue(QStringLiteral("email"), QString());
    settings::setValue(QStringLiteral("destDir"), QString());
    settings::setValue(QStringLiteral("windowGeometry"), QString());
    settings::setValue(QStringLiteral("chooserFolder"), QString());
}

// A file of `size` bytes at `path` (folders created).
inline QString makeFile(const QString& path, qint64 size = 10)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(QByteArray(size, 'z'));
    return path;
}

// An item as the intake would create it, in `status`.
inline ItemPtr makeItem(const QString& name, qint64 size, Status status = Status::Queued,
                        const QString& destDir = QStringLiteral("Rodaje/"))
{
    auto item = std::make_shared<UploadItem>(QUuid::createUuid(), QUrl::fromLocalFile(sandboxDir() + "/files/" + name), size,
                                             0.0, destDir);
    item->setStatus(status);
    return item;
}

template<class W>
W* findNamed(const QWidget* root, const QString& name)
{
    return root ? root->findChild<W*>(name) : nullptr;
}

// The visible button with exactly this text below `root`, or null.
inline QAbstractButton* buttonWithText(const QWidget* root, const QString& text)
{
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
        if (button->text() == text && button->isVisibleTo(root->window()))
            return button;
    return nullptr;
}

// What a person sees of a label's or tooltip's text: rendered as Qt renders it, as rich text when
// the format says so or (automatic format, the default of labels and tooltips) when it looks so.
inline QString seenText(const QString& text, Qt::TextFormat format = Qt::AutoText)
{
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}
inline QString seenText(const QLabel* label) { return seenText(label->text(), label->textFormat()); }

// A text from a hostile service or disk, and whether it was shown as written: markup as
// characters, no control character.
inline const QString kMarkupAndControls = QStringLiteral("<h1>Grande</h1>\n\x1b]0;pwn\x07");
inline bool shownAsWritten(const QString& seen)
{
    return seen.contains(QStringLiteral("<h1>Grande</h1> ]0;pwn"))
        && std::none_of(seen.begin(), seen.end(), [](QChar c) { return c.unicode() < 0x20; });
}

// Lets queued calls, spawned tasks and repaint timers run for a moment.
inline void settle(std::chrono::milliseconds time = std::chrono::milliseconds(150))
{
    runUntil([] { return false; }, time);
}

}  // namespace zafrel::test
