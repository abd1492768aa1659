#include "ui/desktop.h"

#include "client/zafrel_api.h"
#include "engine/upload_manager.h"
#include "session/session_model.h"
#include "ui/icons.h"
#include "ui/root_view.h"

#include <QMainWindow>

namespace zafrel::ui {

namespace {
constexpr int kMinimumWidth = 560;
constexpr int kMinimumHeight = 520;
}  // namespace

Desktop::Desktop(ZafrelAPI& api)
{
    ensureResources();
    session_ = std::make_unique<SessionModel>(api);
    uploader_ = std::make_unique<UploadManager>(api);

    window_ = std::make_unique<QMainWindow>();
    window_->setWindowTitle(QStringLiteral("Zafrel"));
    // One window only, and no menu that could open another.
    root_ = new RootView(*session_, *uploader_, window_.get());
    window_->setCentralWidget(root_);
    window_->setMinimumSize(kMinimumWidth, kMinimumHeight);
    window_->resize(720, 680);
    window_->show();
}

Desktop::~Desktop()
{
    window_.reset();
    uploader_.reset();
    session_.reset();
}

std::unique_ptr<QObject> startDesktop()
{
    return std::make_unique<Desktop>(ZafrelAPI::shared());
}

}  // namespace zafrel::ui
