// Queue rows: what each state shows, the row buttons and their tooltips, and the list model that
// keeps a long queue cheap to show and to repaint.
#include "ui/queue_model.h"
#include "ui/queue_view.h"
#include "ui/upload_row.h"
#include "ui/upload_row_delegate.h"

#include "client/zafrel_api.h"
#include "engine/upload_manager.h"
#include "platform/format.h"
#include "support/test_env.h"
#include "support/ui_scripted_service.h"
#include "support/ui_test_helpers.h"
#include "ui/style.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolTip>

#include <gtest/gtest.h>

namespace zafrel::ui {
namespace {

using test::makeItem;
using test::UiScriptedService;

TEST(UploadRowText, EveryStateHasItsSymbolColourTextAndCross)
{
    struct Case { Status status; const char* symbol; QColor colour; QString subtitle; const char* cross; };
    const qint64 size = 1500000;
    const QString sized = formatByteCount(size);
    const Case cases[] = {
        {Status::Queued, "clock", secondaryColor(), "En cola · " + sized, "Cancelar"},
        {Status::Running, "arrow.up.circle", accentColor(), formatByteCount(600000) + " de " + sized, "Cancelar"},
        {Status::Done, "checkmark.circle.fill", greenColor(), "Subido y verificado · " + sized, "Quitar"},
        {Status::Skipped, "equal.circle", secondaryColor(), "Ya estaba en el destino · " + sized, "Quitar"},
        {Status::Error, "exclamationmark.circle.fill", redColor(), "Error", "Quitar"},
        {Status::Cancelled, "slash.circle", secondaryColor(), "Cancelado", "Quitar"},
        {Status::Paused, "pause.circle", secondaryColor(), "Pendiente de continuar · " + sized, "Quitar"},
    };
    for (const Case& c : cases) {
        auto item = makeItem("C.MXF", size, c.status);
        item->setLoaded(600000);
        EXPECT_EQ(rowSymbol(c.status), c.symbol);
        EXPECT_EQ(rowSymbolColor(c.status), c.colour) << c.symbol;
        EXPECT_EQ(rowSubtitle(*item), c.subtitle) << c.symbol;
        EXPECT_EQ(rowSubtitleColor(*item), c.status == Status::Error ? redColor() : secondaryColor());
        EXPECT_EQ(crossTooltip(*item), c.cross) << c.symbol;
        // The text does not depend on verification ("Subido y verificado" either way).
        item->setVerified(!item->verified());
        EXPECT_EQ(rowSubtitle(*item), c.subtitle) << c.symbol;
    }

    // An error shows its message instead.
    auto failed = makeItem("C.MXF", 10, Status::Error);
    failed->setError(QString("La verificación MD5 no coincide"));
    EXPECT_EQ(rowSubtitle(*failed), "La verificación MD5 no coincide");
}

TEST(UploadRowText, AFullBarIsVerifyingAndAWaitSaysWhichAttemptComesWhen)
{
    using namespace std::chrono;
    const auto now = steady_clock::now();
    auto item = makeItem("C.MXF", 5000000, Status::Running);
    item->setLoaded(5000000);
    EXPECT_EQ(rowSubtitle(*item, now), "Verificando…");
    item->setRetryWait(RetryWait{2, 5, now + milliseconds(5200)});
    EXPECT_EQ(rowSubtitle(*item, now), "Reintentando (intento 2 de 5) en 6 s");
    EXPECT_EQ(rowSubtitleColor(*item), orangeColor());
    EXPECT_EQ(rowSubtitle(*item, now + seconds(6)), "Reintentando (intento 2 de 5)…");
    item->setRetryWait(std::nullopt);
    item->setLoaded(10);
    EXPECT_EQ(rowSubtitle(*item, now), formatByteCount(10) + " de " + formatByteCount(5000000));
}

TEST(UploadRowText, FolderBelowTheDestinationTellsTwoCardsApart)
{
    const std::tuple<QString, QString, QString> cases[] = {
        {"Rodaje/Dia03/CARD1/CLIPS/", "Rodaje/Dia03/", "CARD1/CLIPS"},
        {"Rodaje/Dia03/", "Rodaje/Dia03/", ""},
        {"Otra/CLIPS/", "Rodaje/Dia03/", "Otra/CLIPS"},   // the destination changed since
        {"CLIPS/", "", "CLIPS"},
    };
    for (const auto& [itemDest, destDir, folder] : cases)
        EXPECT_EQ(rowFolder(*makeItem("C0001.MXF", 1, Status::Queued, itemDest), destDir), folder) << itemDest.toStdString();
}

TEST(UploadRowText, ProgressOfAnEmptyFileIsOutOfOne)
{
    auto empty = makeItem("vacio.txt", 0, Status::Running);
    EXPECT_EQ(rowProgressTotal(*empty), 1.0);
    EXPECT_EQ(rowProgressFraction(*empty), 0.0);
    auto half = makeItem("C.MXF", 1000, Status::Running);
    half->setLoaded(500);
    EXPECT_EQ(rowProgressTotal(*half), 1000.0);
    EXPECT_DOUBLE_EQ(rowProgressFraction(*half), 0.5);
    half->setLoaded(5000);   // never drawn past the end
    EXPECT_DOUBLE_EQ(rowProgressFraction(*half), 1.0);
}

class QueueListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        view.setModel(model.get());
        view.setItemDelegate(delegate.get());
        view.setUniformItemSizes(true);
        view.setSelectionMode(QAbstractItemView::NoSelection);
        view.resize(600, 400);
        view.show();
    }

    void TearDown() override
    {
        service.release("POST", "/api/upload/done");
        test::runUntil([&] { return !up->isRunning(); });
        view.setModel(nullptr);
    }

    void key(int row, Qt::Key key)
    {
        view.setCurrentIndex(model->index(row));
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&view, &press);
    }

    UploadRowDelegate::Layout layoutOf(int row)
    {
        return delegate->layout(view.visualRect(model->index(row)), *model->itemAt(row));
    }

    // A press at `pos` and its release there, or where the pointer slid to.
    void click(const QPoint& pos, std::optional<QPoint> releasedAt = std::nullopt)
    {
        const QPointF on(pos), off(releasedAt.value_or(pos));
        QMouseEvent press(QEvent::MouseButtonPress, on, view.viewport()->mapToGlobal(on), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, off, view.viewport()->mapToGlobal(off), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &release);
    }

    QString tooltipAt(const QPoint& pos)
    {
        QHelpEvent help(QEvent::ToolTip, pos, view.viewport()->mapToGlobal(pos));
        QApplication::sendEvent(view.viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    }

    UiScriptedService service;
    ZafrelAPI api{std::make_unique<HttpSession>(HttpSession::Config{})};
    // A first run's clean slate before the engine restores anything.
    const bool fresh = [this] {
        test::resetDesktopState();
        service.useAsServer();
        service.on("POST", "/api/upload/done", {200, "{}"});
        return true;
    }();
    std::unique_ptr<UploadManager> up = std::make_unique<UploadManager>(api);
    std::unique_ptr<QueueModel> model = std::make_unique<QueueModel>(*up);
    std::unique_ptr<UploadRowDelegate> delegate = std::make_unique<UploadRowDelegate>(*model, *up);
    QueueView view{*model, *up};
};

TEST_F(QueueListTest, RetryOnlyOnErrorAndTheBarOnlyWhileRunning)
{
    up->setItems({makeItem("Q", 10, Status::Queued), makeItem("R", 10, Status::Running), makeItem("E", 10, Status::Error),
                  makeItem("P", 10, Status::Paused)});
    for (int row = 0; row < 4; ++row) {
        const auto parts = layoutOf(row);
        const Status status = model->itemAt(row)->status();
        EXPECT_EQ(parts.retry.isEmpty(), status != Status::Error) << row;
        EXPECT_EQ(parts.progress.isEmpty(), status != Status::Running) << row;
        EXPECT_FALSE(parts.cross.isEmpty());
        EXPECT_TRUE(view.visualRect(model->index(row)).contains(parts.cross));
        if (!parts.retry.isEmpty())
            EXPECT_LT(parts.retry.right(), parts.cross.left());
    }
    // Painting every kind of row works (and is what the view does anyway).
    EXPECT_FALSE(view.viewport()->grab().isNull());
}

TEST_F(QueueListTest, CrossTooltipFollowsTheState)
{
    up->setItems({makeItem("Q", 10, Status::Queued), makeItem("D", 10, Status::Done)});
    EXPECT_EQ(tooltipAt(layoutOf(0).cross.center()), "Cancelar");
    EXPECT_EQ(tooltipAt(layoutOf(1).cross.center()), "Quitar");
    QToolTip::hideText();
}

TEST_F(QueueListTest, CrossCancelsAnActiveItemAndRemovesAFinishedOne)
{
    auto queued = makeItem("Q", 10, Status::Queued);
    auto done = makeItem("D", 10, Status::Done);
    up->setItems({queued, done});
    click(layoutOf(1).cross.center());
    ASSERT_TRUE(test::runUntil([&] { return up->items().size() == 1; }));
    EXPECT_EQ(up->items().front(), queued);
    EXPECT_EQ(model->rowCount(), 1);

    click(layoutOf(0).cross.center());
    ASSERT_TRUE(test::runUntil([&] { return queued->status() == Status::Cancelled; }));
    EXPECT_EQ(up->items().size(), 1u);
}

TEST_F(QueueListTest, PressThatSlidesOffTheButtonDoesNothing)
{
    auto done = makeItem("D", 10, Status::Done);
    up->setItems({done});
    click(layoutOf(0).cross.center(), layoutOf(0).name.center());
    test::settle();
    EXPECT_EQ(up->items().size(), 1u);
}

TEST_F(QueueListTest, RetryQueuesTheItemAgain)
{
    service.hold("POST", "/api/upload/done");
    auto failed = makeItem("E", 10, Status::Error);
    failed->setError(QString("HTTP 500 "));
    up->setItems({makeItem("D", 10, Status::Done), failed});
    click(layoutOf(1).retry.center());
    // Retrying starts a run; the item left its error behind.
    ASSERT_TRUE(test::runUntil([&] { return up->isRunning(); }));
    EXPECT_NE(failed->error(), std::optional<QString>("HTTP 500 "));
}

TEST_F(QueueListTest, KeyboardReachesTheRowActions)
{
    service.hold("POST", "/api/upload/done");
    auto failed = makeItem("E", 10, Status::Error), done = makeItem("D", 10, Status::Done);
    up->setItems({done, failed});
    // Return on a row that cannot be retried does nothing; on the failed one it retries.
    key(0, Qt::Key_Return);
    test::settle();
    EXPECT_FALSE(up->isRunning());
    key(1, Qt::Key_Return);
    ASSERT_TRUE(test::runUntil([&] { return up->isRunning(); }));
    EXPECT_NE(failed->status(), Status::Error);
    // Delete removes a finished row.
    key(0, Qt::Key_Delete);
    ASSERT_TRUE(test::runUntil([&] { return up->items().size() == 1 && up->items()[0] == failed; }));
}

TEST_F(QueueListTest, FailedRowsFirstWhenAsked)
{
    auto a = makeItem("A", 1, Status::Done), b = makeItem("B", 1, Status::Error), c = makeItem("C", 1, Status::Queued),
         d = makeItem("D", 1, Status::Error);
    up->setItems({a, b, c, d});
    model->setFailedFirst(true);
    const auto order = [&] {
        std::vector<ItemPtr> rows;
        for (int row = 0; row < model->rowCount(); ++row)
            rows.push_back(model->itemAt(row));
        return rows;
    };
    EXPECT_EQ(order(), (std::vector<ItemPtr>{b, d, a, c}));
    // A row that fails later joins them; a retried one goes back to its place.
    c->setStatus(Status::Error);
    b->setStatus(Status::Queued);
    model->flushChanges();
    EXPECT_EQ(order(), (std::vector<ItemPtr>{c, d, a, b}));
    model->setFailedFirst(false);
    EXPECT_EQ(order(), (std::vector<ItemPtr>{a, b, c, d}));
}

TEST_F(QueueListTest, AppendsAndRemovalsAreNotResets)
{
    int resets = 0, inserted = 0, removed = 0;
    QObject::connect(model.get(), &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(model.get(), &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex&, int first, int last) { inserted += last - first + 1; });
    QObject::connect(model.get(), &QAbstractItemModel::rowsRemoved,
                     [&](const QModelIndex&, int first, int last) { removed += last - first + 1; });

    auto a = makeItem("A", 1, Status::Done), b = makeItem("B", 1, Status::Queued), c = makeItem("C", 1, Status::Done);
    up->setItems({a});
    up->setItems({a, b, c});
    EXPECT_EQ(inserted, 3);
    EXPECT_EQ(resets, 0);
    up->clearFinished();   // a and c go: two separate gaps
    EXPECT_EQ(removed, 2);
    EXPECT_EQ(resets, 0);
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(model->itemAt(0), b);
    EXPECT_EQ(model->rowOf(b->id), 0);
    EXPECT_EQ(model->rowOf(a->id), -1);

    // A new order is a reset, and the model follows it.
    auto d = makeItem("D", 1);
    up->setItems({d, b});
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(model->itemAt(0), d);
    EXPECT_EQ(model->rowOf(b->id), 1);
}

TEST_F(QueueListTest, ProgressBurstRepaintsOnlyItsRowOnce)
{
    auto a = makeItem("A", 1000000, Status::Running), b = makeItem("B", 1000000, Status::Running),
         c = makeItem("C", 1000000, Status::Running);
    up->setItems({a, b, c});
    std::vector<std::pair<int, int>> changes;
    QObject::connect(model.get(), &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex& to) { changes.emplace_back(from.row(), to.row()); });
    int touched = 0;
    QObject::connect(model.get(), &QueueModel::itemsTouched, [&] { ++touched; });

    // Eight parts in flight report progress many times between two repaints.
    for (int i = 1; i <= 800; ++i)
        b->setLoaded(i * 1000);
    EXPECT_TRUE(changes.empty());
    ASSERT_TRUE(test::runUntil([&] { return touched == 1; }));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], std::make_pair(1, 1));

    // Rows far apart go out separately, neighbours together.
    changes.clear();
    a->setLoaded(1);
    c->setLoaded(1);
    model->flushChanges();
    EXPECT_EQ(changes, (std::vector<std::pair<int, int>>{{0, 0}, {2, 2}}));
    changes.clear();
    a->setLoaded(2);
    b->setLoaded(2);
    model->flushChanges();
    EXPECT_EQ(changes, (std::vector<std::pair<int, int>>{{0, 1}}));

    // A removed item is no longer watched.
    up->setItems({a, c});
    changes.clear();
    b->setLoaded(3);
    model->flushChanges();
    EXPECT_TRUE(changes.empty());
}

TEST_F(QueueListTest, AHundredThousandRows)
{
    std::vector<ItemPtr> items;
    items.reserve(100000);
    for (int i = 0; i < 100000; ++i)
        items.push_back(makeItem(QString("C%1.MXF").arg(i), 1000, Status::Queued));
    up->setItems(items);
    ASSERT_EQ(model->rowCount(), 100000);
    // The view lays rows out on its next turn; then the last row can be reached.
    ASSERT_TRUE(test::runUntil([&] {
        view.scrollToBottom();
        return view.viewport()->rect().contains(view.visualRect(model->index(99999)));
    }, std::chrono::seconds(10)));
    EXPECT_EQ(view.indexAt(view.visualRect(model->index(99999)).center()).row(), 99999);
    EXPECT_FALSE(view.viewport()->grab().isNull());

    std::vector<int> rows;
    QObject::connect(model.get(), &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex& to) {
                         for (int r = from.row(); r <= to.row(); ++r)
                             rows.push_back(r);
                     });
    items[99998]->setStatus(Status::Running);
    items[99998]->setLoaded(500);
    model->flushChanges();
    EXPECT_EQ(rows, std::vector<int>{99998});
}

}  // namespace
}  // namespace zafrel::ui
