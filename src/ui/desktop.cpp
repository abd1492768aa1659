#include "ui/desktop.h"

#include "client/zafrel_api.h"
#include "engine/upload_manager.h"
#include "session/session_model.h"
#include "ui/icons.h"
#include "ui/main_view.h"
#include "ui/main_window.h"
#include "ui/root_view.h"
#include "ui/translations.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

namespace zafrel::ui {

Desktop::Desktop(ZafrelAPI& api, std::unique_ptr<HttpTransport> uploadTransport)
{
    ensureResources();
    installSpanishTranslations();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/symbol.png")));
    QGuiApplication::setDesktopFileName(QStringLiteral("zafrel"));
    session_ = std::make_unique<SessionModel>(api);
    uploader_ = std::make_unique<UploadManager>(api, EngineLimits{}, std::move(uploadTransport));

    window_ = std::make_unique<MainWindow>();
    // One window only, and no menu that could open another.
    root_ = new RootView(*session_, *uploader_, window_.get());
    window_->setCentralWidget(root_);
    MainView* main = root_->mainView();
    window_->setCloseGuard([main](std::function<void()> closeAnyway) { return main->allowClose(std::move(closeAnyway)); });
    window_->show();
}

Desktop::~Desktop()
{
    if (window_)
        window_->rememberGeometry();
    window_.reset();
    uploader_.reset();
    session_.reset();
}

std::unique_ptr<Desktop> startDesktop(const QList<QUrl>& openAtStart)
{
    auto desktop = std::make_unique<Desktop>(ZafrelAPI::shared());
    if (!openAtStart.isEmpty())
        desktop->rootView().mainView()->openAtStart(openAtStart);
    return desktop;
}

void showRefusal(const QString& message)
{
    ensureResources();
    installSpanishTranslations();
    QMessageBox::warning(nullptr, QStringLiteral("Zafrel"), message);
}

}  // namespace zafrel::ui
