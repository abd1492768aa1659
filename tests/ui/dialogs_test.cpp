// The sheets on their own: the destination picker against the in-process service, the chooser's
// sidebar, and the report.
#include "platform/format.h"
#include "support/desktop_fixture.h"

namespace zafrel::test {
namespace {

using namespace zafrel::ui;

// Listings of a small tree: "" holds Rodaje/, Rodaje/ holds Dia03/ (labelled, which the service
// also finds as "dia03") and Dia04/; Prohibido/ is refused.
FakeReply listing(const SeenRequest& request)
{
    const std::string path = request.param("path") == "Rodaje/dia03/" ? "Rodaje/Dia03/" : request.param("path");
    nlohmann::json folders = nlohmann::json::array();
    if (path.empty())
        folders.push_back({{"name", "Rodaje"}, {"path", "Rodaje/"}, {"count", 2}, {"size", 0}});
    else if (path == "Rodaje/")
        folders = {{{"name", "Dia03"}, {"path", "Rodaje/Dia03/"}, {"label", "Día 3 · Exteriores"}, {"count", 41}, {"size", 0}},
                   {{"name", "Dia04"}, {"path", "Rodaje/Dia04/"}, {"count", 0}, {"size", 0}}};
    else if (path == "Prohibido/")
        return errorReply(403, "sin permiso");
    return jsonReply({{"path", path}, {"folders", folders}, {"files", nlohmann::json::array()}});
}

class PickerTest : public DesktopTest {
protected:
    void open(const QString& path, bool isAdmin = false)
    {
        service.network()->route("GET", "/api/ls", listing);
        picker = std::make_unique<DestinationPicker>(api, path, isAdmin);
        picker->show();
        idle();
    }
    void idle() { EXPECT_TRUE(runUntil([&] { return !picker->loading(); })); }
    // A click on crumb `i`, on row `i`, a key on the list, each until what it asked for is listed;
    // a new folder asked for.
    void crumb(int i) { picker->breadcrumbButtons()[i]->click(); idle(); }
    void row(int i) { emit picker->folderList()->itemClicked(picker->folderList()->item(i)); idle(); }
    void create(const QString& name) { picker->newNameField()->setText(name); picker->createButton()->click(); }
    void key(Qt::Key pressed, const QString& text = {}) { press(picker->folderList(), pressed, text); idle(); }
    // The crumbs and the rows as shown: "Raíz/Rodaje: Día 3 · Exteriores, Dia04".
    QString shown() const
    {
        QStringList crumbs, rows;
        for (QPushButton* button : picker->breadcrumbButtons())
            crumbs << button->text();
        for (int i = 0; i < picker->folderList()->count(); ++i)
            rows << picker->folderList()->item(i)->text();
        return crumbs.join(u'/') + ": " + rows.join(", ");
    }
    std::string lastListed() { return service.network()->seen("GET", "/api/ls").back().param("path"); }
    size_t made() { return service.network()->seen("POST", "/api/mkdir").size(); }

    std::unique_ptr<DestinationPicker> picker;
};

// By keyboard alone a folder is always marked and drawn so, and Backspace marks the folder just left.
// The company's top level may be chosen.
TEST_F(PickerTest, FoldersCrumbsAndKeysLeadEverywhereARefusalKeepsWhatWasShownAndNewFoldersOpen)
{
    open("Prohibido/");
    EXPECT_EQ(picker->error().value_or(""), "Servidor: 403 sin permiso");
    EXPECT_TRUE(picker->folders().empty());
    crumb(0);
    EXPECT_FALSE(picker->error().has_value() || picker->errorLabel()->isVisibleTo(picker.get()));
    row(0);
    EXPECT_EQ(shown(), "Raíz/Rodaje: Día 3 · Exteriores, Dia04");
    row(0);
    EXPECT_EQ(picker->current(), "Rodaje/Dia03/");
    EXPECT_EQ(shown(), "Raíz/Rodaje/Dia03: ");
    EXPECT_EQ(picker->emptyLabel()->text(), "Sin subcarpetas");
    EXPECT_TRUE(picker->emptyLabel()->isVisibleTo(picker.get()));
    crumb(1);
    EXPECT_EQ(lastListed(), "Rodaje/");
    picker->load("Prohibido/");
    idle();
    EXPECT_TRUE(picker->error().has_value());
    EXPECT_EQ(picker->current() + " " + shown(), "Rodaje/ Raíz/Rodaje: Día 3 · Exteriores, Dia04");
    crumb(0);
    EXPECT_EQ(lastListed() + " " + shown().toStdString(), " Raíz: Rodaje");

    QApplication::setActiveWindow(picker.get());
    QListWidget* list = picker->folderList();
    ASSERT_TRUE(list->hasFocus());
    EXPECT_EQ(list->currentRow(), 0);
    key(Qt::Key_Return, "\r");
    EXPECT_EQ(shown(), "Raíz/Rodaje: Día 3 · Exteriores, Dia04");
    key(Qt::Key_Down);
    key(Qt::Key_Return, "\r");
    EXPECT_EQ(picker->current(), "Rodaje/Dia04/");
    key(Qt::Key_Backspace);
    EXPECT_EQ(picker->current(), "Rodaje/");
    ASSERT_EQ(list->currentRow(), 1);
    const auto leftEdge = [&](int at) {
        const QRect rect = list->visualItemRect(list->item(at));
        return list->viewport()->grab(rect).toImage().pixelColor(0, rect.height() / 2);
    };
    EXPECT_EQ(leftEdge(1), accentColor());
    EXPECT_NE(leftEdge(0), accentColor());
    key(Qt::Key_Backspace);
    key(Qt::Key_Backspace);   // nothing above the top
    EXPECT_EQ(lastListed() + "|" + picker->current().toStdString(), "|");
    QString chosen = "unset";
    QObject::connect(picker.get(), &DestinationPicker::chosen, [&](const QString& path) { chosen = path; });
    picker->useButton()->click();
    EXPECT_EQ(chosen, "");

    picker->load("Rodaje/");
    idle();
    answer("POST", "/api/mkdir", okReply());
    create(" \t ");   // blanks only: nothing is made
    settle();
    EXPECT_EQ(made(), 0u);
    create("\t\u00A0 Dia05\u2003 ");
    ASSERT_TRUE(runUntil([&] { return picker->current() == "Rodaje/Dia05/"; }));
    EXPECT_EQ(nlohmann::json::parse(service.network()->seen("POST", "/api/mkdir").back().body()),
              (nlohmann::json{{"path", "Rodaje/"}, {"name", "Dia05"}}));
    EXPECT_EQ(picker->newNameField()->text(), "");
    EXPECT_EQ(trimFolderName("\nA\n \u2028 "), "\nA\n \u2028");   // line breaks are not blanks to trim

    answer("POST", "/api/mkdir", errorReply(409, "ya existe"));
    create(" Dia03 ");
    ASSERT_TRUE(runUntil([&] { return picker->error().has_value(); }));
    EXPECT_EQ(picker->errorLabel()->text(), "Servidor: 409 ya existe");
    EXPECT_EQ(textColor(picker->errorLabel()), redColor());
    EXPECT_EQ(picker->newNameField()->text(), " Dia03 ");

    open("", true);   // an administrator can neither use nor create a folder above the companies
    picker->newNameField()->setText("Nueva");
    EXPECT_FALSE(picker->useButton()->isEnabled() || picker->createButton()->isEnabled());
    emit picker->newNameField()->returnPressed();   // Return does not get around it
    settle();
    EXPECT_EQ(made(), 2u);
    picker->load("Rodaje/");
    idle();
    EXPECT_TRUE(picker->useButton()->isEnabled() && picker->createButton()->isEnabled());
}

TEST_F(PickerTest, FromTheMainWindowTheServicesSpellingIsStoredAndCancellingChangesNothing)
{
    start();
    service.network()->route("GET", "/api/ls", listing);
    for (const bool use : {false, true}) {
        view().changeDestinationButton()->setFocus();
        press(view().changeDestinationButton(), Qt::Key_Return, "\r");   // the keyboard opens it as a click does
        DestinationPicker* sheet = view().picker();
        ASSERT_TRUE(sheet && sheet->windowModality() != Qt::NonModal);
        ASSERT_TRUE(runUntil([&] { return !sheet->loading() && sheet->folders().size() == 2; }));
        sheet->load("Rodaje/dia03/");
        ASSERT_TRUE(runUntil([&] { return !sheet->loading() && sheet->current() == "Rodaje/Dia03/"; }));
        (use ? sheet->useButton() : sheet->cancelButton())->click();
        ASSERT_TRUE(runUntil([&] { return view().picker() == nullptr; }));
        EXPECT_EQ(up().destDir(), use ? "Rodaje/Dia03/" : "Rodaje/");
    }
    EXPECT_EQ(settings::value("destDir").value_or("") + "|" + view().destinationLabel()->text(), "Rodaje/Dia03/|Rodaje/Dia03");
}

// The sidebar lists the mounted cards by their whole names; a folder is listed in the order and
// units of the queue it goes to.
TEST(FileChooser, ShowsMountedCardsWholeAndAFolderAsTheQueueTakesIt)
{
    const QString media = sandboxDir() + "/media";
    for (const char* card : {"TARJETA_B", "TARJETA_A"})
        QDir().mkpath(media + "/ana/" + card);
    EXPECT_EQ(chooserSidebar({media + "/ana", media + "/nadie"}),
              (QList<QUrl>{QUrl::fromLocalFile(QDir::homePath()), QUrl::fromLocalFile(media + "/ana/TARJETA_A"),
                           QUrl::fromLocalFile(media + "/ana/TARJETA_B")}));

    const QString dir = sandboxDir() + "/tarjeta";
    for (const auto& [name, size] : {std::pair("C10.MXF", 1'500'000), {"c3.wav", 999}, {"C2.MXF", 12'000},
                                     {"CLIPS/C1.MXF", 0}})
        writeFile(dir + "/" + name, QByteArray(size, 'z'));
    FileChooser chooser;
    const QString longCard = media + "/ana/A001_20261205_CAMARA_B_DRON";
    QDir().mkpath(longCard);
    chooser.setSidebarUrls({QUrl::fromLocalFile(QDir::homePath()), QUrl::fromLocalFile(longCard)});
    chooser.setDirectory(dir);
    chooser.show();
    auto* list = chooser.findChild<QListView*>("listView");
    ASSERT_TRUE(runUntil([&] { return list->model()->rowCount(list->rootIndex()) == 4; }));
    QStringList shown;
    for (int row = 0; row < 4; ++row)
        shown << list->model()->index(row, 0, list->rootIndex()).data().toString() + " "
                     + list->model()->index(row, 1, list->rootIndex()).data().toString();
    EXPECT_EQ(shown.join(" | ").toStdString(), (QStringList{"C2.MXF " + formatByteCount(12'000), "c3.wav " + formatByteCount(999),
                                                        "C10.MXF " + formatByteCount(1'500'000), "CLIPS "}).join(" | ").toStdString());
    auto* sidebar = chooser.findChild<QListView*>("sidebar");
    EXPECT_GE(sidebar->viewport()->width(), sidebar->sizeHintForColumn(0));
}

const QString kReport = "Zafrel — informe de subida\nDestino: Rodaje/Dia03/\n\nEstado\tTamaño\tDestino\tMD5\tOrigen\n"
                        "OK verificado\t2000000\tRodaje/Dia03/C0001.MXF\t0123456789abcdef0123456789abcdef\t/media/A/C0001.MXF\n"
                        "cancelado\t1048576\tRodaje/Dia03/C0002.MXF\t-\t/media/A/C0002.MXF\n"
                        "ERROR Servidor: 403 prohibido\t10\tRodaje/Dia03/C0003.MXF";

TEST(ReportView, ReadableOnScreenWhileCopyAndSaveKeepTheTextExactly)
{
    ReportView view(kReport);
    view.show();
    settle();
    QPlainTextEdit* area = view.textArea();
    // Sizes for people on screen, an error's words, a file's source and MD5 below it; the text
    // itself stays exact.
    EXPECT_EQ(area->toPlainText(), "Zafrel — informe de subida\nDestino: Rodaje/Dia03/\n\nEstado\tTamaño\tDestino\n"
                                   "OK verificado\t2 MB\tRodaje/Dia03/C0001.MXF\n    desde /media/A/C0001.MXF\n"
                                   "    MD5 0123456789abcdef0123456789abcdef\n"
                                   "cancelado\t1 MB\tRodaje/Dia03/C0002.MXF\n    desde /media/A/C0002.MXF\n"
                                   "ERROR\t10 bytes\tRodaje/Dia03/C0003.MXF\n    Servidor: 403 prohibido");
    view.findChild<QPushButton*>("copyReport")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->formats(), QStringList{"text/plain"});
    EXPECT_EQ(QGuiApplication::clipboard()->text(), kReport);
    ASSERT_TRUE(view.saveTo(sandboxDir() + "/guardado.txt"));
    EXPECT_EQ(QString::fromUtf8(fileBytes(sandboxDir() + "/guardado.txt")), kReport);
    EXPECT_FALSE(view.saveTo(sandboxDir() + "/no/such/folder/x.txt"));
}

}  // namespace
}  // namespace zafrel::test
