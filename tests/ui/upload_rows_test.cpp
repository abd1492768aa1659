// Queue rows: what each state shows, the row's buttons by mouse and keyboard, and the list model
// that keeps a long queue cheap to show and to repaint while a run goes on.
#include "platform/format.h"
#include "support/desktop_fixture.h"
#include "support/manager_test_access.h"

namespace zafrel::test {
namespace {

using namespace zafrel::ui;

TEST(UploadRowText, EveryStateHasItsSymbolColourTextAndCross)
{
    using namespace std::chrono;
    const QString sized = formatByteCount(1500000);
    const std::tuple<Status, const char*, QColor, QString, const char*> cases[] = {
        {Status::Queued, "clock", secondaryColor(), "En cola · " + sized, "Cancelar"},
        {Status::Running, "arrow.up.circle", accentColor(), formatByteCount(600000) + " de " + sized, "Cancelar"},
        {Status::Done, "checkmark.circle.fill", greenColor(), "Subido y verificado · " + sized, "Quitar"},
        {Status::Skipped, "equal.circle", secondaryColor(), "Ya estaba en el destino · " + sized, "Quitar"},
        {Status::Error, "exclamationmark.circle.fill", redColor(), "Error", "Quitar"},
        {Status::Cancelled, "slash.circle", secondaryColor(), "Cancelado", "Quitar"},
        {Status::Paused, "pause.circle", secondaryColor(), "Pendiente de continuar · " + sized, "Quitar"},
    };
    for (const auto& [status, symbol, colour, subtitle, cross] : cases) {
        auto item = makeItem("C.MXF", 1500000, status);
        item->setLoaded(600000);
        EXPECT_EQ(std::tuple(rowSymbol(status), rowSymbolColor(status), rowSubtitle(*item), rowSubtitleColor(*item), crossTooltip(*item)),
                  std::tuple(QString(symbol), colour, subtitle, status == Status::Error ? redColor() : secondaryColor(), QString(cross)))
            << symbol;
    }
    auto item = makeItem("C.MXF", 5000000, Status::Error);
    item->setError(QString("La verificación MD5 no coincide"));   // an error shows its message
    EXPECT_EQ(rowSubtitle(*item), "La verificación MD5 no coincide");
    item->setStatus(Status::Paused);   // a file out of reach says so while it waits
    item->setError(QString("No disponible (¿tarjeta sin montar?)"));
    EXPECT_EQ(rowSubtitle(*item), "No disponible (¿tarjeta sin montar?) · " + formatByteCount(5000000));
    item->setStatus(Status::Running);
    item->setLoaded(5000000);
    const auto now = steady_clock::now();
    EXPECT_EQ(rowSubtitle(*item, now), "Verificando…");
    item->setRetryWait(RetryWait{2, 5, now + milliseconds(5200)});
    EXPECT_EQ(rowSubtitle(*item, now), "Reintentando (intento 2 de 5) en 6 s");
    EXPECT_EQ(rowSubtitleColor(*item), orangeColor());
    EXPECT_EQ(rowSubtitle(*item, now + seconds(6)), "Reintentando (intento 2 de 5)…");
    EXPECT_EQ(rowProgressFraction(*makeItem("vacio", 0, Status::Running)), 0.0);

    // A file in parts counts its stored parts (the short last one by its own length) and what is in
    // flight; a failed attempt's bytes leave until sent again, which the row says, and late counts
    // of an ended attempt change nothing. Bytes that stop going out are said after 40 s.
    constexpr qint64 part = 32 * 1024 * 1024;
    const auto clip = makeItem("CLIP.MXF", 2 * part + part / 2, Status::Running);
    clip->beginUpload("CLIP.MXF", "u", part);   // paused, and resumed behind busy slots, it says what is stored
    const uint64_t first = clip->beginAttempt(1, 1, 5), last = clip->beginAttempt(3, 1, 5);
    clip->attemptSent(1, first, 10000000);
    clip->attemptSent(3, last, part / 2);
    clip->recordPart(3, "\"e3\"");
    clip->attemptSent(3, last, part / 2);
    const uint64_t second = clip->beginAttempt(2, 1, 5);
    clip->attemptSent(2, second, 20000000);
    EXPECT_EQ(clip->loaded(), part / 2 + 30000000);
    clip->dropAttempt(2, second);
    EXPECT_EQ(clip->loaded(), part / 2 + 10000000);   // while the part waits for its next attempt
    const uint64_t again = clip->beginAttempt(2, 2, 5);
    clip->attemptSent(2, second, 25000000);
    clip->attemptSent(2, again, 1000000);
    const qint64 sent = part / 2 + 11000000;
    const auto at = steady_clock::now();
    EXPECT_EQ(rowSubtitle(*clip, at), formatByteCount(sent) + " de " + formatByteCount(clip->size)
                                          + " · reenviando la parte 2 (intento 2 de 5)");
    EXPECT_EQ(rowSubtitle(*clip, at + seconds(41)), "Sin respuesta del almacén desde hace 41 s");
    EXPECT_EQ(std::pair(rowSubtitleColor(*clip, at), rowSubtitleColor(*clip, at + seconds(41))),
              std::pair(secondaryColor(), orangeColor()));
    const QString stored = " · " + formatByteCount(part / 2) + " ya en el destino";
    clip->setStatus(Status::Paused);
    EXPECT_EQ(rowSubtitle(*clip), "Pendiente de continuar · " + formatByteCount(clip->size) + stored);
    clip->setStatus(Status::Queued);
    EXPECT_EQ(rowSubtitle(*clip), "En cola · " + formatByteCount(clip->size) + stored);
    clip->setStatus(Status::Running);
    clip->setRetryWait(RetryWait{3, 5, at + milliseconds(2500), 2});
    EXPECT_EQ(rowSubtitle(*clip, at), "Reintentando la parte 2 (intento 3 de 5) en 3 s · " + formatByteCount(sent) + " de "
                                          + formatByteCount(clip->size));

    // The folder below the destination tells two cards apart.
    const std::tuple<QString, QString, QString> folders[] = {{"Rodaje/D3/CARD1/CLIPS/", "Rodaje/D3/", "CARD1/CLIPS"},
                                                             {"Rodaje/D3/", "Rodaje/D3/", ""},
                                                             {"Otra/CLIPS/", "Rodaje/D3/", "Otra/CLIPS"}};
    for (const auto& [itemDest, destDir, folder] : folders)
        EXPECT_EQ(rowFolder(*makeItem("C.MXF", 1, Status::Queued, itemDest), destDir), folder);
}

class QueueRowsTest : public DesktopTest {
protected:
    void show(std::vector<ItemPtr> items)
    {
        ManagerTestAccess::setItems(up(), std::move(items));
        ASSERT_TRUE(runUntil([&] { return list().isVisibleTo(&view()) && list().visualRect(model().index(0)).height() > 0; }));
    }
    QueueView& list() { return *view().queueList(); }
    QueueModel& model() { return *view().queueModel(); }
    UploadRowDelegate::Layout layoutOf(int row)
    {
        return view().rowDelegate()->layout(list().visualRect(model().index(row)), *model().itemAt(row));
    }
    // A press at `pos` and its release there, or where the pointer slid to.
    void click(QPoint pos, std::optional<QPoint> releasedAt = std::nullopt)
    {
        const QPointF on(pos), off(releasedAt.value_or(pos));
        QMouseEvent press(QEvent::MouseButtonPress, on, list().viewport()->mapToGlobal(on), Qt::LeftButton, Qt::LeftButton, {});
        QApplication::sendEvent(list().viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, off, list().viewport()->mapToGlobal(off), Qt::LeftButton, Qt::NoButton, {});
        QApplication::sendEvent(list().viewport(), &release);
    }
    void key(int row, Qt::Key pressed) { list().setCurrentIndex(model().index(row)); press(&list(), pressed); }
};

// "Pausar" on a running row stops it alone, "Reanudar" sends it on; "Pausar todo" stops the run
// and "Continuar pendientes" takes it up again. Return does what the row's button says. A file kept
// out by another of its name at the destination is replaced only once that is confirmed.
TEST_F(QueueRowsTest, TheRowButtonsPauseResumeCancelRemoveRetryAndReplaceByMouseAndKeyboard)
{
    start();
    holdPuts();
    ASSERT_TRUE(drop({QUrl::fromLocalFile(makeFile("p/A.MXF")), QUrl::fromLocalFile(makeFile("p/B.MXF"))}));
    ASSERT_TRUE(runUntil([&] { return service.puts().size() == 2; }));
    const ItemPtr first = model().itemAt(0), second = model().itemAt(1);
    EXPECT_EQ(rowActionText(rowAction(*first, true)), "Pausar");
    click(layoutOf(0).action.center());
    ASSERT_TRUE(runUntil([&] { return first->status() == Status::Paused; }));
    EXPECT_EQ(second->status(), Status::Running);
    EXPECT_EQ(rowActionText(rowAction(*first, up().isRunning())), "Reanudar");
    key(0, Qt::Key_Return);   // back in the run, for the next free slot
    ASSERT_TRUE(runUntil([&] { return first->status() == Status::Queued; }));
    ASSERT_TRUE(runUntil([&] { return visible(footer().pauseAllButton()); }));
    footer().pauseAllButton()->click();
    ASSERT_TRUE(runUntil([&] { return !up().isRunning(); }));
    EXPECT_EQ(std::pair(first->status(), second->status()), std::pair(Status::Paused, Status::Paused));
    ASSERT_TRUE(runUntil([&] { return visible(view().pendingBanner()); }));
    EXPECT_FALSE(visible(footer().pauseAllButton()));
    view().resumeButton()->click();
    ASSERT_TRUE(runUntil([&] { return up().isRunning() && service.puts().size() == 4; }));

    up().pauseAll();
    ASSERT_TRUE(runUntil([&] { return !up().isRunning(); }));
    makeFile("files/E");   // a retried file is read, and its upload held
    auto queued = makeItem("Q", 10), done = makeItem("D", 10, Status::Done), failed = makeItem("E", 10, Status::Error),
         running = makeItem("R", 10, Status::Running);
    show({queued, done, failed, running});
    ManagerTestAccess::setItems(up(), {queued, done, failed});
    click(layoutOf(1).cross.center(), layoutOf(1).name.center());   // a press that slides off does nothing
    settle();
    EXPECT_EQ(up().items().size(), 3u);
    click(layoutOf(1).cross.center());
    ASSERT_TRUE(runUntil([&] { return up().items().size() == 2 && model().rowCount() == 2; }));
    click(layoutOf(0).cross.center());
    ASSERT_TRUE(runUntil([&] { return queued->status() == Status::Cancelled; }));
    key(0, Qt::Key_Return);   // not a failed row: nothing
    settle();
    EXPECT_FALSE(up().isRunning());
    key(1, Qt::Key_Return);
    ASSERT_TRUE(runUntil([&] { return up().isRunning() && failed->status() != Status::Error; }));
    key(0, Qt::Key_Delete);   // a cancelled file leaves the list only once that is confirmed
    EXPECT_EQ(answerQuestion("confirmAccept"), "¿Quitar «Q» de la lista?");
    ASSERT_TRUE(runUntil([&] { return up().items() == std::vector<ItemPtr>{failed}; }));

    up().pauseAll();
    ASSERT_TRUE(runUntil([&] { return !up().isRunning(); }));
    failed->setStatus(Status::Error);
    makeFile("files/C0001.MXF");
    auto refused = makeItem("C0001.MXF", 10, Status::Error);
    refused->setError(QString("Ya hay otro archivo con ese nombre en el destino"));
    show({failed, refused});
    click(layoutOf(0).action.center());
    ASSERT_TRUE(runUntil([&] { return up().isRunning() && failed->status() != Status::Error; }));
    EXPECT_EQ(rowActionText(rowAction(*refused, true)), "Reemplazar…");
    for (const char* answer : {"confirmKeep", "confirmAccept"}) {
        click(layoutOf(1).action.center());
        EXPECT_EQ(answerQuestion(answer), "¿Reemplazar «C0001.MXF» en el destino?");
        EXPECT_EQ(refused->status() == Status::Error, answer == std::string("confirmKeep"));
    }
    ASSERT_TRUE(runUntil([&] { return refused->status() != Status::Error; }));
    EXPECT_TRUE(refused->replaceAllowed);
}

TEST_F(QueueRowsTest, FailedRowsFirstNoResetForAppendsOrRemovalsAndOneRepaintForABurst)
{
    start();
    int resets = 0, inserted = 0, removed = 0;
    QObject::connect(&model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(&model(), &QAbstractItemModel::rowsInserted, [&](const QModelIndex&, int from, int to) { inserted += to - from + 1; });
    QObject::connect(&model(), &QAbstractItemModel::rowsRemoved, [&](const QModelIndex&, int from, int to) { removed += to - from + 1; });
    auto a = makeItem("A", 1, Status::Done), b = makeItem("B", 1, Status::Error), c = makeItem("C", 1),
         d = makeItem("D", 1, Status::Error);
    ManagerTestAccess::appendItems(up(), {a});
    ManagerTestAccess::appendItems(up(), {b, c, d});
    const auto order = [&] {
        std::vector<ItemPtr> rows;
        for (int row = 0; row < model().rowCount(); ++row)
            rows.push_back(model().itemAt(row));
        return rows;
    };
    model().setFailedFirst(true);
    EXPECT_EQ(order(), (std::vector<ItemPtr>{b, d, a, c}));
    c->setStatus(Status::Error);   // a row that fails later joins them; a retried one goes back to its place
    b->setStatus(Status::Queued);
    model().flushChanges();
    EXPECT_EQ(order(), (std::vector<ItemPtr>{c, d, a, b}));
    auto e = makeItem("E", 1, Status::Error);
    ManagerTestAccess::appendItems(up(), {e});   // a failed one handed over takes its place among them
    EXPECT_EQ(order(), (std::vector<ItemPtr>{c, d, e, a, b}));
    model().setFailedFirst(false);
    c->setStatus(Status::Done);
    d->setStatus(Status::Queued);
    resets = 0;
    up().clearFinished();   // a, c and e go: three separate gaps
    EXPECT_EQ(std::tuple(inserted, removed, resets), std::tuple(4, 3, 0));
    EXPECT_EQ(order(), (std::vector<ItemPtr>{b, d}));
    EXPECT_EQ(std::pair(model().rowOf(d->id), model().rowOf(a->id)), std::pair(1, -1));

    // A progress burst repaints only its row, once.
    std::vector<ItemPtr> items;
    for (int i = 0; i < 1000; ++i)
        items.push_back(makeItem(QString("C%1.MXF").arg(i), 1000000, i < 3 ? Status::Running : Status::Queued));
    show(items);
    std::vector<std::pair<int, int>> changes;
    QObject::connect(&model(), &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex& to) { changes.emplace_back(from.row(), to.row()); });
    int touched = 0;
    QObject::connect(&model(), &QueueModel::itemsTouched, [&] { ++touched; });
    for (int i = 1; i <= 800; ++i)   // eight parts in flight report many times between two repaints
        items[1]->setLoaded(i * 1000);
    EXPECT_TRUE(changes.empty());
    ASSERT_TRUE(runUntil([&] { return touched == 1; }));
    EXPECT_EQ(changes, (std::vector<std::pair<int, int>>{{1, 1}}));
}

}  // namespace
}  // namespace zafrel::test
