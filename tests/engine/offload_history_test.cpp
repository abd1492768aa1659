// The offload's records: hash lists read generation after generation, and the files of a dropped
// folder given the record of the nearest history above them.
#include "engine/intake/intake_scan.h"
#include "engine/destination/offload_history.h"
#include "support/engine_env.h"
#include "support/mhl_fixture.h"

#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

using namespace zafrel;
using namespace zafrel::test;

namespace {

OffloadRecord rec(HashFormat format, const char* digest) { return {format, digest}; }

}  // namespace

// A later generation's record of a format replaces the earlier one, a "failed" one never does,
// the other formats stay; names match whether written composed or decomposed.
TEST(OffloadHistory, LatestUsableRecordPerFormatAndPath)
{
    const QString decomposed = QStringLiteral("Clips/Cancio\u0301n.mov");
    OffloadHistory history;
    QString error;
    const auto add = [&](const std::vector<MhlHash>& hashes) { return history.addHashList(mhlHashList(hashes).toUtf8(), error); };
    ASSERT_TRUE(add({{"Clips/A.mov", 5, {{"xxh64", "0ea03b369a463d9d"}, {"md5", "aa"}}},
                     {decomposed, 4, {{"xxh128", "99aa06d3014798d86001c324468d497f"}}},
                     {"Clips/B.mov", 4, {{"c4", "c4abc"}}}}));
    ASSERT_TRUE(add({{"Clips/A.mov", 5, {{"xxh64", "1111111111111111", "verified"}}},
                     {"Clips/B.mov", 4, {{"c4", "c4bad", "failed"}}},
                     {"Clips/C.mov", 4, {{"sha1", "bb", "failed"}}}}));

    const struct {
        QString path;
        std::vector<OffloadRecord> records;
        std::optional<OffloadRecord> checked;
    } cases[] = {
        {"Clips/A.mov", {rec(HashFormat::Md5, "aa"), rec(HashFormat::Xxh64, "1111111111111111")}, rec(HashFormat::Xxh64, "1111111111111111")},
        {QStringLiteral("Clips/Canci\u00f3n.mov"), {rec(HashFormat::Xxh128, "99aa06d3014798d86001c324468d497f")}, rec(HashFormat::Xxh128, "99aa06d3014798d86001c324468d497f")},
        {decomposed, {rec(HashFormat::Xxh128, "99aa06d3014798d86001c324468d497f")}, rec(HashFormat::Xxh128, "99aa06d3014798d86001c324468d497f")},
        {"Clips/B.mov", {rec(HashFormat::C4, "c4abc")}, rec(HashFormat::C4, "c4abc")},
        {"Clips/C.mov", {}, std::nullopt},   // only a failed record
        {"clips/a.mov", {}, std::nullopt},   // paths are case-sensitive
        {"Clips", {}, std::nullopt},         // a directory hash is no file's record
    };
    for (const auto& c : cases) {
        const std::vector<OffloadRecord>* records = history.recordsOf(c.path);
        EXPECT_EQ(records ? *records : std::vector<OffloadRecord>(), c.records) << c.path.toStdString();
        EXPECT_EQ(history.recordToCheck(c.path), c.checked) << c.path.toStdString();
    }

    const std::pair<const char*, const char*> refused[] = {
        {"<hashlist version=\"2.0\" xmlns=\"urn:ASC:MHL:v1.0\"/>", "no es una lista de ASC MHL 2.0"},
        {"<ascmhldirectory xmlns=\"urn:ASC:MHL:DIRECTORY:v2.0\"/>", "no es una lista de ASC MHL 2.0"},
        {"<hashlist version=\"2.0\" xmlns=\"urn:ASC:MHL:v2.0\"><hashes><hash><path>X</path><md5>ff</md5>",
         "XML no válido en la línea 1"},
    };
    for (const auto& [xml, why] : refused) {
        OffloadHistory other;
        EXPECT_FALSE(other.addHashList(QByteArray(xml), error)) << xml;
        EXPECT_EQ(error, QString::fromUtf8(why));
        EXPECT_TRUE(other.files().empty()) << xml;
    }
}

// A day folder with its own history holding a card with another: each file takes the record of
// the nearest one; what is recorded but absent and what is there unrecorded are said, hidden
// names and the histories' own files are neither.
TEST(OffloadHistory, TheDroppedFolderFilesTakeTheNearestHistory)
{
    QTemporaryDir dir;
    const QString day = dir.filePath("Dia01");
    const QString card = day + "/A002R2EC";
    writeFile(day + "/informe.pdf", "pdf");
    writeFile(day + "/notas.txt", "notas");
    writeFile(card + "/Clips/A002C006.mov", "hello");
    writeFile(card + "/Clips/A002C007.mov", "wxyz");
    writeFile(card + "/Sidecar.txt", "sidecar");
    writeMhlHistory(day, {mhlHashList({{"informe.pdf", 3, {{"md5", mhlDigest(HashFormat::Md5, "pdf")}}},
                                       {"A002R2EC/Clips/A002C006.mov", 5, {{"md5", "00000000000000000000000000000000"}}},
                                       {"perdido.txt", 1, {{"md5", "00"}}}})});
    writeMhlHistory(card, {mhlHashList({{"Clips/A002C006.mov", 5, {{"xxh64", "0ea03b369a463d9d"}}},
                                        {"Clips/A002C007.mov", 4, {{"xxh64", "7680e5f98f4a80fd"}}},
                                        {"Clips/A002C008.mov", 4, {{"xxh64", "1234567812345678"}}},
                                        {".DS_Store", 6, {{"xxh64", "0000000000000000"}}}})});

    const IntakeScan scan = scanForIntake({QUrl::fromLocalFile(day)}, "Rodaje/");
    std::map<QString, std::optional<OffloadRecord>> records;
    for (const ScannedFile& file : scan.files)
        records[file.path.mid(day.size() + 1)] = file.record;
    const std::map<QString, std::optional<OffloadRecord>> expected = {
        {"informe.pdf", rec(HashFormat::Md5, mhlDigest(HashFormat::Md5, "pdf").toStdString().c_str())},
        {"notas.txt", std::nullopt},
        {"A002R2EC/Clips/A002C006.mov", rec(HashFormat::Xxh64, "0ea03b369a463d9d")},
        {"A002R2EC/Clips/A002C007.mov", rec(HashFormat::Xxh64, "7680e5f98f4a80fd")},
        {"A002R2EC/Sidecar.txt", std::nullopt},
    };
    EXPECT_EQ(records, expected);   // each history goes up as one, not as files

    const std::vector<QString> notices{
        "Sin registro en la copia (ASC MHL); se sube sin comprobarlo: " + card + "/Sidecar.txt",
        "Sin registro en la copia (ASC MHL); se sube sin comprobarlo: " + day + "/notas.txt",
        "Falta un archivo registrado en la copia (ASC MHL); compruebe la copia: " + card + "/Clips/A002C008.mov",
        "Falta un archivo registrado en la copia (ASC MHL); compruebe la copia: " + day + "/perdido.txt",
    };
    EXPECT_EQ(scan.notices, notices);
    ASSERT_EQ(scan.histories.size(), 2u);
    EXPECT_EQ(scan.histories[0].destFolder, "Rodaje/Dia01/A002R2EC/");
    EXPECT_EQ(scan.histories[1].destFolder, "Rodaje/Dia01/");
}

// A hash list is trusted only when the chain names it with the C4 ID of its bytes: one edited since
// (a digest changed, the size kept) or one the chain does not list gives no record, and says so.
TEST(OffloadHistory, AHashListTheChainDoesNotVouchForIsNotUsed)
{
    QTemporaryDir dir;
    const QString card = dir.filePath("A003");
    writeMhlHistory(card, {mhlHashList({{"A.mov", 5, {{"xxh64", "0ea03b369a463d9d"}}}}),
                           mhlHashList({{"B.mov", 4, {{"xxh64", "7680e5f98f4a80fd"}}}})});
    const QString second = card + "/ascmhl/" + QDir(card + "/ascmhl").entryList({"0002_*"}).value(0);
    writeFile(second, fileBytes(second).replace("7680e5f98f4a80fd", "7680e5f98f4a80fe"));
    writeFile(card + "/ascmhl/0003_A003_2020-01-20_091500Z.mhl", mhlHashList({{"C.mov", 1, {{"md5", "00"}}}}).toUtf8());

    const OffloadHistory history = OffloadHistory::read(card);
    EXPECT_EQ(history.hashLists(), QStringList{QDir(card + "/ascmhl").entryList({"0001_*"}).value(0)});
    EXPECT_EQ(history.recordToCheck("A.mov"), rec(HashFormat::Xxh64, "0ea03b369a463d9d"));
    EXPECT_EQ(history.recordsOf("B.mov"), nullptr);
    EXPECT_EQ(history.recordsOf("C.mov"), nullptr);
    EXPECT_EQ(history.problems(), QStringList({"Registro ASC MHL no usado (no coincide con su C4 en la cadena): " + second,
                                               "Registro ASC MHL no usado (no figura en la cadena): " + card
                                                   + "/ascmhl/0003_A003_2020-01-20_091500Z.mhl"}));
    ASSERT_TRUE(history.chain());
    EXPECT_EQ(history.chain()->size(), 2u);
}
