#include "engine/upload_manager.h"
#include "platform/format.h"
#include "support/engine_env.h"

#include <QDateTime>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace zafrel;

namespace {

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::resetEngineState();
        manager = test::offlineManager();
    }

    static ItemPtr item(const QString& name, qint64 size, const QString& destDir, Status status)
    {
        auto it = std::make_shared<UploadItem>(QUuid::createUuid(), QUrl::fromLocalFile("/Volumes/CARD/" + name), size,
                                               0, destDir);
        it->setStatus(status);
        return it;
    }

    // The report's lines after checking the title's form and that its time is current.
    QStringList linesAfterTitle(const QString& report)
    {
        const QStringList lines = report.split(u'\n');
        static const QRegularExpression title(
            QStringLiteral("^Zafrel \u2014 informe de subida (\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}Z)$"));
        const auto match = title.match(lines.value(0));
        EXPECT_TRUE(match.hasMatch()) << lines.value(0).toStdString();
        const QDateTime stamp = QDateTime::fromString(match.captured(1), Qt::ISODate);
        EXPECT_TRUE(stamp.isValid());
        EXPECT_LT(std::abs(stamp.secsTo(QDateTime::currentDateTimeUtc())), 3600);
        return lines.mid(1);
    }

    std::unique_ptr<UploadManager> manager;
};

}  // namespace

TEST_F(ReportTest, VerifiedAndSkippedFile)
{
    auto done = item("C0001.MXF", 2000000, "Rodaje/Dia03/", Status::Done);
    done->setVerified(true);
    manager->setItems({done, item("C0002.MXF", 1048576, "Rodaje/Dia03/", Status::Skipped)});
    manager->setDestDir("Rodaje/Dia03/");

    const QString report = manager->report();
    EXPECT_FALSE(report.endsWith(u'\n'));
    EXPECT_EQ(linesAfterTitle(report), (QStringList{
                                           "Destino: Rodaje/Dia03/",
                                           "",
                                           "OK verificado\t2000000\tRodaje/Dia03/C0001.MXF",
                                           QString::fromUtf8("ya existía\t1048576\tRodaje/Dia03/C0002.MXF"),
                                           "",
                                           QString::fromUtf8("1 subidos, 1 ya existían, 0 errores, 2 MB"),
                                       }));
    // The title is exactly the words, the dash, one blank and the time.
    EXPECT_TRUE(report.startsWith(QString::fromUtf8("Zafrel \xE2\x80\x94 informe de subida 2")));
}

TEST_F(ReportTest, EmptyQueueWithTheTopFolder)
{
    const QString report = manager->report();
    EXPECT_EQ(linesAfterTitle(report),
              (QStringList{"Destino: /", "", "", QString::fromUtf8("0 subidos, 0 ya existían, 0 errores, ") + formatByteCount(0)}));
    EXPECT_TRUE(report.endsWith(QStringLiteral("0 errores, ") + formatByteCount(0)));
}

TEST_F(ReportTest, EveryStateHasItsWordAndOnlyDoneAndSkippedAndErrorsAreTotalled)
{
    auto failed = item("e.mov", 5, "D/", Status::Error);
    failed->setError(QStringLiteral("HTTP 500 boom"));
    manager->setItems({
        item("plain.mov", 1500, "D/", Status::Done),
        failed,
        item("silent.mov", 6, "", Status::Error),
        item("q.mov", 7, "D/", Status::Queued),
        item("r.mov", 8, "D/", Status::Running),
        item("c.mov", 9, "D/", Status::Cancelled),
        item("p.mov", 10, "D/", Status::Paused),
        item("s.mov", 999999, "D/", Status::Skipped),
        item("fake\nOK verificado\t1\tx.mov", 11, "D/", Status::Queued),
    });
    manager->setDestDir("Elsewhere/");   // the destination chosen now, not the items'
    EXPECT_EQ(linesAfterTitle(manager->report()), (QStringList{
                                                      "Destino: Elsewhere/",
                                                      "",
                                                      "OK\t1500\tD/plain.mov",
                                                      "ERROR HTTP 500 boom\t5\tD/e.mov",
                                                      "ERROR \t6\tsilent.mov",
                                                      "queued\t7\tD/q.mov",
                                                      "running\t8\tD/r.mov",
                                                      "cancelled\t9\tD/c.mov",
                                                      "paused\t10\tD/p.mov",
                                                      QString::fromUtf8("ya existía\t999999\tD/s.mov"),
                                                      // A name from a disk holds any character; its line stays one.
                                                      "queued\t11\tD/fake OK verificado 1 x.mov",
                                                      "",
                                                      QString::fromUtf8("1 subidos, 1 ya existían, 2 errores, ")
                                                          + formatByteCount(1500),
                                                  }));
}

TEST_F(ReportTest, SummaryCountsEachStateOnce)
{
    manager->setItems({
        item("a", 100, "", Status::Done),
        item("b", 50, "", Status::Done),
        item("c", 7000, "", Status::Skipped),
        item("d", 1, "", Status::Error),
        item("e", 1, "", Status::Queued),
        item("f", 1, "", Status::Running),
        item("g", 1, "", Status::Running),
        item("h", 1, "", Status::Paused),
        item("i", 1, "", Status::Cancelled),
    });
    const Summary s = manager->summary();
    EXPECT_EQ(s.done, 2);
    EXPECT_EQ(s.bytes, 150);
    EXPECT_EQ(s.skipped, 1);
    EXPECT_EQ(s.errors, 1);
    EXPECT_EQ(s.active, 3);

    manager->items()[4]->setStatus(Status::Done);   // computed anew on every read
    EXPECT_EQ(manager->summary().done, 3);
    EXPECT_EQ(manager->summary().active, 2);
}
