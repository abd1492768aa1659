#include "engine/intake/intake_scan.h"
#include "engine/queue/queue_owners.h"
#include "ui/main_view.h"

#include "client/zafrel_api.h"
#include "engine/upload_manager.h"
#include "platform/async.h"
#include "platform/byte_rate.h"
#include "platform/printable.h"
#include "platform/settings.h"
#include "present/run_text.h"
#include "session/session_model.h"
#include "ui/confirmation.h"
#include "ui/desktop_services.h"
#include "ui/destination_picker.h"
#include "ui/drop_zone.h"
#include "ui/elided_label.h"
#include "ui/file_chooser.h"
#include "ui/footer_bar.h"
#include "ui/icons.h"
#include "ui/queue_model.h"
#include "ui/queue_view.h"
#include "ui/report_archive.h"
#include "ui/report_view.h"
#include "ui/send_rate_dialog.h"
#include "ui/style.h"
#include "ui/upload_row.h"
#include "ui/upload_row_delegate.h"

#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

namespace zafrel::ui {

namespace {

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// The services of the desktop the window runs on, for as long as the program runs.
DesktopServices& desktopServices()
{
    static DBusDesktopServices* services = new DBusDesktopServices;
    return *services;
}

// A click on the end-of-run notice: the window comes up from wherever it was, in front.
void bringForward(QWidget* window)
{
    window->show();
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->raise();
    window->activateWindow();
}

constexpr int kDropMargin = 16;
constexpr int kBarMargin = 8;

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
    // The cap the person chose last time holds from the start.
    if (const auto stored = settings::value(QStringLiteral("sendRate")))
        up_.setSendRate(parseByteRate(*stored).value_or(0));
    up_.setStartHistories(settings::value(QStringLiteral("mhlAtDestination")) == QStringLiteral("true"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    column->addWidget(buildHeader());
    column->addWidget(divider(this));

    dropArea_ = new QWidget(this);
    auto* dropLayout = new QVBoxLayout(dropArea_);
    dropLayout->setContentsMargins(kDropMargin, kDropMargin, kDropMargin, kDropMargin);
    dropZone_ = new DropZone(dropArea_);
    dropZone_->setObjectName("dropZone");
    dropLayout->addWidget(dropZone_);
    column->addWidget(dropArea_);
    column->addWidget(buildBanner());
    otherAccounts_ = new QLabel(this);
    otherAccounts_->setObjectName("otherAccounts");
    otherAccounts_->setTextFormat(Qt::PlainText);
    otherAccounts_->setWordWrap(true);
    otherAccounts_->setFont(calloutFont());
    otherAccounts_->setContentsMargins(16, 4, 16, 4);
    setTextColor(otherAccounts_, secondaryColor());
    otherAccounts_->hide();
    column->addWidget(otherAccounts_);

    queueArea_ = new QWidget(this);
    auto* queueLayout = new QVBoxLayout(queueArea_);
    queueLayout->setContentsMargins(0, 0, 0, 0);
    queueLayout->setSpacing(0);
    queueLayout->addWidget(divider(queueArea_));
    model_ = new QueueModel(up_, this);
    delegate_ = new UploadRowDelegate(*model_, up_, this);
    queue_ = new QueueView(*model_, up_, queueArea_);
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

    ticker_.setInterval(1000);
    connect(&ticker_, &QTimer::timeout, this, &MainView::refresh);
    services_ = &desktopServices();
    // The whole window takes drops; the zone lights up wherever they hover.
    setAcceptDrops(true);

    connect(dropZone_, &DropZone::dropped, this, [this](const QList<QUrl>& urls) { acceptDrop(urls); });
    connect(dropZone_, &DropZone::chooseRequested, this, &MainView::openPanel);
    connect(footer_, &FooterBar::reportRequested, this, &MainView::openReport);
    connect(footer_, &FooterBar::cancelAllRequested, this, &MainView::cancelAll);
    connect(footer_, &FooterBar::clearRequested, this, &MainView::clearFinished);
    connect(footer_, &FooterBar::retryFailedRequested, this, &MainView::retryFailed);

    connect(&up_, &UploadManager::itemsChanged, this, &MainView::scheduleRefresh);
    // At once, not on the refresh timer: the run's start time decides which files are its own.
    connect(&up_, &UploadManager::isRunningChanged, this, &MainView::runningChanged);
    connect(&up_, &UploadManager::speedChanged, this, &MainView::scheduleRefresh);
    connect(&up_, &UploadManager::routeChanged, this, &MainView::scheduleRefresh);
    connect(model_, &QueueModel::itemsTouched, this, &MainView::scheduleRefresh);
    connect(&up_, &UploadManager::destDirChanged, this, &MainView::refreshHeader);
    connect(&session_, &SessionModel::userChanged, this, &MainView::takeFilesOpenedAtStart);
    connect(&up_, &UploadManager::destDirChanged, this, &MainView::takeFilesOpenedAtStart);
    connect(&up_, &UploadManager::pauseCauseChanged, this, &MainView::followPause);
    // First the engine, so that the header reads the account's own destination.
    connect(&session_, &SessionModel::userChanged, this, &MainView::followAccount);
    connect(&up_, &UploadManager::accountChanged, this, &MainView::followEngineAccount);
    connect(&session_, &SessionModel::userChanged, this, &MainView::refreshHeader);

    followAccount();
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
    destination_->setAccessibleName(QStringLiteral("Carpeta de destino"));
    destination_->setFont(calloutFont());
    setTextColor(destination_, secondaryColor());
    destinationRow->addWidget(folder);
    destinationRow->addWidget(destination_, 1);
    lines->addLayout(destinationRow);
    row->addLayout(lines, 1);

    changeDestination_ = new QPushButton(QStringLiteral("Cambiar destino…"), header);
    changeDestination_->setObjectName("changeDestination");
    changeDestination_->setAccessibleDescription(QStringLiteral("Carpeta del almacenamiento adonde van las subidas nuevas"));
    giveRoom(changeDestination_);
    clickOnReturn(changeDestination_);
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
    account_->setAccessibleName(QStringLiteral("Cuenta"));
    account_->setToolTip(QStringLiteral("Cuenta"));
    account_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0px; }"));
    accountMenu_ = new QMenu(account_);
    account_->setMenu(accountMenu_);
    row->addWidget(account_);
    return header;
}

bool MainView::setSendRateText(const QString& text)
{
    const auto rate = text.trimmed().isEmpty() ? std::optional<int64_t>(0) : parseByteRate(text);
    if (!rate)
        return false;
    up_.setSendRate(*rate);
    settings::setValue(QStringLiteral("sendRate"), QString::number(*rate));
    refresh();   // the footer's mark of the cap
    return true;
}

QString MainView::sendRateText() const
{
    return up_.sendRate() > 0 ? byteRateText(up_.sendRate()) : QString();
}

void MainView::askSendRate()
{
    auto* dialog = new SendRateDialog(sendRateText(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &SendRateDialog::applied, this,
            [this](int64_t rate) { setSendRateText(rate > 0 ? byteRateText(rate) : QString()); });
    sendRateDialog_ = dialog;
    dialog->open();
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

    account_->setAccessibleDescription(QString::fromStdString(user->email));
    accountMenu_->clear();
    // An "&" in a menu entry would mark a shortcut letter and vanish.
    QAction* email = accountMenu_->addAction(printable(QString::fromStdString(user->email)).replace(u'&', QStringLiteral("&&")));
    email->setEnabled(false);
    accountMenu_->addSeparator();
    QAction* rate = accountMenu_->addAction(QStringLiteral("Límite de velocidad…"));
    rate->setObjectName("sendRate");
    connect(rate, &QAction::triggered, this, &MainView::askSendRate);
    // A folder dropped without an ASC MHL history gets one at the destination (MD5 of every file).
    QAction* history = accountMenu_->addAction(QStringLiteral("Registro ASC MHL en el destino"));
    history->setObjectName("mhlAtDestination");
    history->setCheckable(true);
    history->setChecked(up_.startsHistories());
    connect(history, &QAction::toggled, this, [this](bool on) {
        up_.setStartHistories(on);
        settings::setValue(QStringLiteral("mhlAtDestination"), on ? QStringLiteral("true") : QStringLiteral("false"));
    });
    QAction* leave = accountMenu_->addAction(QStringLiteral("Salir"));
    leave->setObjectName("signOut");
    connect(leave, &QAction::triggered, this, &MainView::signOut);
}

void MainView::followAccount()
{
    // Signing out leaves the list as it is behind the login screen; the next sign-in decides.
    if (const auto& user = session_.user())
        up_.setAccount(*user);
}

void MainView::followEngineAccount()
{
    // The command line beside the window signed in as another account: the stored session is that
    // account's now, and the window, its header included, follows it.
    const auto& account = up_.account();
    const auto& user = session_.user();
    if (!account || (user && ownerOf(*user, account->origin) == *account))
        return;
    QPointer<SessionModel> session(&session_);
    spawn([session]() -> QCoro::Task<void> {
        if (session)
            co_await session->restore();
    });
}

void MainView::scheduleRefresh()
{
    // Engine signals come in bursts while bytes move; one redraw per interval is plenty.
    if (!refreshTimer_.isActive())
        refreshTimer_.start();
}

QWidget* MainView::buildBanner()
{
    banner_ = new QFrame(this);
    banner_->setObjectName("pendingBanner");
    QColor tint = orangeColor();
    tint.setAlphaF(0.12);
    banner_->setStyleSheet(QStringLiteral("#pendingBanner { background: %1; }").arg(tint.name(QColor::HexArgb)));
    auto* row = new QHBoxLayout(banner_);
    row->setContentsMargins(16, 8, 16, 8);
    row->setSpacing(10);
    auto* symbol = new QLabel(banner_);
    symbol->setPixmap(symbolPixmap(QStringLiteral("pause.circle"), orangeColor(), 18, devicePixelRatioF()));
    symbol->setFixedSize(18, 18);
    bannerText_ = new QLabel(banner_);
    bannerText_->setObjectName("pendingText");
    bannerText_->setTextFormat(Qt::PlainText);
    bannerText_->setWordWrap(true);
    resume_ = new QPushButton(QStringLiteral("Continuar pendientes"), banner_);
    resume_->setObjectName("resumePaused");
    resume_->setToolTip(QStringLiteral("Sigue donde se quedaron, sin volver a enviar lo que ya se subió"));
    resume_->setAccessibleDescription(resume_->toolTip());
    clickOnReturn(resume_);
    giveRoom(resume_);
    row->addWidget(symbol);
    row->addWidget(bannerText_, 1);
    row->addWidget(resume_);
    connect(resume_, &QPushButton::clicked, this, [this] { up_.resumePaused(); });
    banner_->hide();
    return banner_;
}

void MainView::runningChanged()
{
    const bool running = up_.isRunning();
    if (running == running_) {
        scheduleRefresh();
        return;
    }
    running_ = running;
    if (running) {
        runClock_ = std::chrono::steady_clock::now();
        timeLeft_.restart(runClock_);
        ticker_.start();
        services_->keepAwake(true);
    } else {
        ticker_.stop();
        services_->keepAwake(false);
        // Every run leaves its report in the data folder, so it outlasts the list and the program;
        // the file is named by the run's start, as its report says it.
        const RunRecord run = up_.lastRun().value_or(RunRecord{});
        lastArchivedReport_ = archiveReport(up_.runReport(), run.started);
        if (std::chrono::steady_clock::now() - runClock_ >= noticeAfter_) {
            const RunNotice notice = runEndNotice(runSummary(up_.items(), run.number));
            services_->notify(notice.title, notice.body, [window = QPointer<QWidget>(window())] {
                if (window)
                    bringForward(window);
            });
        }
    }
    refresh();
}

void MainView::refresh()
{
    refreshTimer_.stop();
    const auto& items = up_.items();
    const bool hasItems = !items.empty();
    queueArea_->setVisible(hasItems);
    filler_->setVisible(!hasItems);
    // Beside a queue the drop zone shrinks to a bar, leaving the rows the room.
    dropZone_->setCompact(hasItems);
    const int margin = hasItems ? kBarMargin : kDropMargin;
    dropArea_->layout()->setContentsMargins(kDropMargin, margin, kDropMargin, margin);

    const Summary summary = up_.summary();
    banner_->setVisible(summary.paused > 0);
    if (summary.paused > 0)
        bannerText_->setText(summary.paused == 1 ? QStringLiteral("1 archivo quedó pendiente")
                                                 : QStringLiteral("%1 archivos quedaron pendientes").arg(summary.paused));

    const int others = up_.otherAccountsWaiting();
    otherAccounts_->setVisible(others > 0);
    if (others > 0)
        otherAccounts_->setText(otherAccountsText(others));

    QString title = QStringLiteral("Zafrel");
    if (up_.isRunning()) {
        const RunProgress progress = runProgress(items, up_.lastRun() ? up_.lastRun()->number : 0);
        const auto secondsLeft = timeLeft_.update(std::chrono::steady_clock::now(), progress.bytes - progress.sent, up_.speed());
        footer_->showRunning(progress, secondsLeft);
        title += QStringLiteral(" — %1 %").arg(progress.percent());
        queue_->followRun();
        // The countdowns of retry waits move without any change of the items.
        queue_->viewport()->update();
    } else {
        footer_->showIdle();
    }
    if (window() != this)
        window()->setWindowTitle(title);
    if (report_ && !reportTimer_.isActive())
        reportTimer_.start();
}

void MainView::ask(const QString& question, const QString& detail, const QString& acceptText, const QString& keepText,
                   std::function<void()> onAccept)
{
    if (confirmation_)
        confirmation_->reject();   // one question at a time: the newest one counts
    confirmation_ = askToConfirm(window(), question, detail, acceptText, keepText, std::move(onAccept));
}

void MainView::cancelAll()
{
    const int active = up_.summary().active;
    QPointer<UploadManager> up(&up_);
    ask(QStringLiteral("¿Cancelar todas las subidas?"),
        (active == 1 ? QStringLiteral("Se detendrá el archivo que queda por subir.")
                     : QStringLiteral("Se detendrán los %1 archivos que quedan por subir.").arg(active))
            + QStringLiteral(" Lo ya subido se queda en el destino, y los cancelados pueden reintentarse después."),
        QStringLiteral("Cancelar todo"), QStringLiteral("Seguir subiendo"), [up] {
            if (up)
                up->cancelAll();
        });
}

void MainView::clearFinished()
{
    // Failed and cancelled files leave the list for good: ask first, naming them.
    QStringList names;
    int failed = 0, cancelled = 0;
    for (const ItemPtr& item : up_.items()) {
        const Status status = item->status();
        if (status != Status::Error && status != Status::Cancelled)
            continue;
        (status == Status::Error ? failed : cancelled) += 1;
        names << printable(item->name);
    }
    if (names.isEmpty()) {
        up_.clearFinished();
        return;
    }
    const int count = int(names.size());
    QString question;
    if (cancelled == 0)
        question = count == 1 ? QStringLiteral("¿Quitar de la lista el archivo que falló?")
                              : QStringLiteral("¿Quitar de la lista los %1 archivos que fallaron?").arg(count);
    else if (failed == 0)
        question = count == 1 ? QStringLiteral("¿Quitar de la lista el archivo cancelado?")
                              : QStringLiteral("¿Quitar de la lista los %1 archivos cancelados?").arg(count);
    else
        question = QStringLiteral("¿Quitar de la lista los %1 archivos que fallaron o se cancelaron?").arg(count);
    constexpr int kNamed = 5;
    QString named = names.mid(0, kNamed).join(QStringLiteral(", "));
    if (count > kNamed)
        named += QStringLiteral(" y %1 más").arg(count - kNamed);
    QPointer<UploadManager> up(&up_);
    ask(question,
        named + QStringLiteral(".\n\n«Limpiar» quita lo terminado y también lo fallido y lo cancelado, que no se "
                               "volverá a intentar. Para subirlo, usa antes «Reintentar fallidos»."),
        QStringLiteral("Limpiar"), QStringLiteral("Volver"), [up] {
            if (up)
                up->clearFinished();
        });
}

void MainView::retryFailed()
{
    // Cancelled files are only taken once no run holds them any more.
    const bool running = up_.isRunning();
    const std::vector<ItemPtr> items = up_.items();
    for (const ItemPtr& item : items)
        if (rowRetriable(*item, running))
            up_.retry(item);
}

bool MainView::allowClose(std::function<void()> close)
{
    const int active = up_.summary().active;
    if (active == 0)
        return true;
    ask(QStringLiteral("¿Cerrar Zafrel con subidas en curso?"),
        (active == 1 ? QStringLiteral("Queda 1 archivo por subir.") : QStringLiteral("Quedan %1 archivos por subir.").arg(active))
            + QStringLiteral(" Quedarán pendientes y podrás continuarlos al volver a abrir Zafrel, sin repetir lo ya subido."),
        QStringLiteral("Cerrar"), QStringLiteral("Seguir subiendo"), std::move(close));
    return false;
}

// Drags anywhere on the window go to the drop zone, which lights up and takes or refuses them.
void MainView::dragEnterEvent(QDragEnterEvent* event) { dropZone_->dragEnterEvent(event); }
void MainView::dragMoveEvent(QDragMoveEvent* event) { dropZone_->dragMoveEvent(event); }
void MainView::dragLeaveEvent(QDragLeaveEvent* event) { dropZone_->dragLeaveEvent(event); }
void MainView::dropEvent(QDropEvent* event) { dropZone_->dropEvent(event); }

void MainView::refreshReport()
{
    if (!report_)
        return;
    // The sheet holds the run under way or the last one; setText keeps the reader's place.
    report_->setText(up_.runReport());
}

bool MainView::acceptDrop(const QList<QUrl>& urls)
{
    if (needsCompany())
        return false;
    // Handed to the engine on a later turn of the event loop, never inside the drop itself.
    QPointer<MainView> self(this);
    spawn([self, urls]() -> QCoro::Task<void> {
        if (self)
            self->addToQueue(urls);
        co_return;
    });
    return true;
}

void MainView::openAtStart(const QList<QUrl>& urls)
{
    openedAtStart_ += urls;
    takeFilesOpenedAtStart();
}

void MainView::takeFilesOpenedAtStart()
{
    if (openedAtStart_.isEmpty() || !session_.user() || needsCompany())
        return;
    acceptDrop(std::exchange(openedAtStart_, {}));
}

void MainView::addToQueue(const QList<QUrl>& urls)
{
    const std::vector<IntakeProblem> problems = up_.add(urls, bucket());
    if (problems.empty())
        return;
    constexpr size_t kShown = 12;
    QStringList lines;
    for (size_t i = 0; i < std::min(problems.size(), kShown); ++i)
        lines << problems[i].text();
    if (problems.size() > kShown)
        lines << QStringLiteral("… y %1 más").arg(problems.size() - kShown);
    if (intakeProblems_)
        intakeProblems_->close();
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("No se añadió todo"),
                                QStringLiteral("Lo siguiente no está en la cola; el resto sí. Comprueba que la "
                                               "tarjeta o el disco siguen conectados y que puedes leerlos, y "
                                               "vuelve a arrastrarlo."),
                                QMessageBox::Ok, this);
    box->setObjectName("intakeProblems");
    box->setInformativeText(lines.join(u'\n'));
    box->setAttribute(Qt::WA_DeleteOnClose);
    intakeProblems_ = box;
    box->open();
}

void MainView::openPanel()
{
    if (needsCompany())
        return;
    FileChooser chooser(window());
    // Where the chooser was last confirmed, also in an earlier session.
    if (const auto folder = settings::value(QStringLiteral("chooserFolder")); folder && QDir(*folder).exists())
        chooser.setDirectory(*folder);
    if (chooser.exec() != QDialog::Accepted)
        return;
    settings::setValue(QStringLiteral("chooserFolder"), chooser.directory().absolutePath());
    addToQueue(chooser.chosenUrls());
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
    report_ = new ReportView(up_.runReport(), this);
    report_->setAttribute(Qt::WA_DeleteOnClose);
    report_->setWindowModality(Qt::WindowModal);
    report_->open();
}

void MainView::signOut()
{
    const int active = up_.summary().active;
    if (active == 0) {
        leave();
        return;
    }
    QPointer<MainView> self(this);
    ask(QStringLiteral("¿Salir con subidas en curso?"),
        (active == 1 ? QStringLiteral("Queda 1 archivo por subir.") : QStringLiteral("Quedan %1 archivos por subir.").arg(active))
            + QStringLiteral(" Quedarán pendientes y podrás continuarlos al volver a entrar, sin repetir lo ya subido."),
        QStringLiteral("Salir"), QStringLiteral("Seguir subiendo"), [self] {
            if (!self)
                return;
            self->up_.pauseAll();
            self->leave();
        });
}

void MainView::followPause()
{
    // The run has paused its files; the login screen takes over until someone signs in again.
    if (up_.pauseCause() == PauseCause::SessionEnded && session_.user())
        session_.sessionEnded();
    scheduleRefresh();
}

void MainView::leave()
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
