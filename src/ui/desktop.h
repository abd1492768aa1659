#pragma once
#include "platform/http.h"
#include "ui/main_window.h"

#include <QList>
#include <QObject>
#include <QUrl>

#include <memory>


namespace zafrel {
class SessionModel;
class UploadManager;
class ZafrelAPI;
}  // namespace zafrel

namespace zafrel::ui {

class RootView;

// The desktop program: the one session model, the one upload engine and the one window, created
// in that order and kept for the life of the process.
class Desktop : public QObject {
    Q_OBJECT
public:
    // Creates everything and shows the window. Without `uploadTransport` the engine sends its
    // files through libcurl (the program's case); tests hand an in-process one.
    explicit Desktop(ZafrelAPI& api, std::unique_ptr<HttpTransport> uploadTransport = nullptr);
    // The window goes first, then the engine, then the session.
    ~Desktop() override;

    SessionModel& session() const { return *session_; }
    UploadManager& uploader() const { return *uploader_; }
    MainWindow& window() const { return *window_; }
    RootView& rootView() const { return *root_; }

private:
    std::unique_ptr<SessionModel> session_;
    std::unique_ptr<UploadManager> uploader_;
    std::unique_ptr<MainWindow> window_;
    RootView* root_ = nullptr;
};

// Starts the desktop program with the process-wide service client and answers it; the files of
// `openAtStart` (handed over by a launcher) go to the queue once someone is signed in. Needs a
// QApplication.
std::unique_ptr<Desktop> startDesktop(const QList<QUrl>& openAtStart = {});

// Instead of the window, when another process has the queue: says `message` and returns when the
// person has read it.
void showRefusal(const QString& message);

}  // namespace zafrel::ui
