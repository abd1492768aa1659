#include "ui/main_view.h"

#include "client/zafrel_api.h"
#include "engine/upload_manager.h"
#include "platform/async.h"
#include "platform/printable.h"
#include "session/session_model.h"
#include "ui/destination_picker.h"
#include "ui/drop_zone.h"
#include "ui/elided_label.h"
#include "ui/file_chooser.h"
#include "ui/footer_bar.h"
#include "ui/icons.h"
#include "ui/plain_text.h"
#include "ui/queue_model.h"
#include "ui/report_view.h"
#include "ui/style.h"
#include "ui/upload_row_delegate.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace zafrel::ui {

namespace {

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

}  // namespace

QString destinationText(const QString& destDir, bool hasCompany)
{
    if (!destDir.isEmpty()) {
        qsizetype first = 0;
        qsizetype end = destDir.size();
        while (first < end && destDir[first] == QLatin1Char('/'))
            ++first;
        while (end > first && destDir[end - 1] == QLatin1Char('/'))
            --end;
        return destDir.mid(first, end - first);
    }
    return hasCompany ? QStringLiteral("Raíz de la empresa") : QStringLiteral("Elige la carpeta de una empresa");
}

MainView::MainView(SessionModel& session, UploadManager& up, QWidget* parent)
    : QWidget(parent), session_(session), up_(up)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    column->addWidget(buildHeader());
    column->addWidget(divider(this));

    auto* dropArea = new QWidget(this);
    auto* dropLayout = new QVBoxLayout(dropArea);
    dropLayout->setContentsMargins(16, 16, 16, 16);
    dropZone_ = new DropZone(dropArea);
    dropZone_->setObjectName("dropZone");
    dropLayout->addWidget(dropZone_);
    column->addWidget(dropArea);

    queueArea_ = new QWidget(this);
    auto* queueLayout = new QVBoxLayout(queueArea_);
    queueLayout->setContentsMargins(0, 0, 0, 0);
    queueLayout->setSpacing(0);
    queueLayout->addWidget(divider(queueArea_));
    model_ = new QueueModel(up_, this);
    delegate_ = new UploadRowDelegate(*model_, up_, this);
    queue_ = new QListView(queueArea_);
    queue_->setObjectName("queue");
    queue_->setModel(model_);
    queue_->setItemDelegate(delegate_);
    // Every row has the same height: the view then lays out 100,000 rows as cheaply as 10.
    queue_->setUniformItemSizes(true);
    queue_->setSelectionMode(QAbstractItemView::NoSelection);
    queue_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    queue_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    queue_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    queue_->setMouseTracking(true);
    queue_->setFrameShape(QFrame::NoFrame);
    queue_->setMinimumHeight(160);
    queueLayout->addWidget(queue_, 1);
    column->addWidget(queueArea_, 1);
    filler_ = new QWidget(this);
    column->addWidget(filler_, 1);

    column->addWidget(divider(this));
    footer_ = new FooterBar(up_, this);
    column->addWidget(footer_);

    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(60);
    connect(&refreshTimer_, &QTimer::timeout, this, &MainView::refresh);
    // The report of a long queue is megabytes of text: an open sheet follows the queue calmly.
    reportTimer_.setSingleShot(true);
    reportTimer_.setInterval(500);
    connect(&reportTimer_, &QTimer::timeout, this, &MainView::refreshReport);

    connect(dropZone_, &DropZone::dropped, this, [this](const QList<QUrl>& urls) { acceptDrop(urls); });
    connect(dropZone_, &DropZone::chooseRequested, this, &MainView::openPanel);
    connect(footer_, &FooterBar::reportRequested, this, &MainView::openReport);

    connect(&up_, &UploadManager::itemsChanged, this, &MainView::scheduleRefresh);
    connect(&up_, &UploadManager::isRunningChanged, this, &MainView::scheduleRefresh);
    connect(&up_, &UploadManager::speedChanged, this, &MainView::scheduleRefresh);
    connect(&up_, &UploadManager::routeChanged, this, &MainView::scheduleRefresh);
    connect(model_, &QueueModel::itemsTouched, this, &MainView::scheduleRefresh);
    connect(&up_, &UploadManager::destDirChanged, this, &MainView::refreshHeader);
    connect(&session_, &SessionModel::userChanged, this, &MainView::refreshHeader);

    refreshHeader();
    refresh();
}

QWidget* MainView::buildHeader()
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(16, 12, 16, 12);
    row->setSpacing(12);

    auto* lines = new QVBoxLayout;
    lines->setSpacing(2);
    title_ = new QLabel(header);
    title_->setObjectName("companyTitle");
    title_->setFont(headlineFont());
    lines->addWidget(title_);

    auto* destinationRow = new QHBoxLayout;
    destinationRow->setSpacing(6);
    auto* folder = new QLabel(header);
    const int symbolSize = QFontMetrics(calloutFont()).height() - 2;
    folder->setPixmap(symbolPixmap(QStringLiteral("folder"), secondaryColor(), symbolSize, devicePixelRatioF()));
    folder->setFixedSize(symbolSize, symbolSize);
    destination_ = new ElidedLabel(Qt::ElideLeft, header);
    destination_->setObjectName("destination");
    destination_->setFont(calloutFont());
    setTextColor(destination_, secondaryColor());
    destinationRow->addWidget(folder);
    destinationRow->addWidget(destination_, 1);
    lines->addLayout(destinationRow);
    row->addLayout(lines, 1);

    changeDestination_ = new QPushButton(QStringLiteral("Cambiar destino…"), header);
    changeDestination_->setObjectName("changeDestination");
    giveRoom(changeDestination_);
    row->addWidget(changeDestination_);
    connect(changeDestination_, &QPushButton::clicked, this, &MainView::openPicker);

    account_ = new QToolButton(header);
    account_->setObjectName("account");
    account_->setAutoRaise(true);
    account_->setPopupMode(QToolButton::InstantPopup);
    account_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    account_->setIcon(symbolIcon(QStringLiteral("person.circle"), secondaryColor(), 20));
    account_->setIconSize(QSize(20, 20));
    account_->setFixedWidth(28);
    account_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0px; }"));
    accountMenu_ = new QMenu(account_);
    account_->setMenu(accountMenu_);
    row->addWidget(account_);
    return header;
}

DestinationPicker* MainView::picker() const
{
    return picker_;
}

ReportView* MainView::report() const
{
    return report_;
}

void MainView::showAnew()
{
    if (picker_)
        picker_->reject();
    if (report_)
        report_->reject();
    refreshHeader();
    refresh();
}

bool MainView::needsCompany() const
{
    const auto& user = session_.user();
    const bool hasCompany = user && user->company.has_value();
    return !hasCompany && up_.destDir().isEmpty();
}

QString MainView::bucket() const
{
    const auto& user = session_.user();
    return user ? QString::fromStdString(user->bucket) : QString();
}

void MainView::refreshHeader()
{
    const auto& user = session_.user();
    if (!user)
        return;   // signing out: the login screen takes over, keep what was shown
    const bool hasCompany = user->company.has_value();
    setPlainText(title_, hasCompany ? QString::fromStdString(user->company->name) : QStringLiteral("Administración"));
    destination_->setText(destinationText(up_.destDir(), hasCompany));
    dropZone_->setNeedsCompany(needsCompany());

    accountMenu_->clear();
    // An "&" in a menu entry would mark a shortcut letter and vanish.
    QAction* email = accountMenu_->addAction(printable(QString::fromStdString(user->email)).replace(u'&', QStringLiteral("&&")));
    email->setEnabled(false);
    accountMenu_->addSeparator();
    QAction* leave = accountMenu_->addAction(QStringLiteral("Salir"));
    leave->setObjectName("signOut");
    connect(leave, &QAction::triggered, this, &MainView::signOut);
}

void MainView::scheduleRefresh()
{
    // Engine signals come in bursts while bytes move; one redraw per interval is plenty.
    if (!refreshTimer_.isActive())
        refreshTimer_.start();
}

void MainView::refresh()
{
    refreshTimer_.stop();
    const bool hasItems = !up_.items().empty();
    queueArea_->setVisible(hasItems);
    filler_->setVisible(!hasItems);
    footer_->refresh();
    if (report_ && !reportTimer_.isActive())
        reportTimer_.start();
}

void MainView::refreshReport()
{
    if (!report_)
        return;
    // The title carries the time of writing; a report whose lines did not change is left as it
    // is, so that reading and selecting are not disturbed every second.
    const auto body = [](const QString& text) { return QStringView(text).mid(text.indexOf(QLatin1Char('\n')) + 1); };
    const QString text = up_.report();
    if (body(text) != body(report_->text()))
        report_->setText(text);
}

bool MainView::acceptDrop(const QList<QUrl>& urls)
{
    if (needsCompany())
        return false;
    // Handed to the engine on a later turn of the event loop, never inside the drop itself.
    QPointer<UploadManager> up(&up_);
    const QString bucketName = bucket();
    spawn([up, urls, bucketName]() -> QCoro::Task<void> {
        if (up)
            up->add(urls, bucketName);
        co_return;
    });
    return true;
}

void MainView::openPanel()
{
    if (needsCompany())
        return;
    FileChooser chooser(window());
    if (!chooserFolder_.isEmpty())
        chooser.setDirectory(chooserFolder_);
    if (chooser.exec() != QDialog::Accepted)
        return;
    chooserFolder_ = chooser.directory().absolutePath();
    up_.add(chooser.chosenUrls(), bucket());
}

void MainView::openPicker()
{
    if (picker_) {
        picker_->raise();
        picker_->activateWindow();
        return;
    }
    const auto& user = session_.user();
    const bool isAdmin = !(user && user->company.has_value());
    picker_ = new DestinationPicker(session_.api(), up_.destDir(), isAdmin, this);
    picker_->setAttribute(Qt::WA_DeleteOnClose);
    picker_->setWindowModality(Qt::WindowModal);
    QPointer<UploadManager> up(&up_);
    connect(picker_, &DestinationPicker::chosen, this, [up](const QString& path) {
        if (up)
            up->setDestDir(path);
    });
    picker_->open();
}

void MainView::openReport()
{
    if (report_) {
        report_->raise();
        report_->activateWindow();
        return;
    }
    report_ = new ReportView(up_.report(), this);
    report_->setAttribute(Qt::WA_DeleteOnClose);
    report_->setWindowModality(Qt::WindowModal);
    report_->open();
}

void MainView::signOut()
{
    QPointer<SessionModel> session(&session_);
    ZafrelAPI* api = &session_.api();
    spawn([session, api]() -> QCoro::Task<void> {
        try {
            co_await api->logout();
        } catch (...) {
            // Signing out never fails here: the service may be unreachable or already done with us.
        }
        if (session)
            session->signOut();
    });
}

}  // namespace zafrel::ui
