// The main window against the in-process service and the real engine: header, drop zone, footer,
// the sheets (destination, report, chooser, questions) and a run seen from the window.
#include "present/run_text.h"
#include "present/time_left.h"
#include "platform/format.h"
#include "support/desktop_fixture.h"
#include "support/manager_test_access.h"
#include "ui/report_archive.h"

namespace zafrel::test {
namespace {

using namespace zafrel::ui;

TEST_F(DesktopTest, TheHeaderTheDropZoneTheSpeedLimitAndDropsInTheirOrder)
{
    const QString open = "Arrastra aquí la tarjeta o la carpeta del día";
    const std::tuple<std::optional<std::string>, QString, QString, QString, QString> cases[] = {
        {std::nullopt, "", "Administración", "Elige la carpeta de una empresa", "Elige primero la carpeta de una empresa"},
        {std::nullopt, "demo-films/Rodaje/", "Administración", "demo-films/Rodaje", open},
        {"Demo Films", "", "Demo Films", "Raíz de la empresa", open},
    };
    for (const auto& [company, destDir, title, destination, zone] : cases) {
        start(company, destDir);
        EXPECT_EQ(QStringList({view().titleLabel()->text(), view().destinationLabel()->text(), view().dropZone()->titleLabel()->text()}),
                  QStringList({title, destination, zone}));
        EXPECT_EQ(view().dropZone()->chooseButton()->isEnabled(), zone == open);
        EXPECT_EQ(drop({QUrl::fromLocalFile(makeFile("admin/A.MXF"))}), zone == open) << destination.toStdString();
        desktop.reset();
    }
    start();
    // "Límite de velocidad…": the cap applies to the engine at once and holds again at the next start.
    EXPECT_FALSE(view().setSendRateText("rápido") || up().sendRate() != 0 || visible(footer().sendRateMark()));
    // The sheet says what a text means as it is typed, and keeps a text that is no rate.
    view().askSendRate();
    SendRateDialog* sheet = view().sendRateDialog();
    ASSERT_NE(sheet, nullptr);
    sheet->field()->setText("5M0");
    EXPECT_EQ(std::pair(sheet->meaningLabel()->text(), sheet->applyButton()->isEnabled()),
              std::pair(QString("«5M0» no es una velocidad. Escribe, por ejemplo, 50M o 800K."), false));
    press(sheet->field(), Qt::Key_Return, "\r");
    EXPECT_TRUE(sheet->isVisible());
    sheet->field()->setText("50M");
    EXPECT_EQ(sheet->meaningLabel()->text(), formatByteCount(50'000'000) + "/s · 400 Mbit/s");
    sheet->applyButton()->click();
    EXPECT_EQ(std::pair(up().sendRate(), view().sendRateText()), std::pair(int64_t(50'000'000), QString("50M")));
    EXPECT_EQ(footer().sendRateMark()->text(), "Límite: " + formatByteCount(50'000'000) + "/s");
    EXPECT_TRUE(visible(footer().sendRateMark()));
    // "Registro ASC MHL en el destino" (account menu): the engine starts histories, also at the next start.
    EXPECT_FALSE(up().startsHistories());
    view().accountMenu()->findChild<QAction*>("mhlAtDestination")->trigger();
    EXPECT_TRUE(up().startsHistories());
    desktop.reset();
    start("Demo Films", "Rodaje/Dia03/");
    EXPECT_EQ(std::pair(up().sendRate(), up().startsHistories()), std::pair(int64_t(50'000'000), true));

    // Drops reach the engine in drop order, and what could not be queued is said.
    ManagerTestAccess::setItems(up(), {});   // the one dropped above
    holdPuts();
    const QString folder = QFileInfo(makeFile("card/CLIPS/C0001.MXF")).path(), gone = sandboxDir() + "/card/GONE.MXF";
    ASSERT_TRUE(drop({QUrl::fromLocalFile(folder), QUrl("https://example.com/x"), QUrl::fromLocalFile(makeFile("card/B.MXF")),
                      QUrl::fromLocalFile(makeFile("card/.oculto")), QUrl::fromLocalFile(gone),
                      QUrl::fromLocalFile(makeFile("card/A.MXF"))}));
    EXPECT_TRUE(up().items().empty());   // nothing reaches the engine inside the drop itself
    ASSERT_TRUE(runUntil([&] { return view().intakeProblems() != nullptr; }));
    EXPECT_TRUE(view().intakeProblems()->informativeText().contains("No existe: " + gone));
    QStringList queued;
    for (const ItemPtr& item : up().items())
        queued << item->path.mid(sandboxDir().size() + 6) + " → " + item->destDir;
    EXPECT_EQ(queued, (QStringList{"CLIPS/C0001.MXF → Rodaje/Dia03/CLIPS/", "B.MXF → Rodaje/Dia03/", "A.MXF → Rodaje/Dia03/"}));
    // The queue appears; the zone shrinks to a bar, and the whole window still takes drops.
    ASSERT_TRUE(runUntil([&] { return visible(view().queueList()); }));
    EXPECT_TRUE(view().dropZone()->compact());
    ASSERT_TRUE(drop({QUrl::fromLocalFile(makeFile("card/D.MXF"))}, &view()));
    ASSERT_TRUE(runUntil([&] { return up().items().size() == 4; }));
    up().setDestDir("/Rodaje/Dia03/");   // outer slashes go
    EXPECT_EQ(view().destinationLabel()->text(), "Rodaje/Dia03");
    // Named for screen readers, and described by the text itself rather than the markup of its tooltip.
    for (const ElidedLabel* label : {view().destinationLabel(), footer().stateLabel()}) {
        EXPECT_FALSE(label->accessibleName().isEmpty());
        EXPECT_EQ(label->accessibleDescription(), label->text());
    }
}

TEST(FooterText, EveryOutcomeCountedWithItsPluralTheRunningLinesAndTheTimeLeft)
{
    const QString mb = formatByteCount(10000000);
    const std::tuple<Summary, QString, const char*> cases[] = {
        {{10, 10000000, 2, 1, 0, 0, 0}, "10 subidos y verificados · " + mb + " · 2 ya existían · 1 error",
         "exclamationmark.triangle.fill"},
        {{1, 10000000, 1, 0, 0, 0, 0}, "1 subido y verificado · " + mb + " · 1 ya existía", "checkmark.circle.fill"},
        {{0, 0, 0, 2, 0, 2, 0}, "2 errores · 2 cancelados", "exclamationmark.triangle.fill"},
        {{3, 10000000, 0, 0, 0, 1, 1}, "3 subidos y verificados · " + mb + " · 1 cancelado · 1 pendiente", "pause.circle"},
        {{0, 0, 3, 0, 0, 0, 48}, "3 ya existían · 48 pendientes", "pause.circle"},
    };
    for (const auto& [summary, text, symbol] : cases)
        EXPECT_EQ(finishedText(summary) + " " + finishedSymbol(summary), text + " " + symbol);
    RunProgress p{56, 3, 2, 51, 2100000000, 150000000};
    EXPECT_EQ(runningText(p, 22300000.7, 190.0), "3 de 56 archivos · " + formatByteCount(150000000) + " de " + formatByteCount(2100000000)
                                                     + " · " + formatByteCount(22300000) + "/s · quedan 3 min");
    EXPECT_EQ(runningCounts(p) + " " + QString::number(p.percent()), "2 subiendo · 51 en cola 7");
    p.files = 1;
    EXPECT_TRUE(runningText(p, 0, std::nullopt).startsWith("3 de 1 archivo · "));
    // A file paused from its row has not ended: it leaves the counts and is told apart.
    std::vector<ItemPtr> run{makeItem("A", 100, Status::Done), makeItem("B", 100, Status::Paused), makeItem("C", 100, Status::Running)};
    for (const ItemPtr& item : run)
        item->run = 7;
    const RunProgress mixed = runProgress(run, 7);
    EXPECT_EQ(runningText(mixed, 0, std::nullopt).section(" · ", 0, 1) + " · " + runningCounts(mixed),
              "1 de 2 archivos · " + formatByteCount(100) + " de " + formatByteCount(200) + " · 1 subiendo · 0 en cola · 1 en pausa");
    // Every byte out is not yet every file stored: 100 % only once all have ended.
    EXPECT_EQ((RunProgress{2, 1, 1, 0, 100, 100}.percent()), 99);
    EXPECT_EQ((RunProgress{2, 2, 0, 0, 100, 100}.percent()), 100);
    const std::pair<std::optional<double>, QString> left[] = {{std::nullopt, "calculando…"}, {0.2, "quedan 1 s"}, {59.0, "quedan 59 s"},
                                                              {61.0, "quedan 1 min"}, {3900.0, "quedan 1 h 05 min"}};
    for (const auto& [seconds, text] : left)
        EXPECT_EQ(timeLeftText(seconds), text);
    EXPECT_EQ(routeText(RouteDecision{true, 79.6}) + routeText(std::nullopt), "Ruta acelerada (79 ms)");
    // No estimate before bytes have moved for the settling time; then a burst moves it only part of the way.
    using namespace std::chrono;
    const TimeLeft::Clock::time_point t0{};
    TimeLeft estimate;
    estimate.restart(t0);
    EXPECT_FALSE(estimate.update(t0 + 1s, 1000000, 100000) || estimate.update(t0 + 5s, 1000000, 100000));
    EXPECT_NEAR(estimate.update(t0 + 6s, 1000000, 100000).value_or(0), 10.0, 0.01);
    const double burst = estimate.update(t0 + 7s, 1000000, 1000000).value_or(0);
    EXPECT_TRUE(burst > 2.0 && burst < 10.0) << burst;
    // Nothing moving is no estimate, and moving again settles anew.
    EXPECT_FALSE(estimate.update(t0 + 8s, 1000000, 0) || estimate.update(t0 + 9s, 1000000, 100000));
}

// Records what the window asks of the desktop.
struct RecordingServices : DesktopServices {
    void notify(const QString& title, const QString& body, std::function<void()> clicked) override
    {
        notices << title + " / " + body;
        click = std::move(clicked);
    }
    void keepAwake(bool awake) override { awake_.push_back(awake); }
    QStringList notices;
    std::function<void()> click;
    std::vector<bool> awake_;
};

TEST_F(DesktopTest, DuringARunAfterCancellingItAndItsReport)
{
    const LocalZone india("Asia/Kolkata");
    start();
    RecordingServices services;
    view().setDesktopServices(&services);
    view().setNoticeAfter(std::chrono::milliseconds(0));
    Gate& store = holdPuts();
    service.onPut = [&store](const FakeUploadService::Put& put) {
        return put.key.ends_with("A.MXF") ? FakeUploadService::PutReply{403, "", std::nullopt}
                                          : FakeUploadService::PutReply{200, "", "\"" + put.md5 + "\"", &store};
    };
    ManagerTestAccess::setItems(up(), {makeItem("ANTES.MXF", 10, Status::Done)});   // an earlier run's row: not this run's news
    ASSERT_TRUE(drop({QUrl::fromLocalFile(makeFile("run/A.MXF")), QUrl::fromLocalFile(makeFile("run/B.MXF"))}));
    ASSERT_TRUE(runUntil([&] { return footer().stateLabel()->text().startsWith("1 de 2 archivos · "); }));
    EXPECT_EQ(footer().detailLabel()->text(), "1 subiendo · 0 en cola");
    EXPECT_EQ(services.awake_, std::vector<bool>{true});
    EXPECT_EQ(desktop->window().windowTitle(), QString("Zafrel — %1 %").arg(footer().progressBar()->value()));
    EXPECT_TRUE(visible(footer().progressBar()) && visible(footer().spinner()) && visible(footer().cancelAllButton()));
    EXPECT_FALSE(visible(footer().reportButton()) || visible(footer().clearButton()));
    const ItemPtr b = up().items()[2];
    for (const char* button : {"confirmKeep", "confirmAccept"}) {   // nothing is cancelled until the answer is yes
        footer().cancelAllButton()->click();
        EXPECT_EQ(answerQuestion(button), "¿Cancelar todas las subidas?");
        EXPECT_EQ(b->status() == Status::Cancelled, button == std::string("confirmAccept"));
    }
    ASSERT_TRUE(runUntil([&] { return !up().isRunning() && visible(footer().reportButton()); }));
    EXPECT_FALSE(visible(footer().spinner()) || visible(footer().progressBar()));
    EXPECT_EQ(desktop->window().windowTitle(), "Zafrel");
    // The end: sleep allowed again, a notice with the run's totals, and the run's report kept on
    // disk, named by the run's start as the report gives it, in local time.
    EXPECT_EQ(services.awake_, (std::vector<bool>{true, false}));
    EXPECT_EQ(services.notices,
              QStringList{"Subida terminada con errores / 1 error · 1 cancelado. Abre Zafrel para reintentar los fallidos."});
    const QString archived = QString::fromUtf8(fileBytes(view().lastArchivedReport()));
    const QDateTime started = up().lastRun()->started.toTimeZone(QTimeZone(QByteArrayLiteral("Asia/Kolkata")));
    EXPECT_EQ(view().lastArchivedReport(), reportsDir() + "/informe-" + started.toString("yyyy-MM-dd_HH-mm-ss") + ".txt");
    for (const QString& line : {"Inicio: " + started.toString("yyyy-MM-dd HH:mm:ss") + " IST (UTC+05:30)",
                                QString("Archivos: 1 error · 1 cancelado"), QString("cancelado\t10\tRodaje/B.MXF\t")})
        EXPECT_TRUE(archived.contains("\n" + line)) << line.toStdString();
    EXPECT_FALSE(archived.contains("ANTES.MXF"));
    // A click on the notice brings the window forward from wherever it was.
    QWidget other;
    other.show();
    other.activateWindow();
    desktop->window().showMinimized();
    ASSERT_TRUE(services.click);
    services.click();
    EXPECT_TRUE(runUntil([&] { return QApplication::activeWindow() == &desktop->window() && !desktop->window().isMinimized(); }));
    // The sheet shows that report, the run's times and not the sheet's, and follows the queue.
    footer().reportButton()->click();
    ASSERT_NE(view().report(), nullptr);
    EXPECT_EQ(view().report()->text(), archived);
    up().items()[1]->setStatus(Status::Cancelled);
    ASSERT_TRUE(runUntil([&] { return view().report()->text().contains("\ncancelado\t10\tRodaje/A.MXF\t"); }));
}

// A queue file that cannot be read (cut short) is set aside before the window exists, and the footer
// says so all the same. Dropping failed files, closing and leaving during a run each ask first.
TEST_F(DesktopTest, TheFooterFollowsTheQueueFailedFilesAreRetriedAndLeavingAsksFirst)
{
    writeFile(queueFilePath(), "[{\"id\":");
    start();
    EXPECT_EQ(footer().stateLabel()->text(), "Sin subidas");
    EXPECT_TRUE(visible(footer().noticeLabel()));
    EXPECT_TRUE(footer().noticeLabel()->text().startsWith("La cola guardada en " + queueFilePath() + " no se puede leer: "))
        << footer().noticeLabel()->text().toStdString();
    EXPECT_FALSE(QFile::exists(queueFilePath()));
    auto failed = makeItem("E.MXF", 7000000, Status::Error);
    ManagerTestAccess::setItems(up(), {makeItem("P.MXF", 100, Status::Paused), makeItem("P2.MXF", 100, Status::Paused), failed,
                   makeItem("D.MXF", 100, Status::Done)});
    ManagerTestAccess::setRoute(up(), {false, 42.9});
    ASSERT_TRUE(footerReads("1 subido y verificado · 100 bytes · 1 error · 2 pendientes"));
    EXPECT_EQ(footer().detailLabel()->text(), "Ruta directa (42 ms)");
    EXPECT_TRUE(visible(footer().reportButton()) && visible(footer().clearButton()) && visible(footer().retryFailedButton()));
    EXPECT_FALSE(visible(footer().cancelAllButton()));
    EXPECT_TRUE(visible(view().pendingBanner()));
    EXPECT_EQ(view().pendingLabel()->text(), "2 archivos quedaron pendientes");
    failed->setStatus(Status::Done);
    ASSERT_TRUE(footerReads("2 subidos y verificados · " + formatByteCount(7000100) + " · 2 pendientes"));
    up().pauseAll(PauseCause::NoConnection);   // an outage names itself
    ASSERT_TRUE(runUntil([&] { return footer().detailLabel()->text().startsWith("Sin conexión con el servidor"); }));

    failed = makeItem("E.MXF", 10, Status::Error);
    auto cancelled = makeItem("C.MXF", 10, Status::Cancelled), done = makeItem("D.MXF", 10, Status::Done);
    ManagerTestAccess::setItems(up(), {done});
    view().clearFinished();   // nothing failed: no question
    EXPECT_TRUE(up().items().empty());
    ManagerTestAccess::setItems(up(), {done, cancelled});   // cancelled files alone are offered again too
    ASSERT_TRUE(runUntil([&] { return visible(footer().retryFailedButton()); }));
    ManagerTestAccess::setItems(up(), {done, failed, cancelled});
    footer().retryFailedButton()->click();
    EXPECT_TRUE(up().isRunning());
    EXPECT_EQ(std::tuple(failed->status(), cancelled->status(), done->status()),
              std::tuple(Status::Queued, Status::Queued, Status::Done));
    ASSERT_TRUE(runUntil([&] { return !up().isRunning(); }));

    MainWindow& window = desktop->window();
    const ItemPtr queued = makeItem("Q.MXF", 10);
    const std::tuple<ItemPtr, std::function<void()>, QString, std::function<bool()>> cases[] = {
        {makeItem("F.MXF", 10, Status::Error), [&] { view().clearFinished(); }, "¿Quitar de la lista el archivo que falló?",
         [&] { return up().items().empty(); }},
        {makeItem("K.MXF", 10, Status::Cancelled), [&] { view().clearFinished(); }, "¿Quitar de la lista el archivo cancelado?",
         [&] { return up().items().empty(); }},
        {queued, [&] { window.close(); }, "¿Cerrar Zafrel con subidas en curso?", [&] { return !window.isVisible(); }},
        // Leaving pauses the files for the next sign-in.
        {queued, [&] { view().accountMenu()->actions().back()->trigger(); }, "¿Salir con subidas en curso?",
         [&] { return root().currentWidget() == root().loginView() && queued->status() == Status::Paused; }},
    };
    for (const auto& [item, act, question, acted] : cases) {
        ManagerTestAccess::setItems(up(), {item});
        for (const char* button : {"confirmKeep", "confirmAccept"}) {   // nothing happens until the answer is yes
            act();
            EXPECT_EQ(answerQuestion(button), question);
            EXPECT_EQ(acted(), button == std::string("confirmAccept")) << question.toStdString();
        }
    }
    // The question names what would go.
    std::vector<ItemPtr> gone;
    for (const char* name : {"1.MXF", "2.MXF", "3.MXF", "4.MXF", "5.MXF", "6.MXF", "7.MXF"})
        gone.push_back(makeItem(name, 10, gone.size() % 2 ? Status::Cancelled : Status::Error));
    ManagerTestAccess::setItems(up(), gone);
    view().clearFinished();
    ASSERT_NE(view().confirmation(), nullptr);
    EXPECT_TRUE(view().confirmation()->informativeText().startsWith("1.MXF, 2.MXF, 3.MXF, 4.MXF, 5.MXF y 2 más.\n"));
    EXPECT_EQ(answerQuestion("confirmKeep"), "¿Quitar de la lista los 7 archivos que fallaron o se cancelaron?");
}

// A session that ends during a run pauses its files and says so. While an account of another company is
// signed in they wait aside: not listed, not continued, counted on one line, under that account's own
// company and destination. Their account signing in again brings them back; "Continuar pendientes" sends them.
TEST_F(DesktopTest, FilesOfAnEndedSessionWaitAsideUntilTheirAccountSignsInAgain)
{
    start();
    bool expired = true;
    service.intercept = [&](const SeenRequest& request) -> std::optional<FakeReply> {
        return expired && request.path == "/api/upload/init" ? std::optional(errorReply(401, "No autorizado")) : std::nullopt;
    };
    ASSERT_TRUE(drop({QUrl::fromLocalFile(makeFile("cuentas/A.MXF")), QUrl::fromLocalFile(makeFile("cuentas/B.MXF"))}));
    ASSERT_TRUE(shows(root().loginView()));
    EXPECT_EQ(login().errorLabel()->text(), "La sesión ha caducado. Vuelve a entrar para continuar las subidas pendientes.");
    ASSERT_TRUE(runUntil([&] { return !up().isRunning(); }));
    ASSERT_EQ(up().items().size(), 2u);
    EXPECT_TRUE(std::ranges::all_of(up().items(), [](const ItemPtr& i) { return i->status() == Status::Paused; }));
    expired = false;

    answer("POST", "/api/login", okReply());
    const FakeReply luis = jsonReply({{"email", "luis@otra.test"}, {"name", "Luis"}, {"is_admin", false},
                                      {"company", {{"slug", "otra"}, {"name", "Otra Productora"}}}, {"bucket", ""}});
    answer("GET", "/api/me", luis);
    signIn("luis@otra.test");
    ASSERT_TRUE(shows(root().mainView()));
    ASSERT_TRUE(runUntil([&] { return visible(view().otherAccountsLabel()); }));
    EXPECT_EQ(view().otherAccountsLabel()->text(), "2 archivos de otra cuenta esperan a que esa cuenta vuelva a entrar");
    EXPECT_EQ(view().queueModel()->rowCount(), 0);
    EXPECT_FALSE(visible(view().pendingBanner()));
    EXPECT_EQ(view().titleLabel()->text(), "Otra Productora");
    EXPECT_EQ(view().destinationLabel()->text(), "Raíz de la empresa");
    up().resumePaused();
    settle();
    EXPECT_TRUE(service.puts().empty());

    view().signOut();
    ASSERT_TRUE(shows(root().loginView()));
    answer("GET", "/api/me", userReply("Demo Films"));
    signIn();
    ASSERT_TRUE(shows(root().mainView()));
    EXPECT_FALSE(footer().detailLabel()->text().contains("Sesión caducada"));   // over once signed in again
    ASSERT_TRUE(runUntil([&] { return visible(view().pendingBanner()) && !visible(view().otherAccountsLabel()); }));
    EXPECT_EQ(view().destinationLabel()->text(), "Rodaje");
    view().resumeButton()->click();
    const auto sent = [](const ItemPtr& i) { return i->status() == Status::Done; };
    ASSERT_TRUE(runUntil([&] { return !up().isRunning() && up().items().size() == 2 && std::ranges::all_of(up().items(), sent); }));
    EXPECT_FALSE(visible(view().pendingBanner()));

    // A command-line run beside the window signs in as luis@: the window follows the session.
    answer("GET", "/api/me", luis);
    up().setAccount(User{"luis@otra.test", "Luis", false, Company{"otra", "Otra Productora"}, "", std::nullopt});
    EXPECT_TRUE(runUntil([&] { return view().titleLabel()->text() == "Otra Productora" && shows(root().mainView()); }));
}

TEST_F(DesktopTest, TheChooserEntersFoldersOnReturnSendsInListedOrderAndCancellingChangesNothing)
{
    start();
    const QString dir = QFileInfo(makeFile("panel/A.MXF")).path();
    makeFile("panel/B.MXF");
    makeFile("panel/CLIPS/C0001.MXF");
    holdPuts();
    for (const bool accept : {false, true}) {
        QTimer::singleShot(0, [dir, accept] {   // the chooser is modal: act from inside its own event loop
            auto* chooser = qobject_cast<FileChooser*>(QApplication::activeModalWidget());
            ASSERT_NE(chooser, nullptr);
            auto* list = chooser->findChild<QListView*>("listView");
            auto* edit = chooser->findChild<QLineEdit*>("fileNameEdit");
            // Return on a folder enters it, whichever way it was named: the focused row, a name
            // typed key by key (the completer's list open, as while typing), a whole path typed.
            chooser->activateWindow();
            for (const QString& typed : {QString(), QString("CLIPS"), dir + "/CLIPS"}) {
                chooser->setDirectory(dir);
                ASSERT_TRUE(runUntil([&] { return entry(list, "CLIPS").isValid(); }));
                list->setCurrentIndex(entry(list, "CLIPS"));
                QWidget* target = list;
                if (!typed.isEmpty()) {
                    edit->setFocus();
                    for (const QChar c : typed)
                        press(edit, Qt::Key(c.toUpper().unicode()), QString(c));
                    QAbstractItemView* popup = edit->completer()->popup();
                    ASSERT_TRUE(runUntil([&] { return popup->isVisible(); })) << typed.toStdString();
                    target = popup;
                }
                press(target, Qt::Key_Return, "\r");
                settle();
                EXPECT_EQ(chooser->directory().absolutePath(), dir + "/CLIPS") << typed.toStdString();
                EXPECT_TRUE(chooser->isVisible() && edit->text().isEmpty()) << typed.toStdString();
            }
            chooser->setDirectory(dir);
            ASSERT_TRUE(runUntil([&] { return list->model()->rowCount(list->rootIndex()) == 3; }));
            for (const QString name : {"B.MXF", "CLIPS", "A.MXF"})   // picked in another order than listed
                list->selectionModel()->select(entry(list, name), QItemSelectionModel::Select | QItemSelectionModel::Rows);
            settle();
            auto* buttons = chooser->findChild<QDialogButtonBox*>("buttonBox");
            buttons->button(accept ? QDialogButtonBox::Open : QDialogButtonBox::Cancel)->click();
        });
        view().dropZone()->chooseButton()->click();
        settle();
        EXPECT_EQ(up().items().size(), accept ? 3u : 0u);
    }
    QStringList queued;
    for (const ItemPtr& item : up().items())
        queued << item->path.mid(dir.size() + 1);
    EXPECT_EQ(queued, (QStringList{"A.MXF", "B.MXF", "CLIPS/C0001.MXF"}));
    EXPECT_EQ(settings::value("chooserFolder").value_or(""), dir);   // the next chooser opens there, also after a restart
}

// Names and messages from the service and from disks show as written: markup stays characters,
// control characters go. Rows are named for screen readers by file, folder, state and error.
TEST_F(DesktopTest, TextsFromOutsideShowAsWrittenAndRowsHaveAccessibleNames)
{
    const nlohmann::json folder = {{"name", kHostile.toStdString()}, {"path", "X/"}, {"count", 1}, {"size", 0}};
    answer("GET", "/api/ls", jsonReply({{"path", ""}, {"folders", {folder}}, {"files", nlohmann::json::array()}}));
    start(kHostile.toStdString());
    up().setDestDir(kHostile + "/");
    const ItemPtr hostile = makeItem(kHostile + ".MXF", 10, Status::Error),
                  failed = makeItem("E.MXF", 10, Status::Error, kHostile + "/CARD1/CLIPS/");
    hostile->setError(kHostile);
    failed->fail("No se pudo conectar con s3.example.com", "Failed to connect to s3.example.com port 443");
    ManagerTestAccess::setItems(up(), {hostile, failed, makeItem("D.MXF", 10, Status::Done)});
    view().openPicker();
    ASSERT_TRUE(runUntil([&] { return view().picker() && view().picker()->folderList()->count() == 1; }));
    const QListWidgetItem* row = view().picker()->folderList()->item(0);
    for (const QString& seen : {seenText(view().titleLabel()), view().destinationLabel()->text(),
                                seenText(view().destinationLabel()->toolTip()), rowSubtitle(*hostile),
                                seenText(view().queueModel()->index(0).data(Qt::ToolTipRole).toString()), row->text(),
                                seenText(row->toolTip())})
        EXPECT_TRUE(shownAsWritten(seen)) << seen.toStdString();

    const QModelIndex second = view().queueModel()->index(1);
    EXPECT_EQ(second.data(Qt::AccessibleTextRole).toString(), "E.MXF, en CARD1/CLIPS");
    EXPECT_EQ(second.data(Qt::AccessibleDescriptionRole).toString(),
              "No se pudo conectar con s3.example.com (Failed to connect to s3.example.com port 443)");
}

}  // namespace
}  // namespace zafrel::test
