// The footer's bytes in a real run against the local stand-in, read every 100 ms beside what the store has
// received: a clip in parts (one refused once) and sound files, under a speed cap. Within an attempt the
// count never goes back, and it is never ahead of the store by more than one part in flight.
#include "support/desktop_fixture.h"
#include "support/devserver_process.h"

#include <QRegularExpression>

namespace zafrel::test {
namespace {

// The fewest bytes sent that the footer's state line can stand for ("… · 102.4 MB de 155.9 MB · …":
// 102.35 MB, since it rounds to a tenth of a MB), if it shows a run.
std::optional<qint64> shownBytes(const QString& line)
{
    static const QRegularExpression sent(QStringLiteral("· ([0-9][0-9.,]*) (bytes?|KB|MB|GB) de "));
    const QRegularExpressionMatch match = sent.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = QLocale().toDouble(match.captured(1), &ok);
    const QString unit = match.captured(2);
    const double scale = unit == "KB" ? 1e3 : unit == "MB" ? 1e6 : unit == "GB" ? 1e9 : 1;
    const double step = unit == "KB" ? 1e3 : unit == "MB" ? 1e5 : unit == "GB" ? 1e7 : 1;
    return ok ? std::optional<qint64>(qint64(value * scale - step / 2)) : std::nullopt;
}

// What the store has taken of the uploads' bodies so far, counting only attempts that have not
// failed, and how many attempts failed.
struct StoreSide {
    qint64 received = 0;
    int failed = 0;
};
StoreSide storeSide(const DevServerProcess& server)
{
    // With what the network holds on the way to the store: what this machine's TCP connections to
    // it have queued to send or received and not yet handed to the stand-in. A stand-in starved of
    // CPU leaves megabytes there; they have left the uploader all the same.
    StoreSide side;
    const int port = QUrl(server.storeURL()).port();
    // Lines of "sl local_address rem_address st tx_queue:rx_queue ...", addresses and queues in hex,
    // under a line of column titles.
    for (const QByteArray& line : fileBytes(QStringLiteral("/proc/net/tcp")).split('\n').mid(1)) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 5)
            continue;
        const QList<QByteArray> queues = fields[4].split(':');
        const auto portOf = [](const QByteArray& address) { return address.split(':').value(1).toInt(nullptr, 16); };
        if (portOf(fields[1]) == port)
            side.received += queues.value(1).toLongLong(nullptr, 16);   // received by the stand-in's socket
        else if (portOf(fields[2]) == port)
            side.received += queues.value(0).toLongLong(nullptr, 16);   // still to be sent by the uploader's
    }
    for (const auto& request : server.requests()) {
        if (request.value("server", "") != "store" || request.value("method", "") != "PUT")
            continue;
        const int status = request["status"].is_number() ? request["status"].get<int>() : -1;
        if (status == -1 || status / 100 == 2)
            side.received += request.value("bodyBytes", qint64(0));
        else
            ++side.failed;
    }
    return side;
}

TEST_F(DesktopTest, FooterBytesNeverGoBackWithinAnAttemptNorRunAheadOfTheStore)
{
    DevServerProcess server;
    ASSERT_TRUE(server.started()) << server.failure().toStdString();
    ASSERT_GT(QUrl(server.storeURL()).port(), 0);
    // Both routes of the route probe are this machine.
    qputenv("ZAFREL_S3_DIRECT_SUFFIX", "localhost:1");
    qputenv("ZAFREL_S3_ACCEL_SUFFIX", "localhost:1");
    qputenv("ZAFREL_S3_PROBE_SCHEME", "http");
    settings::setValue("serverURL", server.serviceURL());
    settings::setValue("destDir", "Ritmo/");
    server.addFault({{"server", "store"}, {"method", "PUT"}, {"pathContains", "A001C001.MXF"},
                       {"queryContains", "partNumber=2"}, {"action", "status"}, {"status", 503}});
    QList<QUrl> files{QUrl::fromLocalFile(writeFile(sandboxDir() + "/ritmo/A001C001.MXF", QByteArray(100 << 20, 'c')))};
    for (int i = 1; i <= 12; ++i)
        files << QUrl::fromLocalFile(writeFile(sandboxDir() + QString("/ritmo/T%1.WAV").arg(i, 3, 10, QChar('0')),
                                               QByteArray(1'500'000, char('a' + i))));

    desktop = ui::startDesktop();
    ASSERT_TRUE(shows(root().loginView()));
    signIn("demo@zafrel.test", "zafrel-demo");
    ASSERT_TRUE(shows(root().mainView()));
    ASSERT_TRUE(view().setSendRateText("25M"));   // long enough a run to be read many times
    ASSERT_TRUE(drop(files));

    std::vector<std::pair<qint64, StoreSide>> samples;   // what the footer showed, what the store held
    QTimer every;
    every.setInterval(100);
    QObject::connect(&every, &QTimer::timeout, [&] {
        // The screen first, then the store: the store can only have taken more meanwhile.
        if (const auto shown = shownBytes(footer().stateLabel()->text()))
            samples.push_back({*shown, storeSide(server)});
    });
    every.start();
    ASSERT_TRUE(runUntil([&] { return up().isRunning(); }));
    ASSERT_TRUE(runUntil([&] { return !up().isRunning(); }, std::chrono::minutes(3)));
    every.stop();

    ASSERT_EQ(up().summary().done, files.size());
    ASSERT_GE(samples.size(), 5u);   // the cap makes the run last seconds: it was watched
    const qint64 part = up().items().front()->partSize();
    ASSERT_GT(part, 0);
    int drops = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const auto& [shown, store] = samples[i];
        EXPECT_LE(shown, store.received + part) << "sample " << i;
        if (i > 0 && shown < samples[i - 1].first) {
            // Only a failed attempt takes bytes back, at most its part.
            ++drops;
            EXPECT_LE(drops, store.failed) << "sample " << i << ": " << samples[i - 1].first << " → " << shown;
            EXPECT_LE(samples[i - 1].first - shown, part) << "sample " << i;
        }
    }
    EXPECT_EQ(samples.back().second.failed, 1);
    desktop.reset();   // before the stand-in goes
}

}  // namespace
}  // namespace zafrel::test
