#pragma once
#include <QPointer>
#include <QTimer>
#include <QWidget>

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

class DestinationPicker;
class DropZone;
class ElidedLabel;
class FooterBar;
class QueueModel;
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
    // "Salir": tells the service (whatever it answers), then signs out locally. The engine is
    // left alone; a run goes on.
    void signOut();

    // The files of a drop, in drop order. Refused (false) while needsCompany.
    bool acceptDrop(const QList<QUrl>& urls);

    QLabel* titleLabel() const { return title_; }
    ElidedLabel* destinationLabel() const { return destination_; }
    QPushButton* changeDestinationButton() const { return changeDestination_; }
    QToolButton* accountButton() const { return account_; }
    QMenu* accountMenu() const { return accountMenu_; }
    DropZone* dropZone() const { return dropZone_; }
    QListView* queueList() const { return queue_; }
    QueueModel* queueModel() const { return model_; }
    UploadRowDelegate* rowDelegate() const { return delegate_; }
    FooterBar* footer() const { return footer_; }
    // The open sheets, or null.
    DestinationPicker* picker() const;
    ReportView* report() const;

private:
    QWidget* buildHeader();
    void refreshHeader();
    void scheduleRefresh();
    void refresh();
    void refreshReport();
    QString bucket() const;

    SessionModel& session_;
    UploadManager& up_;
    QLabel* title_;
    ElidedLabel* destination_;
    QPushButton* changeDestination_;
    QToolButton* account_;
    QMenu* accountMenu_;
    DropZone* dropZone_;
    QWidget* queueArea_;
    QWidget* filler_;
    QListView* queue_;
    QueueModel* model_;
    UploadRowDelegate* delegate_;
    FooterBar* footer_;
    QPointer<DestinationPicker> picker_;
    QPointer<ReportView> report_;
    QTimer refreshTimer_;
    QTimer reportTimer_;
    QString chooserFolder_;   // where the chooser was last confirmed
};

// The destination line of the header: the folder without its outer slashes, or what to do
// when none is chosen.
QString destinationText(const QString& destDir, bool hasCompany);

}  // namespace zafrel::ui
