// The screenshot tour: starts the real desktop program, walks it through its screens by pressing
// its own buttons, typing into its fields and dropping files on it, and saves each screen as a PNG.
// scripts/screenshots runs it against the local stand-in, which it prepares first (folders, files
// already uploaded, held requests and the wrong ETag).
//
//   screenshot_tour --server URL --out DIR --card DIR [--size WxH] [--review] FILE...
//
// FILE... are dropped on the window in this order once the destination is chosen; the folder DIR
// (a second card of many files, which the stand-in holds) is dropped after the first run. The stand-in's
// demo and administrator accounts are used; the folders named below must exist there. --review
// adds pictures for checking the layout rather than for showing it (names starting "review-"): a
// long folder name in the picker's breadcrumbs, the queue in the smallest window, a long
// destination in the header.
#include "engine/upload_manager.h"
#include "platform/settings.h"
#include "session/session_model.h"
#include "ui/desktop.h"
#include "ui/destination_picker.h"
#include "ui/drop_zone.h"
#include "ui/file_chooser.h"
#include "ui/footer_bar.h"
#include "ui/login_view.h"
#include "ui/main_view.h"
#include "ui/report_view.h"
#include "ui/root_view.h"
#include "ui/upload_row.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMimeData>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

using namespace zafrel;
using namespace zafrel::ui;

const QString kDemoEmail = QStringLiteral("demo@zafrel.test");
const QString kDemoPassword = QStringLiteral("zafrel-demo");
const QString kAdminEmail = QStringLiteral("admin@zafrel.test");
const QString kAdminPassword = QStringLiteral("zafrel-admin");
// Browsed in the picker: the top folder opened, the one chosen inside it, the name typed for a new one.
const QString kBrowsedFolder = QStringLiteral("Rodaje");
const QString kChosenFolder = QStringLiteral("Día 03");
const QString kTypedFolderName = QStringLiteral("Día 04");
// The start of the long folder name beside them.
const QString kLongFolderStart = QStringLiteral("Día 02");

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "screenshot_tour: %s\n", qPrintable(what));
    std::exit(1);
}

// Runs the event loop until `done` holds; a screen that never comes ends the tour.
void waitFor(const QString& what, const std::function<bool()>& done, int seconds = 30)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000LL)
            fail(QStringLiteral("timed out waiting for ") + what);
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

// Lets timers, repaints and the window system catch up.
void settle(int milliseconds = 400)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void clickAt(QWidget* widget, QPoint pos)
{
    const QPointF local(pos);
    const QPointF global(widget->mapToGlobal(pos));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

void press(QPushButton* button, const QString& what)
{
    if (!button || !button->isVisible() || !button->isEnabled())
        fail(QStringLiteral("cannot press ") + what);
    button->click();
}

class Tour {
public:
    Tour(Desktop* desktop, std::function<Desktop*()> restart, QString out, QList<QUrl> files, QUrl card, bool review)
        : desktop_(desktop), restart_(std::move(restart)), out_(std::move(out)), files_(std::move(files)),
          card_(std::move(card)), review_(review)
    {
    }

    void run()
    {
        // The stand-in holds the first session check, so the waiting state stays up a while.
        waitFor("the window", [&] { return desktop_->window().windowHandle() && desktop_->window().windowHandle()->isExposed(); });
        waitFor("\"Conectando…\"", [&] { return root().currentWidget() == root().connectingPage(); });
        settle(600);
        if (!desktop_->session().checking())
            fail("the session check ended before the waiting state could be taken; is api/me held?");
        shoot(&desktop_->window(), "01-conectando");

        waitFor("the login screen", [&] { return root().currentWidget() == root().loginView(); });
        settle();
        shoot(&desktop_->window(), "02-login");

        signIn(kDemoEmail, QStringLiteral("contraseña-equivocada"));
        waitFor("the sign-in error", [&] { return !login().busy() && desktop_->session().error().has_value(); });
        settle();
        shoot(&desktop_->window(), "03-login-error");

        signIn(kDemoEmail, kDemoPassword);
        waitFor("the main window", [&] { return root().currentWidget() == root().mainView(); });
        settle();
        shoot(&desktop_->window(), "04-main-empresa");

        signOut();
        signIn(kAdminEmail, kAdminPassword);
        waitFor("the administrator's main window", [&] { return root().currentWidget() == root().mainView(); });
        settle();
        if (!main().needsCompany())
            fail("the administrator should have to choose a company first");
        shoot(&desktop_->window(), "05-main-admin");

        press(main().changeDestinationButton(), "\"Cambiar destino…\"");
        waitFor("the picker's first listing", [&] { return main().picker() && !main().picker()->loading(); });
        settle();
        shoot(main().picker(), "06-destino-admin");
        press(main().picker()->cancelButton(), "\"Cancelar\"");
        waitFor("the picker to close", [&] { return !main().picker(); });

        signOut();
        signIn(kDemoEmail, kDemoPassword);
        waitFor("the main window", [&] { return root().currentWidget() == root().mainView(); });
        press(main().changeDestinationButton(), "\"Cambiar destino…\"");
        waitFor("the picker's first listing", [&] { return main().picker() && !main().picker()->loading(); });
        DestinationPicker& picker = *main().picker();
        openFolder(picker, kBrowsedFolder);
        waitFor("the listing of " + kBrowsedFolder, [&] { return !picker.loading() && picker.current() == kBrowsedFolder + '/'; });
        picker.newNameField()->setFocus();
        picker.newNameField()->setText(kTypedFolderName);
        settle();
        shoot(&picker, "07-destino");
        // By keyboard: the marked folder is the one Return enters.
        picker.folderList()->setFocus();
        picker.folderList()->setCurrentRow(std::min(1, picker.folderList()->count() - 1));
        settle();
        shoot(&picker, "16-destino-teclado");
        if (review_) {
            openFolder(picker, kLongFolderStart, Qt::MatchStartsWith);
            waitFor("the long folder", [&] { return !picker.loading() && picker.current().startsWith(kBrowsedFolder + '/' + kLongFolderStart); });
            settle();
            shoot(&picker, "review-1-miga-larga");
            press(picker.breadcrumbButtons().value(1), "the breadcrumb " + kBrowsedFolder);
            waitFor("the listing of " + kBrowsedFolder, [&] { return !picker.loading() && picker.current() == kBrowsedFolder + '/'; });
        }
        openFolder(picker, kChosenFolder);
        const QString chosen = kBrowsedFolder + '/' + kChosenFolder + '/';
        waitFor("the listing of " + chosen, [&] { return !picker.loading() && picker.current() == chosen; });
        press(picker.useButton(), "\"Usar esta carpeta\"");
        waitFor("the destination in the header", [&] { return !main().picker() && desktop_->uploader().destDir() == chosen; });

        dragOverDropZone();
        settle();
        shoot(&desktop_->window(), "08-arrastrando");
        drop();
        // The stand-in lets the first file's parts through one by one and then holds its last two,
        // and refuses the second file a few times: the first is under way with part of its bytes
        // sent, the second waits for its next attempt, the rest waits in the queue.
        waitFor("the first files under way", [&] { return underWay(); }, 60);
        settle(500);
        shoot(&desktop_->window(), "09-cola-en-curso");

        waitFor("the end of the run", [&] { return !desktop_->uploader().isRunning(); }, 180);
        settle(600);
        shoot(&desktop_->window(), "10-cola-terminada");

        press(main().footer()->reportButton(), "\"Informe\"");
        waitFor("the report sheet", [&] { return main().report() && main().report()->isVisible(); });
        settle();
        shoot(main().report(), "11-informe");
        press(main().report()->findChild<QPushButton*>(QStringLiteral("closeReport")), "\"Cerrar\"");
        waitFor("the report to close", [&] { return !main().report(); });
        longQueueAndRestart();
        chooser();
        if (review_)
            reviewSmallestWindow();
    }

private:
    // A second card of many files, held by the stand-in: the low drop bar over a long queue, the
    // question before "Cancelar todo", then the program closed mid-run and started again.
    void longQueueAndRestart()
    {
        mime_.setUrls({card_});
        dragOverDropZone();
        drop(false);
        waitFor("the card under way", [&] {
            const auto& items = desktop_->uploader().items();
            return desktop_->uploader().isRunning()
                   && std::count_if(items.begin(), items.end(), [](const ItemPtr& it) { return it->status() == Status::Running; }) >= 2;
        });
        settle(1500);
        shoot(&desktop_->window(), "12-cola-larga");

        // A speed cap on, and one running file paused from its row: the others go on.
        main().setSendRateText(QStringLiteral("5M"));
        ItemPtr paused;
        for (const ItemPtr& item : desktop_->uploader().items())
            if (item->status() == Status::Running) {
                paused = item;
                break;
            }
        if (!paused)
            fail("no file under way to pause");
        desktop_->uploader().pause(paused);
        waitFor("a paused row", [&] { return paused->status() == Status::Paused; });
        settle(1500);
        shoot(&desktop_->window(), "17-pausado-y-limite");
        main().setSendRateText(QString());
        // Resumed while the held files fill every slot, it waits its turn and says so.
        desktop_->uploader().retry(paused);
        settle(600);
        if (paused->status() != Status::Queued || !rowSubtitle(*paused).startsWith(QStringLiteral("En cola")))
            fail("a file resumed behind busy slots should wait \"En cola\"; its row says: " + rowSubtitle(*paused));

        press(main().footer()->cancelAllButton(), "\"Cancelar todo\"");
        waitFor("the question", [&] { return main().confirmation() && main().confirmation()->isVisible(); });
        settle();
        shootScreenArea(&desktop_->window(), "13-confirmar-cancelar");
        press(main().confirmation()->findChild<QPushButton*>(QStringLiteral("confirmKeep")), "\"Seguir subiendo\"");
        waitFor("the question to close", [&] { return !main().confirmation(); });

        // As if the laptop had been shut mid-run, and started again before the network was back:
        // the session is kept while the service is out of reach.
        const QString server = settings::value(QStringLiteral("serverURL")).value_or(QString());
        settings::setValue(QStringLiteral("serverURL"), QStringLiteral("http://127.0.0.1:9"));
        desktop_ = restart_();
        waitFor("the outage at start", [&] { return desktop_->rootView().checkNowButton()->isVisible(); });
        settle(1200);
        shoot(&desktop_->window(), "18-sin-conexion");
        settings::setValue(QStringLiteral("serverURL"), server);
        press(desktop_->rootView().checkNowButton(), "\"Reintentar ahora\"");
        waitFor("the main window again", [&] { return desktop_->rootView().currentWidget() == desktop_->rootView().mainView(); });
        waitFor("the pending banner", [&] { return main().pendingBanner()->isVisible(); });
        settle();
        shoot(&desktop_->window(), "14-pendientes");
    }

    // The chooser, in Spanish, on the day's folder.
    void chooser()
    {
        settings::setValue(QStringLiteral("chooserFolder"), QFileInfo(files_.first().toLocalFile()).absolutePath());
        bool shot = false;
        QTimer::singleShot(0, [&] {
            waitFor("the chooser", [] { return qobject_cast<FileChooser*>(QApplication::activeModalWidget()) != nullptr; });
            auto* open = qobject_cast<FileChooser*>(QApplication::activeModalWidget());
            // The second card in the sidebar, as a mounted one is listed.
            open->setSidebarUrls(open->sidebarUrls() << card_);
            settle(800);
            shoot(open, "15-elegir-archivos");
            shot = true;
            open->reject();
        });
        press(main().dropZone()->chooseButton(), "\"Elegir archivos o carpetas…\"");
        if (!shot)
            fail("the chooser was not taken");
    }

    // The finished queue in the smallest window, then a destination with a long name.
    void reviewSmallestWindow()
    {
        desktop_->window().resize(desktop_->window().minimumSize());
        settle(600);
        shoot(&desktop_->window(), "review-2-ventana-minima");

        press(main().changeDestinationButton(), "\"Cambiar destino…\"");
        waitFor("the picker's first listing", [&] { return main().picker() && !main().picker()->loading(); });
        DestinationPicker& picker = *main().picker();
        press(picker.breadcrumbButtons().value(1), "the breadcrumb " + kBrowsedFolder);
        waitFor("the listing of " + kBrowsedFolder, [&] { return !picker.loading() && picker.current() == kBrowsedFolder + '/'; });
        openFolder(picker, kLongFolderStart, Qt::MatchStartsWith);
        waitFor("the long folder", [&] { return !picker.loading() && picker.current().startsWith(kBrowsedFolder + '/' + kLongFolderStart); });
        press(picker.useButton(), "\"Usar esta carpeta\"");
        waitFor("the long destination", [&] { return !main().picker() && desktop_->uploader().destDir().startsWith(kBrowsedFolder + '/' + kLongFolderStart); });
        settle();
        shoot(&desktop_->window(), "review-3-destino-largo");
    }

    RootView& root() { return desktop_->rootView(); }
    LoginView& login() { return *root().loginView(); }
    MainView& main() { return *root().mainView(); }

    void signIn(const QString& email, const QString& password)
    {
        waitFor("the login screen", [&] { return root().currentWidget() == root().loginView() && !login().busy(); });
        login().emailField()->setText(email);
        login().passwordField()->setText(password);
        press(login().signInButton(), "\"Entrar\"");
    }

    void signOut()
    {
        QAction* leave = nullptr;
        for (QAction* action : main().accountMenu()->actions())
            if (action->text() == QStringLiteral("Salir"))
                leave = action;
        if (!leave)
            fail("no \"Salir\" in the account menu");
        leave->trigger();
        waitFor("the login screen after \"Salir\"", [&] { return root().currentWidget() == root().loginView(); });
    }

    // Clicks the row of a folder in the picker's list, as the user would.
    void openFolder(DestinationPicker& picker, const QString& name, Qt::MatchFlags match = Qt::MatchExactly)
    {
        QListWidget* list = picker.folderList();
        const auto found = list->findItems(name, match);
        if (found.isEmpty())
            fail("no folder \"" + name + "\" in the picker; did the stand-in get its folders?");
        const QRect row = list->visualItemRect(found.first());
        clickAt(list->viewport(), row.center());
    }

    void dragOverDropZone()
    {
        DropZone* zone = main().dropZone();
        if (mime_.urls().isEmpty())
            mime_.setUrls(files_);
        const QPoint centre = zone->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, &mime_, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zone, &enter);
        QDragMoveEvent move(centre, Qt::CopyAction, &mime_, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zone, &move);
        if (!move.isAccepted() || !zone->dragging())
            fail("the drop zone refused the files");
    }

    void drop(bool waitForFiles = true)
    {
        DropZone* zone = main().dropZone();
        QDropEvent dropped(QPointF(zone->rect().center()), Qt::CopyAction, &mime_, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zone, &dropped);
        if (!dropped.isAccepted())
            fail("the drop was refused");
        if (waitForFiles)
            waitFor("the dropped files in the queue",
                    [&] { return desktop_->uploader().items().size() == std::size_t(files_.size()); });
    }

    bool underWay() const
    {
        const auto& items = desktop_->uploader().items();
        if (items.size() < 2 || desktop_->uploader().speed() <= 0)
            return false;
        const auto& first = *items[0];
        const auto& second = *items[1];
        return first.status() == Status::Running && first.loaded() * 2 >= first.size && first.loaded() < first.size
               && second.status() == Status::Running && second.retryWait();
    }

    // What the display shows over the window, sheets and questions on top of it included.
    void shootScreenArea(QWidget* window, const QString& name)
    {
        const QRect area = window->frameGeometry();
        QPixmap pixels = window->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        save(pixels, name);
    }

    void save(const QPixmap& pixels, const QString& name)
    {
        const QString path = QDir(out_).filePath(name + ".png");
        if (!pixels.save(path, "PNG"))
            fail("cannot write " + path);
        std::printf("%s\n", qPrintable(path));
        std::fflush(stdout);
    }

    void shoot(QWidget* widget, const QString& name)
    {
        if (!widget || !widget->isVisible())
            fail("nothing to take for " + name);
        QWidget* window = widget->window();
        // What the display shows: the window system's own pixels, not a re-rendering.
        QPixmap pixels;
        if (QScreen* screen = window->screen())
            pixels = screen->grabWindow(window->winId());
        if (pixels.isNull() || pixels.size() != window->size() * window->devicePixelRatioF())
            pixels = window->grab();
        save(pixels, name);
    }

    Desktop* desktop_;
    std::function<Desktop*()> restart_;
    QString out_;
    QList<QUrl> files_;
    QUrl card_;
    bool review_;
    QMimeData mime_;
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Zafrel"));

    QString server;
    QString out;
    QSize size;
    bool review = false;
    QList<QUrl> files;
    QUrl card;
    const QStringList arguments = QCoreApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == "--server" && i + 1 < arguments.size()) {
            server = arguments[++i];
        } else if (argument == "--out" && i + 1 < arguments.size()) {
            out = arguments[++i];
        } else if (argument == "--size" && i + 1 < arguments.size()) {
            const QStringList parts = arguments[++i].split('x');
            if (parts.size() == 2)
                size = QSize(parts[0].toInt(), parts[1].toInt());
        } else if (argument == "--card" && i + 1 < arguments.size()) {
            card = QUrl::fromLocalFile(QFileInfo(arguments[++i]).absoluteFilePath());
        } else if (argument == "--review") {
            review = true;
        } else if (QFileInfo(argument).isFile()) {
            files.append(QUrl::fromLocalFile(QFileInfo(argument).absoluteFilePath()));
        } else {
            fail("not a file: " + argument);
        }
    }
    if (server.isEmpty() || out.isEmpty() || files.size() < 2 || card.isEmpty())
        fail("usage: screenshot_tour --server URL --out DIR --card DIR [--size WxH] [--review] FILE FILE...");
    QDir().mkpath(out);

    // A first start on this machine: the stand-in's service, nothing remembered.
    settings::setValue(QStringLiteral("serverURL"), server);
    settings::setValue(QStringLiteral("email"), QString());
    settings::setValue(QStringLiteral("destDir"), QString());

    std::unique_ptr<QObject> owner;
    const auto startAt = [&]() -> Desktop* {
        owner.reset();   // a run in progress ends paused, as when the program is closed
        owner = startDesktop();
        auto* desktop = dynamic_cast<Desktop*>(owner.get());
        if (!desktop)
            fail("the desktop program did not start");
        if (size.isValid())
            desktop->window().resize(size);
        desktop->window().move(40, 40);
        return desktop;
    };
    Desktop* desktop = startAt();
    Tour tour(desktop, startAt, out, files, card, review);
    tour.run();
    owner.reset();
    return 0;
}
