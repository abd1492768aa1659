#pragma once
#include "present/time_left.h"
#include "ui/send_rate_dialog.h"

#include <QDateTime>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>

class QLabel;
class QListView;
class QMenu;
class QPushButton;
class QToolButton;

namespace zafrel {
class SessionModel;
class UploadManager;
}  // namespace zafrel

namespace zafrel::ui {

class DesktopServices;
class DestinationPicker;
class DropZone;
class ElidedLabel;
class FooterBar;
class QueueModel;
class QueueView;
class ReportView;
class UploadRowDelegate;

// What a signed-in user sees: header (company, destination, account), the drop zone, the queue
// and the footer with the run's state and controls. It keeps almost no state of its own: it feeds
// drops and chosen files to the engine, calls its controls and redraws from its signals.
class MainView : public QWidget {
    Q_OBJECT
public:
    MainView(SessionModel& session, UploadManager& up, QWidget* parent = nullptr);

    // Shown anew (after a sign-in): no sheet open, header from the current user.
    void showAnew();

    // No company of one's own and no destination yet: uploads must wait for a company folder.
    bool needsCompany() const;

    // "Elegir archivos o carpetas…": the modal chooser, then the chosen files to the engine.
    void openPanel();
    // "Cambiar destino…" and "Informe": open the sheets (or bring an open one forward).
    void openPicker();
    void openReport();
    // "Salir": tells the service (whatever it answers), then signs out locally. While files are
    // under way it asks first, and pauses them: "Continuar pendientes" takes them up after the
    // next sign-in.
    void signOut();

    // "Límite de velocidad…" of the account menu: a cap on the upload's bytes per second ("50M",
    // "800K"; empty or "0" for none), applied at once and remembered for the next start under
    // "sendRate". False, with nothing changed, when the text is not a rate.
    bool setSendRateText(const QString& text);
    void askSendRate();
    // The sheet askSendRate() opened, while it is open.
    SendRateDialog* sendRateDialog() const { return sendRateDialog_; }
    // The setting as the field shows it: "" without a cap.
    QString sendRateText() const;

    // The files of a drop, in drop order. Refused (false) while needsCompany.
    bool acceptDrop(const QList<QUrl>& urls);
    // Files handed to the program as it starts (a launcher's "%F", "Abrir con"): taken as a drop
    // once someone is signed in and the destination is known, not before.
    void openAtStart(const QList<QUrl>& urls);
    // The box that lists what the last drop or choice could not queue (a path gone, a folder
    // that cannot be read), or null.
    QMessageBox* intakeProblems() const { return intakeProblems_; }

    // The footer's controls, each asking first where it cannot be undone: "Cancelar todo" always,
    // "Limpiar" when it would drop failed files. "Reintentar fallidos" queues every failed and
    // cancelled file again.
    void cancelAll();
    void clearFinished();
    void retryFailed();
    // Closing the window: true when nothing is under way or waiting; otherwise asks, answers
    // false, and calls `close` once the user agrees.
    bool allowClose(std::function<void()> close);
    // The question open now, or null.
    QMessageBox* confirmation() const { return confirmation_; }

    // Where a run's end notice and the sleep inhibitor go (the desktop's D-Bus services unless a
    // test gives its own), and how long a run must last for the notice.
    void setDesktopServices(DesktopServices* services) { services_ = services; }
    void setNoticeAfter(std::chrono::milliseconds after) { noticeAfter_ = after; }
    // The report of the last run, as kept in the data folder ("" before the first run ends).
    QString lastArchivedReport() const { return lastArchivedReport_; }

    QLabel* titleLabel() const { return title_; }
    ElidedLabel* destinationLabel() const { return destination_; }
    QPushButton* changeDestinationButton() const { return changeDestination_; }
    QToolButton* accountButton() const { return account_; }
    QMenu* accountMenu() const { return accountMenu_; }
    DropZone* dropZone() const { return dropZone_; }
    QueueView* queueList() const { return queue_; }
    // "N archivos quedaron pendientes" with "Continuar pendientes", while any file is paused.
    QWidget* pendingBanner() const { return banner_; }
    QLabel* pendingLabel() const { return bannerText_; }
    QPushButton* resumeButton() const { return resume_; }
    // "N archivos de otra cuenta esperan a que esa cuenta vuelva a entrar", while the queue holds
    // files of other accounts (neither listed nor continued here).
    QLabel* otherAccountsLabel() const { return otherAccounts_; }
    QueueModel* queueModel() const { return model_; }
    UploadRowDelegate* rowDelegate() const { return delegate_; }
    FooterBar* footer() const { return footer_; }
    // The open sheets, or null.
    DestinationPicker* picker() const;
    ReportView* report() const;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildBanner();
    void runningChanged();
    void ask(const QString& question, const QString& detail, const QString& acceptText, const QString& keepText,
             std::function<void()> onAccept);
    void refreshHeader();
    void followAccount();
    void followEngineAccount();
    void leave();
    void followPause();
    void scheduleRefresh();
    void refresh();
    void refreshReport();
    QString bucket() const;
    // Queues `urls` and says, in a box that does not block, whatever could not be taken.
    void addToQueue(const QList<QUrl>& urls);
    void takeFilesOpenedAtStart();

    SessionModel& session_;
    UploadManager& up_;
    QLabel* title_;
    ElidedLabel* destination_;
    QPushButton* changeDestination_;
    QToolButton* account_;
    QMenu* accountMenu_;
    DropZone* dropZone_;
    QWidget* dropArea_;
    QWidget* banner_;
    QLabel* bannerText_;
    QPushButton* resume_;
    QLabel* otherAccounts_;
    QWidget* queueArea_;
    QPointer<QMessageBox> intakeProblems_;
    QList<QUrl> openedAtStart_;
    QWidget* filler_;
    QueueView* queue_;
    QueueModel* model_;
    UploadRowDelegate* delegate_;
    FooterBar* footer_;
    QPointer<DestinationPicker> picker_;
    QPointer<ReportView> report_;
    QPointer<SendRateDialog> sendRateDialog_;
    QTimer refreshTimer_;
    QTimer reportTimer_;
    // Once a second while a run goes on: the time left and the retry countdowns move on their own.
    QTimer ticker_;
    QPointer<QMessageBox> confirmation_;
    DesktopServices* services_;
    std::chrono::milliseconds noticeAfter_{std::chrono::minutes(1)};
    // The run under way (the engine knows which files are its own): when it began, by a steady clock.
    bool running_ = false;
    std::chrono::steady_clock::time_point runClock_;
    TimeLeft timeLeft_;
    QString lastArchivedReport_;
};

// The destination line of the header: the folder without its outer slashes, or what to do
// when none is chosen.
QString destinationText(const QString& destDir, bool hasCompany);

}  // namespace zafrel::ui
