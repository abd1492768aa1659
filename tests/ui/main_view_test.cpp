// The main window against a scripted service and the real engine: header, drop zone and its
// refusal rule, the footer's states, the sheets, and signing out during a run.
#include "ui/main_view.h"

#include "engine/run_progress.h"
#include "engine/upload_manager.h"
#include "platform/format.h"
#include "platform/md5.h"
#include "session/session_model.h"
#include "support/test_env.h"
#include "support/ui_scripted_service.h"
#include "support/ui_test_helpers.h"
#include "ui/desktop.h"
#include "ui/destination_picker.h"
#include "ui/drop_zone.h"
#include "ui/file_chooser.h"
#include "ui/elided_label.h"
#include "ui/footer_bar.h"
#include "ui/login_view.h"
#include "ui/desktop_services.h"
#include "ui/queue_model.h"
#include "ui/queue_view.h"
#include "ui/report_archive.h"
#include "ui/report_view.h"
#include "ui/root_view.h"
#include "ui/spinner.h"
#include "ui/style.h"
#include "ui/upload_row.h"

#include <QAccessible>
#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

namespace zafrel::ui {
namespace {

using test::UiScriptedService;

class MainViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::resetDesktopState();
        service.useAsServer();
        service.on("POST", "/api/logout", {200, "{}"});
        service.on("POST", "/api/upload/done", {200, "{}"});
        service.on("GET", "/api/ls", {200, R"({"path":"","folders":[],"files":[]})"});
    }

    void TearDown() override
    {
        service.release("POST", "/api/upload/done");
        if (desktop)
            test::runUntil([&] { return !desktop->uploader().isRunning(); });
        owner.reset();
    }

    // Signed in at start as an account with or without a company; an empty bucket keeps the route
    // probe off the network.
    void start(std::optional<std::string> company, const QString& destDir = QString())
    {
        settings::setValue("destDir", destDir);
        service.on("GET", "/api/me", {200, UiScriptedService::userJson("ana@empresa.test", company, "")});
        owner = startDesktop();
        desktop = dynamic_cast<Desktop*>(owner.get());
        ASSERT_NE(desktop, nullptr);
        ASSERT_TRUE(test::runUntil([&] { return desktop->rootView().currentWidget() == desktop->rootView().mainView(); }));
        view = desktop->rootView().mainView();
    }

    UploadManager& up() { return desktop->uploader(); }
    FooterBar& footer() { return *view->footer(); }

    // Delivers a drop of `urls` on the drop zone; answers whether it was accepted.
    bool drop(const QList<QUrl>& urls)
    {
        QMimeData mime;
        mime.setUrls(urls);
        const QPoint center = view->dropZone()->rect().center();
        QDragEnterEvent enter(center, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->dropZone(), &enter);
        EXPECT_TRUE(view->dropZone()->dragging());
        QDropEvent event(QPointF(center), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->dropZone(), &event);
        EXPECT_FALSE(view->dropZone()->dragging());
        return event.isAccepted();
    }

    // Refreshes happen on a short timer; wait for the footer to show `text`.
    bool footerReads(const QString& text)
    {
        return test::runUntil([&] { return footer().stateLabel()->text() == text; }, std::chrono::seconds(5));
    }

    QString folderWithOneFile()
    {
        test::makeFile(test::sandboxDir() + "/card/CLIPS/C0001.MXF", 100);
        return test::sandboxDir() + "/card/CLIPS";
    }

    UiScriptedService service;
    std::unique_ptr<QObject> owner;
    Desktop* desktop = nullptr;
    MainView* view = nullptr;
};

TEST_F(MainViewTest, AdminWithoutDestinationMustFirstChooseACompanyFolder)
{
    start(std::nullopt);
    EXPECT_EQ(view->titleLabel()->text(), "Administración");
    EXPECT_EQ(view->destinationLabel()->text(), "Elige la carpeta de una empresa");
    EXPECT_TRUE(view->needsCompany());
    EXPECT_EQ(view->dropZone()->titleLabel()->text(), "Elige primero la carpeta de una empresa");
    EXPECT_FALSE(view->dropZone()->chooseButton()->isEnabled());

    const QString file = test::makeFile(test::sandboxDir() + "/admin/A.MXF");
    EXPECT_FALSE(drop({QUrl::fromLocalFile(file)}));
    test::settle();
    EXPECT_TRUE(up().items().empty());

    // The destination can still be changed, which is the way out.
    EXPECT_TRUE(view->changeDestinationButton()->isEnabled());
    view->changeDestinationButton()->click();
    ASSERT_NE(view->picker(), nullptr);
    view->picker()->reject();
}

TEST_F(MainViewTest, AdminWithACompanyFolderMayUpload)
{
    start(std::nullopt, "demo-films/Rodaje/");
    EXPECT_FALSE(view->needsCompany());
    EXPECT_EQ(view->destinationLabel()->text(), "demo-films/Rodaje");
    EXPECT_EQ(view->dropZone()->titleLabel()->text(), "Arrastra aquí la tarjeta o la carpeta del día");
    EXPECT_TRUE(view->dropZone()->chooseButton()->isEnabled());
}

TEST_F(MainViewTest, CompanyAccountHeader)
{
    start("Demo Films");
    EXPECT_EQ(view->titleLabel()->text(), "Demo Films");
    EXPECT_EQ(view->destinationLabel()->text(), "Raíz de la empresa");
    EXPECT_FALSE(view->needsCompany());
    EXPECT_TRUE(view->dropZone()->chooseButton()->isEnabled());

    // Outer slashes go, inner ones stay; the header follows the engine's destination.
    up().setDestDir("/Rodaje/Dia03/");
    EXPECT_EQ(view->destinationLabel()->text(), "Rodaje/Dia03");

    // A long destination gives up its start, keeping the folder that matters.
    const QString longPath = QString("Temporada/").repeated(30) + "Dia03/";
    up().setDestDir(longPath);
    view->destinationLabel()->resize(200, view->destinationLabel()->height());
    const QString shown = view->destinationLabel()->displayedText();
    EXPECT_TRUE(shown.startsWith("…")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("Temporada/Dia03")) << shown.toStdString();
}

// Names and messages from the service and from disks are shown as written, wherever they appear:
// markup stays characters (rendered, it would grow the label) and control characters go.
TEST_F(MainViewTest, TextsFromOutsideShowAsWritten)
{
    const QString hostile = test::kMarkupAndControls;
    service.on("GET", "/api/ls", [hostile](const UiScriptedService::Received& request) -> UiScriptedService::Reply {
        if (request.param("path") == "Prohibido/")
            return {403, UiScriptedService::errorJson(hostile.toStdString())};
        const nlohmann::json folder = {{"name", hostile.toStdString()}, {"path", "Prohibido/"}, {"count", 1}, {"size", 0}};
        return {200, nlohmann::json{{"path", (hostile + "/").toStdString()}, {"folders", {folder}}, {"files", nlohmann::json::array()}}.dump()};
    });
    start(hostile.toStdString());
    EXPECT_TRUE(test::shownAsWritten(test::seenText(view->titleLabel())));

    up().setDestDir(hostile + "/");
    EXPECT_TRUE(test::shownAsWritten(view->destinationLabel()->text()));
    EXPECT_TRUE(test::shownAsWritten(test::seenText(view->destinationLabel()->toolTip())));

    const ItemPtr item = test::makeItem(hostile + ".MXF", 10, Status::Error);
    item->setError(hostile);
    up().setItems({item});
    EXPECT_TRUE(test::shownAsWritten(rowSubtitle(*item)));
    EXPECT_TRUE(test::shownAsWritten(test::seenText(view->queueModel()->index(0).data(Qt::ToolTipRole).toString())));

    view->changeDestinationButton()->click();
    DestinationPicker* picker = view->picker();
    ASSERT_NE(picker, nullptr);
    ASSERT_TRUE(test::runUntil([&] { return !picker->loading() && picker->folderList()->count() == 1; }));
    EXPECT_TRUE(test::shownAsWritten(picker->folderList()->item(0)->text()));
    EXPECT_TRUE(test::shownAsWritten(test::seenText(picker->folderList()->item(0)->toolTip())));
    QStringList crumbs;
    for (QPushButton* crumb : picker->breadcrumbButtons()) {
        crumbs << crumb->text();
        EXPECT_EQ(test::seenText(crumb->toolTip()), crumb->text());
    }
    EXPECT_TRUE(test::shownAsWritten(crumbs.join(u'/')));   // the "/" of "</h1>" separates two crumbs
    picker->load("Prohibido/");
    ASSERT_TRUE(test::runUntil([&] { return picker->error().has_value(); }));
    EXPECT_TRUE(test::shownAsWritten(test::seenText(picker->errorLabel())));
    picker->reject();
}

TEST_F(MainViewTest, DropOfAFolderAndTwoFilesReachesTheEngineInDropOrder)
{
    start("Demo Films", "Rodaje/Dia03/");
    const QString folder = folderWithOneFile();
    const QString first = test::makeFile(test::sandboxDir() + "/card/B.MXF", 20);
    const QString second = test::makeFile(test::sandboxDir() + "/card/A.MXF", 30);
    // What is not a local file is not offered to the engine.
    ASSERT_TRUE(drop({QUrl::fromLocalFile(folder), QUrl("https://example.com/x"), QUrl::fromLocalFile(first),
                      QUrl::fromLocalFile(second)}));
    // Nothing reaches the engine inside the drop itself.
    EXPECT_TRUE(up().items().empty());
    ASSERT_TRUE(test::runUntil([&] { return up().items().size() == 3; }));
    const auto& items = up().items();
    EXPECT_EQ(items[0]->path, folder + "/C0001.MXF");
    EXPECT_EQ(items[0]->destDir, "Rodaje/Dia03/CLIPS/");
    EXPECT_EQ(items[1]->path, first);
    EXPECT_EQ(items[1]->destDir, "Rodaje/Dia03/");
    EXPECT_EQ(items[2]->path, second);
    // The queue appears under the drop zone, which makes room for it as a bar that still takes drops,
    // as does the rest of the window.
    ASSERT_TRUE(test::runUntil([&] { return view->queueList()->isVisibleTo(view); }));
    EXPECT_EQ(view->queueList()->model()->rowCount(), 3);
    EXPECT_TRUE(view->dropZone()->compact());
    EXPECT_LT(view->dropZone()->height(), 60);
    EXPECT_TRUE(view->dropZone()->chooseButton()->isVisibleTo(view));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(test::makeFile(test::sandboxDir() + "/card/D.MXF", 5))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &enter);
    EXPECT_TRUE(view->dropZone()->dragging());
    QDropEvent onTheWindow(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &onTheWindow);
    EXPECT_TRUE(onTheWindow.isAccepted());
    ASSERT_TRUE(test::runUntil([&] { return up().items().size() == 4; }));
}

// What a drop could not queue is said in a box that does not block; the rest is queued.
TEST_F(MainViewTest, WhatADropCouldNotQueueIsSaid)
{
    start("Demo Films", "Rodaje/");
    const QString file = test::makeFile(test::sandboxDir() + "/card/A.MXF", 20);
    const QString gone = test::sandboxDir() + "/card/GONE.MXF";
    ASSERT_TRUE(drop({QUrl::fromLocalFile(gone), QUrl::fromLocalFile(file)}));
    ASSERT_TRUE(test::runUntil([&] { return view->intakeProblems() != nullptr; }));
    EXPECT_TRUE(view->intakeProblems()->informativeText().contains("No existe: " + gone));
    EXPECT_EQ(up().items().size(), 1u);
    view->intakeProblems()->close();
    ASSERT_TRUE(test::runUntil([&] { return view->intakeProblems() == nullptr; }));
    ASSERT_TRUE(drop({QUrl::fromLocalFile(test::makeFile(test::sandboxDir() + "/card/B.MXF", 20))}));
    ASSERT_TRUE(test::runUntil([&] { return up().items().size() == 2; }));
    EXPECT_EQ(view->intakeProblems(), nullptr);
}

TEST_F(MainViewTest, DragOfFilesLightsTheZoneUntilItLeaves)
{
    start("Demo Films");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(test::makeFile(test::sandboxDir() + "/drag/A.MXF"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->dropZone(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(view->dropZone()->dragging());
    QDragLeaveEvent leave;
    QApplication::sendEvent(view->dropZone(), &leave);
    EXPECT_FALSE(view->dropZone()->dragging());

    // A drag of text carries no files: the zone stays dark and does not take it.
    QMimeData text;
    text.setText("hola");
    QDragEnterEvent textEnter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->dropZone(), &textEnter);
    EXPECT_FALSE(textEnter.isAccepted());
    EXPECT_FALSE(view->dropZone()->dragging());
}

TEST_F(MainViewTest, FooterWithoutUploads)
{
    start("Demo Films");
    EXPECT_EQ(footer().stateLabel()->text(), "Sin subidas");
    EXPECT_EQ(textColor(footer().stateLabel()), secondaryColor());
    EXPECT_FALSE(footer().stateSymbol()->isVisibleTo(view));
    EXPECT_FALSE(footer().spinner()->isVisibleTo(view));
    for (QPushButton* button : {footer().retryFailedButton(), footer().cancelAllButton(), footer().reportButton(),
                                footer().clearButton(), view->resumeButton()})
        EXPECT_FALSE(button->isVisibleTo(view)) << button->text().toStdString();
    EXPECT_FALSE(view->queueList()->isVisibleTo(view));
    EXPECT_FALSE(footer().detailLabel()->isVisibleTo(view));
    EXPECT_FALSE(view->dropZone()->compact());
}

TEST(FooterText, EveryOutcomeCountedWithItsPluralAndGreenOnlyWhenAllArrived)
{
    struct Case { Summary summary; QString text; const char* symbol; };
    const QString mb = formatByteCount(10000000);
    const Case cases[] = {
        {{10, 10000000, 2, 1, 0, 0, 0}, "10 subidos y verificados · " + mb + " · 2 ya existían · 1 error", "exclamationmark.triangle.fill"},
        {{1, 10000000, 1, 0, 0, 0, 0}, "1 subido y verificado · " + mb + " · 1 ya existía", "checkmark.circle.fill"},
        {{1, 10000000, 0, 2, 0, 0, 0}, "1 subido y verificado · " + mb + " · 2 errores", "exclamationmark.triangle.fill"},
        // Cancelled and paused files are named, and the check is not green for them.
        {{3, 10000000, 0, 0, 0, 1, 0}, "3 subidos y verificados · " + mb + " · 1 cancelado", "pause.circle"},
        {{0, 0, 0, 0, 0, 2, 0}, "2 cancelados", "pause.circle"},
        {{0, 0, 0, 0, 0, 0, 48}, "48 pendientes", "pause.circle"},
        {{0, 0, 1, 0, 0, 0, 1}, "1 ya existía · 1 pendiente", "pause.circle"},
        {{0, 0, 3, 0, 0, 0, 0}, "3 ya existían", "checkmark.circle.fill"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(finishedText(c.summary), c.text);
        EXPECT_EQ(finishedSymbol(c.summary), c.symbol) << c.text.toStdString();
    }

    // While running: files and bytes of the whole run, speed, time left; then who uploads and waits.
    RunProgress progress;
    progress.files = 56, progress.finished = 3, progress.running = 2, progress.queued = 51;
    progress.bytes = 2100000000, progress.sent = 150000000;
    EXPECT_EQ(runningText(progress, 22300000.7, 190.0), "3 de 56 archivos · " + formatByteCount(150000000) + " de "
                                                            + formatByteCount(2100000000) + " · "
                                                            + formatByteCount(22300000) + "/s · quedan 3 min");
    EXPECT_EQ(runningCounts(progress), "2 subiendo · 51 en cola");
    EXPECT_EQ(progress.percent(), 7);
    progress.files = 1;
    EXPECT_TRUE(runningText(progress, 0, std::nullopt).startsWith("3 de 1 archivo · "));
    EXPECT_TRUE(runningText(progress, 0, std::nullopt).endsWith("/s · calculando…"));
}

TEST(FooterText, TimeLeftOnlyOnceMeaningfulAndSmoothed)
{
    using namespace std::chrono;
    const TimeLeft::Clock::time_point t0{};
    TimeLeft left;
    left.restart(t0);
    // No speed yet, then bytes for less than the settling time: a guess, so nothing.
    EXPECT_FALSE(left.update(t0, 1000000, 0));
    EXPECT_FALSE(left.update(t0 + 1s, 1000000, 100000));
    EXPECT_FALSE(left.update(t0 + 5s, 1000000, 100000));
    const auto settled = left.update(t0 + 6s, 1000000, 100000);
    ASSERT_TRUE(settled);
    EXPECT_NEAR(*settled, 10.0, 0.01);
    // A burst moves the estimate only part of the way.
    const auto burst = left.update(t0 + 7s, 1000000, 1000000);
    ASSERT_TRUE(burst);
    EXPECT_GT(*burst, 2.0);
    EXPECT_LT(*burst, 10.0);
    // A new run starts without an estimate.
    left.restart(t0 + 60s);
    EXPECT_FALSE(left.update(t0 + 61s, 1000000, 100000));

    const std::pair<std::optional<double>, QString> texts[] = {
        {std::nullopt, "calculando…"}, {0.2, "quedan 1 s"}, {59.0, "quedan 59 s"}, {61.0, "quedan 1 min"},
        {3599.0, "quedan 1 h 00 min"}, {3900.0, "quedan 1 h 05 min"}};
    for (const auto& [seconds, text] : texts)
        EXPECT_EQ(timeLeftText(seconds), text);
}

TEST(FooterText, RunProgressCountsOnlyTheRunsOwnFiles)
{
    const QDateTime start = QDateTime::currentDateTimeUtc();
    auto earlier = test::makeItem("OLD.MXF", 500, Status::Done);
    earlier->started = start.addSecs(-60);
    auto done = test::makeItem("D.MXF", 100, Status::Done);
    done->started = start;
    auto running = test::makeItem("R.MXF", 300, Status::Running);
    running->started = start.addSecs(1);
    running->setLoaded(150);
    auto failed = test::makeItem("E.MXF", 1000, Status::Error);
    failed->started = start.addSecs(1);
    auto queued = test::makeItem("Q.MXF", 600, Status::Queued);
    const RunProgress p = runProgress({earlier, done, running, failed, queued}, start);
    EXPECT_EQ(p.files, 4);
    EXPECT_EQ(p.finished, 2);
    EXPECT_EQ(p.running, 1);
    EXPECT_EQ(p.queued, 1);
    EXPECT_EQ(p.bytes, 1000);   // a failed file's bytes are no longer to be sent
    EXPECT_EQ(p.sent, 250);
    EXPECT_EQ(p.percent(), 25);
}

TEST_F(MainViewTest, FooterFollowsTheQueueAndPendingFilesGetABanner)
{
    start("Demo Films");
    auto paused = test::makeItem("P.MXF", 100, Status::Paused);
    auto failed = test::makeItem("E.MXF", 7000000, Status::Error);
    up().setItems({paused, test::makeItem("P2.MXF", 100, Status::Paused), failed, test::makeItem("D.MXF", 100, Status::Done)});
    up().setRoute("Ruta directa (42 ms)");
    ASSERT_TRUE(footerReads("1 subido y verificado · 100 bytes · 1 error · 2 pendientes"));
    EXPECT_EQ(footer().stateSymbol()->property("symbol").toString(), "exclamationmark.triangle.fill");
    EXPECT_EQ(footer().stateSymbol()->property("symbolColor").value<QColor>(), orangeColor());
    EXPECT_EQ(footer().detailLabel()->text(), "Ruta directa (42 ms)");
    EXPECT_EQ(textColor(footer().detailLabel()), secondaryColor());
    for (QPushButton* button : {footer().reportButton(), footer().clearButton(), footer().retryFailedButton()})
        EXPECT_TRUE(button->isVisibleTo(view)) << button->text().toStdString();
    EXPECT_FALSE(footer().cancelAllButton()->isVisibleTo(view));
    EXPECT_EQ(desktop->window().windowTitle(), "Zafrel");

    // Paused files (a restart) are said above the list, with the way to continue them.
    ASSERT_TRUE(view->pendingBanner()->isVisibleTo(view));
    EXPECT_EQ(view->pendingLabel()->text(), "2 archivos quedaron pendientes");
    // The footer follows the items' own changes too.
    failed->setStatus(Status::Done);
    ASSERT_TRUE(footerReads("2 subidos y verificados · " + formatByteCount(7000100) + " · 2 pendientes"));
    view->resumeButton()->click();
    EXPECT_NE(paused->status(), Status::Paused);
    ASSERT_TRUE(test::runUntil([&] { return !view->pendingBanner()->isVisibleTo(view); }));
}

// Records what the window asks of the desktop.
struct RecordingServices : DesktopServices {
    void notify(const QString& title, const QString& body) override { notices.push_back(title + " / " + body); }
    void keepAwake(bool awake) override { awakeCalls.push_back(awake); }
    std::vector<QString> notices;
    std::vector<bool> awakeCalls;
};

TEST_F(MainViewTest, DuringARunAndAfterCancellingIt)
{
    start("Demo Films", "Rodaje/");
    RecordingServices services;
    view->setDesktopServices(&services);
    view->setNoticeAfter(std::chrono::milliseconds(0));
    // The run stays under way while the service has not answered its end.
    service.hold("POST", "/api/upload/done");
    ASSERT_TRUE(drop({QUrl::fromLocalFile(test::makeFile(test::sandboxDir() + "/run/A.MXF", 10))}));
    ASSERT_TRUE(test::runUntil([&] { return up().isRunning() && footer().cancelAllButton()->isVisibleTo(view); }));
    EXPECT_EQ(services.awakeCalls, std::vector<bool>{true});
    // The file fails at once (the service knows no upload): one of one ended, by files 100 %.
    ASSERT_TRUE(test::runUntil([&] { return footer().stateLabel()->text().startsWith("1 de 1 archivo · "); }));
    EXPECT_TRUE(footer().stateLabel()->text().endsWith("/s · calculando…")) << footer().stateLabel()->text().toStdString();
    EXPECT_EQ(footer().detailLabel()->text(), "0 subiendo · 0 en cola");
    EXPECT_TRUE(footer().progressBar()->isVisibleTo(view));
    EXPECT_EQ(footer().progressBar()->value(), 100);
    EXPECT_EQ(desktop->window().windowTitle(), "Zafrel — 100 %");
    EXPECT_TRUE(footer().spinner()->isVisibleTo(view));
    EXPECT_FALSE(footer().reportButton()->isVisibleTo(view));
    EXPECT_FALSE(footer().clearButton()->isVisibleTo(view));

    // "Cancelar todo" asks first; nothing is cancelled until the answer is yes.
    auto queued = test::makeItem("Q.MXF", 10, Status::Queued);
    std::vector<ItemPtr> items = up().items();
    items.push_back(queued);
    up().setItems(items);
    footer().cancelAllButton()->click();
    ASSERT_NE(view->confirmation(), nullptr);
    EXPECT_EQ(view->confirmation()->text(), "¿Cancelar todas las subidas?");
    view->confirmation()->reject();
    test::settle();
    EXPECT_EQ(queued->status(), Status::Queued);
    footer().cancelAllButton()->click();
    ASSERT_NE(view->confirmation(), nullptr);
    view->confirmation()->findChild<QPushButton*>("confirmAccept")->click();
    EXPECT_EQ(queued->status(), Status::Cancelled);

    service.release("POST", "/api/upload/done");
    ASSERT_TRUE(test::runUntil([&] { return !up().isRunning() && footer().reportButton()->isVisibleTo(view); }));
    EXPECT_FALSE(footer().cancelAllButton()->isVisibleTo(view));
    EXPECT_FALSE(footer().spinner()->isVisibleTo(view));
    EXPECT_FALSE(footer().progressBar()->isVisibleTo(view));
    EXPECT_TRUE(footer().clearButton()->isVisibleTo(view));
    EXPECT_EQ(desktop->window().windowTitle(), "Zafrel");

    // The end: sleep allowed again, a notice with the totals, and the report kept on disk.
    EXPECT_EQ(services.awakeCalls, (std::vector<bool>{true, false}));
    ASSERT_EQ(services.notices.size(), 1u);
    EXPECT_EQ(services.notices[0], "Subida terminada con errores / 1 error · 1 cancelado. Abre Zafrel para reintentar los fallidos.");
    ASSERT_FALSE(view->lastArchivedReport().isEmpty());
    EXPECT_TRUE(view->lastArchivedReport().startsWith(reportsDir() + "/informe-"));
    QFile archived(view->lastArchivedReport());
    ASSERT_TRUE(archived.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(archived.readAll()).section('\n', 1), up().report().section('\n', 1));
}

TEST_F(MainViewTest, ReintentarFallidosQueuesEveryFailedAndCancelledFile)
{
    start("Demo Films", "Rodaje/");
    service.hold("POST", "/api/upload/done");
    auto failed = test::makeItem("E.MXF", 10, Status::Error), cancelled = test::makeItem("C.MXF", 10, Status::Cancelled),
         done = test::makeItem("D.MXF", 10, Status::Done);
    up().setItems({done, failed, cancelled});
    ASSERT_TRUE(test::runUntil([&] { return footer().retryFailedButton()->isVisibleTo(view); }));
    footer().retryFailedButton()->click();
    EXPECT_TRUE(up().isRunning());
    EXPECT_EQ(failed->status(), Status::Queued);
    EXPECT_EQ(cancelled->status(), Status::Queued);
    EXPECT_EQ(done->status(), Status::Done);
}

TEST_F(MainViewTest, GuardsAskBeforeDroppingFailedFilesAndBeforeClosingMidRun)
{
    start("Demo Films");
    // "Limpiar" without failed files needs no question.
    up().setItems({test::makeItem("D.MXF", 10, Status::Done)});
    view->clearFinished();
    EXPECT_EQ(view->confirmation(), nullptr);
    EXPECT_TRUE(up().items().empty());

    struct Case {
        std::function<void()> prepare, act;
        std::function<bool()> acted;
    };
    MainWindow& window = desktop->window();
    const Case cases[] = {
        {[&] { up().setItems({test::makeItem("E.MXF", 10, Status::Error)}); }, [&] { view->clearFinished(); },
         [&] { return up().items().empty(); }},
        {[&] { up().setItems({test::makeItem("Q.MXF", 10, Status::Queued)}); }, [&] { window.close(); },
         [&] { return !window.isVisible(); }},
    };
    for (const Case& c : cases) {
        c.prepare();
        c.act();
        ASSERT_NE(view->confirmation(), nullptr);
        view->confirmation()->findChild<QPushButton*>("confirmKeep")->click();
        test::settle();
        EXPECT_FALSE(c.acted());
        c.act();
        ASSERT_NE(view->confirmation(), nullptr);
        view->confirmation()->findChild<QPushButton*>("confirmAccept")->click();
        ASSERT_TRUE(test::runUntil(c.acted));
    }
}

TEST_F(MainViewTest, EveryInteractiveWidgetHasAnAccessibleName)
{
    start("Demo Films", "Rodaje/");
    auto failed = test::makeItem("E.MXF", 10, Status::Error, "Rodaje/CARD1/CLIPS/");
    failed->setError(QString("No se pudo conectar con s3.example.com"));
    failed->errorDetail = "Failed to connect to s3.example.com port 443";
    up().setItems({failed, test::makeItem("P.MXF", 10, Status::Paused), test::makeItem("D.MXF", 10, Status::Done)});
    test::settle();

    // Buttons, fields, lists: whatever takes focus or a click must say what it is.
    const auto unnamed = [](QWidget* root) {
        QStringList missing;
        QList<QWidget*> widgets = root->findChildren<QWidget*>();
        widgets.prepend(root);
        for (QWidget* widget : widgets) {
            const bool interactive = qobject_cast<QAbstractButton*>(widget) || (widget->focusPolicy() & Qt::TabFocus);
            if (!interactive || !widget->isVisibleTo(root))
                continue;
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
            if (!face || face->text(QAccessible::Name).trimmed().isEmpty())
                missing << QString(widget->metaObject()->className()) + " " + widget->objectName();
        }
        return missing;
    };
    EXPECT_EQ(unnamed(&desktop->window()), QStringList());
    footer().reportButton()->click();
    ASSERT_NE(view->report(), nullptr);
    EXPECT_EQ(unnamed(view->report()), QStringList());
    view->report()->reject();
    view->clearFinished();
    ASSERT_NE(view->confirmation(), nullptr);
    EXPECT_EQ(unnamed(view->confirmation()), QStringList());
    view->confirmation()->reject();
    view->openPicker();
    ASSERT_TRUE(test::runUntil([&] { return view->picker() && !view->picker()->loading(); }));
    EXPECT_EQ(unnamed(view->picker()), QStringList());
    view->picker()->reject();

    // Rows are named by file and folder, and described by their state with the error.
    const QModelIndex first = view->queueModel()->index(0);
    EXPECT_EQ(first.data(Qt::AccessibleTextRole).toString(), "E.MXF, en CARD1/CLIPS");
    EXPECT_EQ(first.data(Qt::AccessibleDescriptionRole).toString(),
              "No se pudo conectar con s3.example.com (Failed to connect to s3.example.com port 443)");
}

// The service's answers to a single-request upload of any file, and the store behind them.
void scriptSingleUploads(UiScriptedService& service)
{
    const std::string origin = service.origin();
    service.on("POST", "/api/upload/init", [origin](const test::ScriptedServer::Received& request) {
        const std::string name = nlohmann::json::parse(request.body).at("name").get<std::string>();
        const nlohmann::json answer{{"mode", "single"}, {"key", "Rodaje/" + name}, {"url", origin + "/store/" + name}};
        return test::ScriptedServer::Reply{200, answer.dump()};
    });
    for (const std::string name : {"A.MXF", "B.MXF"})
        service.on("PUT", "/store/" + name, [](const test::ScriptedServer::Received& request) {
            return test::ScriptedServer::Reply{200, "", {{"ETag", "\"" + md5Hex(request.body.data(), request.body.size()) + "\""}}};
        });
}

QAction* signOutAction(MainView* view)
{
    for (QAction* action : view->accountMenu()->actions())
        if (action->text() == "Salir")
            return action;
    return nullptr;
}

void signIn(RootView& root, UiScriptedService& service)
{
    service.on("POST", "/api/login", {200, "{}"});
    root.loginView()->emailField()->setText("ana@empresa.test");
    root.loginView()->passwordField()->setText("secreto");
    root.loginView()->signInButton()->click();
}

// Files paused by a lost session or by "Salir" come back after the next sign-in, paused, and
// "Continuar pendientes" sends them.
void expectPausedRowsThatContinue(MainView* view, UploadManager& up, const std::vector<ItemPtr>& items)
{
    EXPECT_EQ(up.items(), items);
    EXPECT_EQ(view->queueList()->model()->rowCount(), 2);
    ASSERT_TRUE(test::runUntil([&] { return view->pendingBanner()->isVisibleTo(view); }));
    EXPECT_EQ(view->pendingLabel()->text(), "2 archivos quedaron pendientes");
    view->resumeButton()->click();
    ASSERT_TRUE(test::runUntil([&] {
        return !up.isRunning() && std::all_of(items.begin(), items.end(), [](const ItemPtr& item) {
                   return item->status() == Status::Done && item->verified();
               });
    }));
    EXPECT_FALSE(view->pendingBanner()->isVisibleTo(view));
}

TEST_F(MainViewTest, ASessionEndedDuringARunPausesItsFilesUntilTheNextSignIn)
{
    start("Demo Films", "Rodaje/");
    service.on("POST", "/api/upload/init", {401, UiScriptedService::errorJson("No autorizado")});
    ASSERT_TRUE(drop({QUrl::fromLocalFile(test::makeFile(test::sandboxDir() + "/lost/A.MXF", 10)),
                      QUrl::fromLocalFile(test::makeFile(test::sandboxDir() + "/lost/B.MXF", 20))}));
    RootView& root = desktop->rootView();
    ASSERT_TRUE(test::runUntil([&] { return root.currentWidget() == root.loginView() && !up().isRunning(); }));
    EXPECT_EQ(root.loginView()->errorLabel()->text(),
              "La sesión ha caducado. Vuelve a entrar para continuar las subidas pendientes.");
    const std::vector<ItemPtr> items = up().items();
    ASSERT_EQ(items.size(), 2u);
    for (const ItemPtr& item : items) {
        EXPECT_EQ(item->status(), Status::Paused);
        EXPECT_FALSE(item->error().has_value());
    }

    scriptSingleUploads(service);
    signIn(root, service);
    ASSERT_TRUE(test::runUntil([&] { return root.currentWidget() == root.mainView(); }));
    EXPECT_TRUE(footer().detailLabel()->text().startsWith("Sesión caducada. Vuelve a entrar."))
        << footer().detailLabel()->text().toStdString();
    expectPausedRowsThatContinue(view, up(), items);
}

TEST_F(MainViewTest, SalirDuringARunAsksFirstAndPausesTheFiles)
{
    start("Demo Films", "Rodaje/");
    service.hold("POST", "/api/upload/init");
    ASSERT_TRUE(drop({QUrl::fromLocalFile(test::makeFile(test::sandboxDir() + "/out/A.MXF", 10)),
                      QUrl::fromLocalFile(test::makeFile(test::sandboxDir() + "/out/B.MXF", 20))}));
    ASSERT_TRUE(test::runUntil([&] { return service.held("POST", "/api/upload/init") == 2; }));
    const std::vector<ItemPtr> items = up().items();
    QAction* leave = signOutAction(view);
    ASSERT_NE(leave, nullptr);

    // Keeping on changes nothing; leaving pauses both files and shows the login screen.
    RootView& root = desktop->rootView();
    for (const bool agree : {false, true}) {
        leave->trigger();
        ASSERT_NE(view->confirmation(), nullptr);
        EXPECT_EQ(view->confirmation()->text(), "¿Salir con subidas en curso?");
        view->confirmation()->findChild<QPushButton*>(agree ? "confirmAccept" : "confirmKeep")->click();
        if (agree) {
            ASSERT_TRUE(test::runUntil([&] { return root.currentWidget() == root.loginView(); }));
        } else {
            test::settle();
            EXPECT_EQ(root.currentWidget(), root.mainView());
            EXPECT_TRUE(up().isRunning());
        }
    }
    ASSERT_TRUE(test::runUntil([&] { return !up().isRunning(); }));
    for (const ItemPtr& item : items)
        EXPECT_EQ(item->status(), Status::Paused);
    EXPECT_EQ(service.received("POST", "/api/logout").size(), 1u);

    service.release("POST", "/api/upload/init");
    scriptSingleUploads(service);
    signIn(root, service);
    ASSERT_TRUE(test::runUntil([&] { return root.currentWidget() == root.mainView(); }));
    expectPausedRowsThatContinue(view, up(), items);
}

TEST_F(MainViewTest, AnOutageNamesItselfInTheFooter)
{
    start("Demo Films", "Rodaje/");
    up().setItems({test::makeItem("Q.MXF", 10, Status::Queued)});
    up().pauseAll(PauseCause::NoConnection);
    ASSERT_TRUE(test::runUntil([&] { return view->pendingBanner()->isVisibleTo(view); }));
    EXPECT_TRUE(footer().detailLabel()->text().startsWith("Sin conexión con el servidor"))
        << footer().detailLabel()->text().toStdString();
}

TEST_F(MainViewTest, PickerStoresTheServicePathAsTheDestination)
{
    start("Demo Films", "Rodaje/");
    service.on("GET", "/api/ls", [](const UiScriptedService::Received& request) {
        // The service spells the folder its own way; that spelling is what counts.
        if (request.param("path") == "Rodaje/")
            return UiScriptedService::Reply{200, R"({"path":"Rodaje/","folders":[{"name":"Día 3","path":"Rodaje/Día 3/","count":2,"size":0}],"files":[]})"};
        return UiScriptedService::Reply{200, R"({"path":"Rodaje/Día 3/","folders":[],"files":[]})"};
    });
    view->changeDestinationButton()->click();
    DestinationPicker* picker = view->picker();
    ASSERT_NE(picker, nullptr);
    EXPECT_TRUE(picker->isModal() || picker->windowModality() != Qt::NonModal);
    ASSERT_TRUE(test::runUntil([&] { return !picker->loading() && picker->folders().size() == 1; }));
    picker->load("Rodaje/Dia 3/");
    ASSERT_TRUE(test::runUntil([&] { return !picker->loading() && picker->current() == "Rodaje/Día 3/"; }));
    picker->useButton()->click();
    EXPECT_EQ(up().destDir(), "Rodaje/Día 3/");
    EXPECT_EQ(settings::value("destDir").value_or(""), "Rodaje/Día 3/");
    EXPECT_EQ(view->destinationLabel()->text(), "Rodaje/Día 3");
    ASSERT_TRUE(test::runUntil([&] { return view->picker() == nullptr; }));
}

TEST_F(MainViewTest, CancellingThePickerChangesNothing)
{
    start("Demo Films", "Rodaje/");
    service.on("GET", "/api/ls", {200, R"({"path":"Otra/","folders":[],"files":[]})"});
    view->openPicker();
    DestinationPicker* picker = view->picker();
    ASSERT_NE(picker, nullptr);
    ASSERT_TRUE(test::runUntil([&] { return picker->current() == "Otra/"; }));
    picker->cancelButton()->click();
    EXPECT_EQ(up().destDir(), "Rodaje/");
    ASSERT_TRUE(test::runUntil([&] { return view->picker() == nullptr; }));
}

TEST_F(MainViewTest, ReportSheetShowsTheEngineReport)
{
    start("Demo Films", "Rodaje/");
    up().setItems({test::makeItem("A.MXF", 2000000, Status::Done), test::makeItem("B.MXF", 10, Status::Queued)});
    ASSERT_TRUE(test::runUntil([&] { return footer().reportButton()->isVisibleTo(view); }));
    footer().reportButton()->click();
    ReportView* report = view->report();
    ASSERT_NE(report, nullptr);
    // The title carries the clock, which may have ticked since; everything else is the engine's.
    const auto body = [](const QString& text) { return text.section(QLatin1Char('\n'), 1); };
    EXPECT_EQ(body(report->text()), body(up().report()));
    EXPECT_TRUE(report->text().startsWith("Zafrel — informe de subida "));
    // While it is open it follows the queue.
    up().items()[1]->setStatus(Status::Cancelled);
    ASSERT_TRUE(test::runUntil([&] { return report->text().contains("cancelled\t10\tRodaje/B.MXF"); }, std::chrono::seconds(5)));
}

TEST_F(MainViewTest, ChooserSendsItsChoiceToTheEngineAndCancellingChangesNothing)
{
    start("Demo Films", "Rodaje/");
    const QString dir = test::sandboxDir() + "/panel";
    test::makeFile(dir + "/A.MXF");
    test::makeFile(dir + "/B.MXF");
    test::makeFile(dir + "/C.MXF");

    // The chooser is modal: act on it from inside its own event loop.
    auto whenOpen = [dir](std::function<void(FileChooser&, QListView&)> act) {
        QTimer::singleShot(0, [dir, act] {
            auto* chooser = qobject_cast<FileChooser*>(QApplication::activeModalWidget());
            ASSERT_NE(chooser, nullptr);
            chooser->setDirectory(dir);
            auto* list = chooser->findChild<QListView*>("listView");
            ASSERT_TRUE(test::runUntil([&] { return list->model()->rowCount(list->rootIndex()) == 3; }));
            act(*chooser, *list);
        });
    };

    whenOpen([](FileChooser& chooser, QListView&) { chooser.reject(); });
    view->dropZone()->chooseButton()->click();
    test::settle();
    EXPECT_TRUE(up().items().empty());

    whenOpen([](FileChooser& chooser, QListView& list) {
        const QModelIndex root = list.rootIndex();
        for (int row = 0; row < list.model()->rowCount(root); ++row) {
            const QModelIndex index = list.model()->index(row, 0, root);
            if (index.data().toString() != "B.MXF")
                list.selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        chooser.accept();
    });
    view->dropZone()->chooseButton()->click();
    ASSERT_TRUE(test::runUntil([&] { return up().items().size() == 2; }));
    EXPECT_EQ(up().items()[0]->path, dir + "/A.MXF");
    EXPECT_EQ(up().items()[1]->path, dir + "/C.MXF");
    EXPECT_EQ(up().items()[0]->destDir, "Rodaje/");
    // The next chooser, also after a restart, opens where this one was confirmed.
    EXPECT_EQ(settings::value("chooserFolder").value_or(""), dir);
}

// "Límite de velocidad…": the cap applies to the engine at once and holds again at the next start.
TEST_F(MainViewTest, SpeedLimitAppliesAtOnceAndIsRememberedForTheNextStart)
{
    start("Demo Films", "Rodaje/");
    QStringList entries;
    for (QAction* action : view->accountMenu()->actions())
        entries << action->text();
    EXPECT_TRUE(entries.contains("Límite de velocidad…")) << entries.join(", ").toStdString();
    EXPECT_EQ(view->sendRateText(), "");

    EXPECT_FALSE(view->setSendRateText("rápido"));
    EXPECT_EQ(up().sendRate(), 0);
    EXPECT_TRUE(view->setSendRateText("50M"));
    EXPECT_EQ(up().sendRate(), 50'000'000);
    EXPECT_EQ(view->sendRateText(), "50M");

    owner.reset();
    start("Demo Films", "Rodaje/");
    EXPECT_EQ(up().sendRate(), 50'000'000);
    EXPECT_TRUE(view->setSendRateText(""));
    owner.reset();
    start("Demo Films", "Rodaje/");
    EXPECT_EQ(up().sendRate(), 0);
}

}  // namespace
}  // namespace zafrel::ui
