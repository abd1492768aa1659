// The service and the store going away in the middle of a run: a short outage is ridden out, a
// long one pauses the run, and the same command then finishes it without sending anything twice.
#include "e2e_fixture.h"

#include <map>

namespace zafrel::test {
namespace {

class OutageEndToEnd : public EndToEndTest {
protected:
    // Every file of `digests` (destination name -> MD5) is in the store with its content, and the
    // store accepted at most one PUT of it over all the runs of the test (one cut by the outage
    // after its body went through is stored without an answer, and then found there).
    void expectStoredOnce(const std::map<QString, std::string>& digests)
    {
        for (const auto& [name, md5] : digests) {
            EXPECT_LE(storedPuts(name).size(), 1u) << name.toStdString();
            const auto object = storedObject(name);
            ASSERT_TRUE(object.has_value()) << name.toStdString();
            EXPECT_EQ(object->value("md5", ""), md5) << name.toStdString();
        }
    }

    // How many requests of the log met an armed outage.
    int outagesMet()
    {
        int n = 0;
        for (const auto& request : server().requests())
            n += request.value("fault", "") == "outage";
        return n;
    }
};

TEST_F(OutageEndToEnd, AShortOutageInTheMiddleOfARunIsRiddenOut)
{
    ProgramHome home;
    const QString card = files_.filePath("CARD");
    std::map<QString, std::string> digests;
    for (int i = 1; i <= 50; ++i) {
        const QString name = QStringLiteral("C%1.MXF").arg(i, 4, 10, QChar(u'0'));
        digests["Corte/CARD/" + name] = writeFile(card + "/" + name, 40'000 + i, quint32(i));
    }
    // Service and store go away for 5 s when the 21st file asks where to go, which is cut too.
    server().addFault({{"server", "service"}, {"pathContains", "/api/upload/init"}, {"skip", 20}, {"action", "outage"},
                       {"down", "both"}, {"seconds", 5}});

    const ProgramResult run = upload(home, {card}, "Corte/");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("\n50 subidos, 0 ya existían, 0 errores, ")) << run.out.toStdString();
    for (const auto& [name, md5] : digests)
        EXPECT_TRUE(reportLine(run.out, name).startsWith("OK verificado\t")) << name.toStdString();
    EXPECT_EQ(run.err, "");
    ASSERT_TRUE(server().waitUntilAnswering(std::chrono::seconds(10)));
    EXPECT_EQ(outagesMet(), 1);
    expectStoredOnce(digests);
}

TEST_F(OutageEndToEnd, ALongOutagePausesTheRunAndTheSameCommandFinishesIt)
{
    ProgramHome home;
    const QString day = files_.filePath("Dia02");
    const QString big = "Largo/Dia02/A.MXF";   // first in the walk: 4 parts of 32 MiB, the last one shorter
    const std::string bigMd5 = writeFile(day + "/A.MXF", 110'000'000, 7);
    std::map<QString, std::string> digests;
    for (int i = 1; i <= 8; ++i) {
        const QString name = QStringLiteral("B%1.MXF").arg(i);
        digests["Largo/Dia02/" + name] = writeFile(day + "/" + name, 30'000 + i, quint32(100 + i));
    }
    // Parts 1 and 2 go through; part 4 is held until the outage cuts it, and part 3 starts a 27 s
    // outage of both sides after 2 s: longer than the whole retry schedule (1 + 3 + 6 + 12 s).
    server().addFault({{"server", "store"}, {"method", "PUT"}, {"queryContains", "partNumber=4"}, {"action", "delay"},
                       {"ms", 60000}});
    server().addFault({{"server", "store"}, {"method", "PUT"}, {"queryContains", "partNumber=3"}, {"action", "outage"},
                       {"down", "both"}, {"seconds", 27}, {"ms", 2000}});

    const QStringList arguments = uploadArguments({day}, "Largo/");
    const ProgramResult first = runProgram(home, arguments);
    ASSERT_TRUE(first.finished);
    EXPECT_EQ(first.exitCode, 1) << first.out.toStdString();
    EXPECT_TRUE(first.err.startsWith("Sin conexión con el servidor")) << first.err.toStdString();
    EXPECT_EQ(first.err.count(u'\n'), 1) << first.err.toStdString();
    EXPECT_FALSE(first.out.contains("ERROR")) << first.out.toStdString();
    EXPECT_TRUE(first.out.contains(", 0 errores, ")) << first.out.toStdString();
    EXPECT_TRUE(reportLine(first.out, big).startsWith("paused\t")) << first.out.toStdString();

    ASSERT_TRUE(server().waitUntilAnswering(std::chrono::seconds(40)));
    EXPECT_EQ(outagesMet(), 1);
    const std::multiset<int> partsBefore = storedPuts(big);
    const ProgramResult second = runProgram(home, arguments);
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(second.exitCode, 0) << second.out.toStdString() << second.err.toStdString();
    EXPECT_EQ(reportLine(second.out, big), "OK verificado\t110000000\t" + big);
    EXPECT_TRUE(second.out.contains(", 0 errores, ")) << second.out.toStdString();

    // Each part was accepted once over both runs: the second one sent only what the first lacked.
    EXPECT_EQ(storedPuts(big), std::multiset<int>({1, 2, 3, 4})) << "before: " << partsBefore.size();
    const auto object = storedObject(big);
    ASSERT_TRUE(object.has_value());
    EXPECT_EQ(object->value("md5", ""), bigMd5);
    expectStoredOnce(digests);
}

}  // namespace
}  // namespace zafrel::test
