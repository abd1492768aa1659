// The main window against a scripted service and the real engine: header, drop zone and its
// refusal rule, the footer's states, the sheets, and signing out during a run.
#include "ui/main_view.h"

#include "engine/upload_manager.h"
#include "platform/format.h"
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
#include "ui/queue_model.h"
#include "ui/report_view.h"
#include "ui/root_view.h"
#include "ui/spinner.h"
#include "ui/style.h"
#include "ui/upload_row.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>
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
    // The queue appears under the drop zone.
    ASSERT_TRUE(test::runUntil([&] { return view->queueList()->isVisibleTo(view); }));
    EXPECT_EQ(view->queueList()->model()->rowCount(), 3);
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
    for (QPushButton* button : {footer().resumeButton(), footer().cancelAllButton(), footer().reportButton(),
                                footer().clearButton()})
        EXPECT_FALSE(button->isVisibleTo(view)) << button->text().toStdString();
    EXPECT_FALSE(view->queueList()->isVisibleTo(view));
    EXPECT_FALSE(footer().routeLabel()->isVisibleTo(view));
}

TEST_F(MainViewTest, FooterAfterARunWithSkippedAndFailedFiles)
{
    start("Demo Films");
    std::vector<ItemPtr> items;
    qint64 doneBytes = 0;
    for (int i = 0; i < 10; ++i) {
        items.push_back(test::makeItem(QString("D%1.MXF").arg(i), 1000000 + i, Status::Done));
        doneBytes += 1000000 + i;
    }
    items.push_back(test::makeItem("S1.MXF", 5000000, Status::Skipped));
    items.push_back(test::makeItem("S2.MXF", 5000000, Status::Skipped));
    items.push_back(test::makeItem("E.MXF", 7000000, Status::Error));
    up().setItems(items);
    ASSERT_TRUE(footerReads("10 subidos y verificados · " + formatByteCount(doneBytes) + " · 2 ya existían · 1 errores"));
    EXPECT_TRUE(footer().stateSymbol()->isVisibleTo(view));
    EXPECT_EQ(footer().stateSymbol()->property("symbol").toString(), "exclamationmark.triangle.fill");
    EXPECT_EQ(footer().stateSymbol()->property("symbolColor").value<QColor>(), orangeColor());
    EXPECT_TRUE(footer().reportButton()->isVisibleTo(view));
    EXPECT_TRUE(footer().clearButton()->isVisibleTo(view));
    EXPECT_FALSE(footer().cancelAllButton()->isVisibleTo(view));
    EXPECT_FALSE(footer().resumeButton()->isVisibleTo(view));

    // The footer follows the items' own changes too: once the failure is gone, the check is green.
    items.back()->setStatus(Status::Done);
    ASSERT_TRUE(footerReads("11 subidos y verificados · " + formatByteCount(doneBytes + 7000000) + " · 2 ya existían"));
    items[10]->setStatus(Status::Cancelled);
    items[11]->setStatus(Status::Cancelled);
    ASSERT_TRUE(footerReads("11 subidos y verificados · " + formatByteCount(doneBytes + 7000000)));
    EXPECT_EQ(footer().stateSymbol()->property("symbol").toString(), "checkmark.circle.fill");
    EXPECT_EQ(footer().stateSymbol()->property("symbolColor").value<QColor>(), greenColor());

    // "Limpiar" clears the finished items; the queue disappears with them.
    footer().clearButton()->click();
    ASSERT_TRUE(footerReads("Sin subidas"));
    EXPECT_TRUE(up().items().empty());
    EXPECT_FALSE(view->queueList()->isVisibleTo(view));
}

TEST_F(MainViewTest, FooterShowsTheRouteAndOffersToContinuePausedItems)
{
    start("Demo Films");
    up().setItems({test::makeItem("P.MXF", 100, Status::Paused), test::makeItem("D.MXF", 100, Status::Done)});
    up().setRoute("Ruta directa (42 ms)");
    ASSERT_TRUE(test::runUntil([&] { return footer().resumeButton()->isVisibleTo(view); }));
    EXPECT_EQ(footer().routeLabel()->text(), "· Ruta directa (42 ms)");
    EXPECT_TRUE(footer().routeLabel()->isVisibleTo(view));
    EXPECT_EQ(textColor(footer().routeLabel()), secondaryColor());

    footer().resumeButton()->click();
    EXPECT_NE(up().items()[0]->status(), Status::Paused);
    ASSERT_TRUE(test::runUntil([&] { return !footer().resumeButton()->isVisibleTo(view); }));
}

TEST_F(MainViewTest, FooterDuringARunAndAfterCancellingIt)
{
    start("Demo Films", "Rodaje/");
    // The run stays under way while the service has not answered its end.
    service.hold("POST", "/api/upload/done");
    ASSERT_TRUE(drop({QUrl::fromLocalFile(test::makeFile(test::sandboxDir() + "/run/A.MXF", 10))}));
    ASSERT_TRUE(test::runUntil([&] { return up().isRunning() && footer().cancelAllButton()->isVisibleTo(view); }));
    const QRegularExpression running("^\\d+ en curso · .+/s$");
    EXPECT_TRUE(running.match(footer().stateLabel()->text()).hasMatch()) << footer().stateLabel()->text().toStdString();
    EXPECT_TRUE(footer().spinner()->isVisibleTo(view));
    EXPECT_FALSE(footer().reportButton()->isVisibleTo(view));
    EXPECT_FALSE(footer().clearButton()->isVisibleTo(view));

    up().setSpeed(2500000.9);
    ASSERT_TRUE(test::runUntil([&] { return footer().stateLabel()->text().endsWith(" en curso · " + formatByteCount(2500000) + "/s"); },
                               std::chrono::seconds(5)));

    footer().cancelAllButton()->click();
    service.release("POST", "/api/upload/done");
    ASSERT_TRUE(test::runUntil([&] { return !up().isRunning() && footer().reportButton()->isVisibleTo(view); }));
    EXPECT_FALSE(footer().cancelAllButton()->isVisibleTo(view));
    EXPECT_FALSE(footer().spinner()->isVisibleTo(view));
    EXPECT_TRUE(footer().clearButton()->isVisibleTo(view));
}

TEST_F(MainViewTest, SigningOutDuringARunKeepsTheQueue)
{
    start("Demo Films", "Rodaje/");
    service.hold("POST", "/api/upload/done");
    ASSERT_TRUE(drop({QUrl::fromLocalFile(test::makeFile(test::sandboxDir() + "/out/A.MXF", 10)),
                      QUrl::fromLocalFile(test::makeFile(test::sandboxDir() + "/out/B.MXF", 10))}));
    ASSERT_TRUE(test::runUntil([&] { return up().isRunning() && up().items().size() == 2; }));
    const std::vector<ItemPtr> before = up().items();

    QAction* leave = nullptr;
    for (QAction* action : view->accountMenu()->actions())
        if (action->text() == "Salir")
            leave = action;
    ASSERT_NE(leave, nullptr);
    leave->trigger();
    RootView& root = desktop->rootView();
    ASSERT_TRUE(test::runUntil([&] { return root.currentWidget() == root.loginView(); }));
    EXPECT_TRUE(up().isRunning());
    EXPECT_EQ(up().items(), before);

    // Signing in again shows the same queue.
    service.on("POST", "/api/login", {200, "{}"});
    root.loginView()->emailField()->setText("ana@empresa.test");
    root.loginView()->passwordField()->setText("secreto");
    root.loginView()->signInButton()->click();
    ASSERT_TRUE(test::runUntil([&] { return root.currentWidget() == root.mainView(); }));
    EXPECT_EQ(up().items(), before);
    EXPECT_TRUE(view->queueList()->isVisibleTo(view));
    EXPECT_EQ(view->queueList()->model()->rowCount(), 2);
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
}

}  // namespace
}  // namespace zafrel::ui
