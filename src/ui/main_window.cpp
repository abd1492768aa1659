#include "ui/main_window.h"

#include "platform/settings.h"
#include "ui/icons.h"

#include <QCloseEvent>
#include <QIcon>
#include <QPointer>

namespace zafrel::ui {

namespace {
constexpr int kMinimumWidth = 560;
constexpr int kMinimumHeight = 520;
const QString kGeometryKey = QStringLiteral("windowGeometry");
}  // namespace

MainWindow::MainWindow()
{
    ensureResources();
    setWindowTitle(QStringLiteral("Zafrel"));
    setWindowIcon(QIcon(QStringLiteral(":/symbol.png")));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    const auto stored = settings::value(kGeometryKey);
    if (!stored || !restoreGeometry(QByteArray::fromBase64(stored->toLatin1())))
        resize(720, 680);
}

void MainWindow::rememberGeometry() const
{
    settings::setValue(kGeometryKey, QString::fromLatin1(saveGeometry().toBase64()));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!closeAgreed_ && guard_) {
        QPointer<MainWindow> self(this);
        const bool now = guard_([self] {
            if (!self)
                return;
            self->closeAgreed_ = true;
            self->close();
        });
        if (!now) {
            event->ignore();
            return;
        }
    }
    rememberGeometry();
    QMainWindow::closeEvent(event);
}

}  // namespace zafrel::ui
