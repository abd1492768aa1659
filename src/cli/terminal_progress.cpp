#include "cli/terminal_progress.h"

#include "cli/process_exit.h"
#include "engine/upload_manager.h"
#include "platform/printable.h"
#include "present/run_text.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace zafrel {

namespace {

// A line longer than the terminal wraps, and "\r" then rewrites only its last row: the line is
// cut to fit, one column short so that the cursor never moves to the next row.
int terminalColumns()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1)
        return size.ws_col - 1;
    return 79;
}

QString fileInHand(const UploadManager& manager)
{
    for (const ItemPtr& item : manager.items())
        if (item->status() == Status::Running)
            return printable(item->name);
    return {};
}

}  // namespace

TerminalProgress::TerminalProgress(const UploadManager& manager)
    : manager_(manager)
    , enabled_(::isatty(STDERR_FILENO) == 1)
    , firstRun_(manager.lastRun() ? manager.lastRun()->number : 0)
{
    timeLeft_.restart(Clock::now());
}

TerminalProgress::~TerminalProgress()
{
    clear();
}

void TerminalProgress::update()
{
    const Clock::time_point now = Clock::now();
    if (!enabled_ || now - lastDrawn_ < kMinimumInterval)
        return;
    lastDrawn_ = now;
    const RunProgress progress = runProgress(manager_.items(), firstRun_);
    const auto secondsLeft = timeLeft_.update(now, progress.bytes - progress.sent, manager_.speed());
    QString line = runningText(progress, manager_.speed(), secondsLeft);
    if (const QString file = fileInHand(manager_); !file.isEmpty())
        line += QStringLiteral(" · ") + file;
    showProgressLine(line.left(terminalColumns()));
}

void TerminalProgress::clear()
{
    if (enabled_)
        clearProgressLine();
}

}  // namespace zafrel
