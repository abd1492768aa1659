// Copies of camera cards with the offload's ASC MHL history, sent with the real program to the
// local stand-in: every recorded file is checked against its record on the way up.
#include "e2e_fixture.h"
#include "platform/md5.h"
#include "support/mhl_fixture.h"

namespace zafrel::test {
namespace {

using OffloadRecords = EndToEndTest;

// A day folder with a history of its own holding a card with another: each file is checked in
// the format of the nearest history's record (a later "failed" record does not count), and what
// is recorded but absent or present but unrecorded is said below the report without failing it.
TEST_F(OffloadRecords, AClearCardGoesUpCheckedAgainstItsRecords)
{
    const QString day = files_.filePath("Dia01"), card = day + "/A002R2EC";
    const struct {
        QString path;
        qint64 size;
        HashFormat format;
    } files[] = {{card + "/Clips/A002C006.mov", 33'554'433, HashFormat::Xxh64},
                 {card + "/Clips/A002C007.mov", 700'000, HashFormat::Xxh128},
                 {card + "/Clips/A002C008.mov", 600'000, HashFormat::C4},
                 {day + "/informe.pdf", 5'000, HashFormat::Md5}};
    std::vector<MhlHash> cardHashes, dayHashes;
    for (const auto& f : files) {
        writeFile(f.path, f.size, quint32(f.size));
        const QString digest = mhlDigest(f.format, fileBytes(f.path));
        const bool inCard = f.path.startsWith(card);
        (inCard ? cardHashes : dayHashes)
            .push_back({f.path.mid((inCard ? card : day).size() + 1), f.size, {{QString(hashFormatName(f.format).data()), digest}}});
    }
    writeFile(card + "/Sidecar.txt", 100, 3);
    dayHashes.push_back({"A002R2EC/Clips/A002C006.mov", 33'554'433, {{"md5", QString(32, '0')}}});   // the card's own counts
    writeMhlHistory(card, {mhlHashList(cardHashes),
                           mhlHashList({{"Clips/A002C006.mov", 33'554'433, {{"xxh64", QString(16, 'f'), "failed"}}},
                                        {"Clips/A002C009.mov", 10, {{"xxh64", QString(16, '1')}}}})});
    writeMhlHistory(day, {mhlHashList(dayHashes)});

    const ProgramResult run = upload(ProgramHome(), {day}, "Rodaje/");
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    for (const auto& f : files) {
        const QString dest = "Rodaje/" + f.path.mid(files_.path().size() + 1);
        EXPECT_EQ(reportLine(run.out, dest), QStringLiteral("OK verificado (ASC MHL, %1)\t%2\t%3")
                                                 .arg(QLatin1StringView(hashFormatName(f.format)))
                                                 .arg(f.size)
                                                 .arg(dest));
    }
    EXPECT_EQ(reportLine(run.out, "Rodaje/Dia01/A002R2EC/Sidecar.txt"), "OK verificado\t100\tRodaje/Dia01/A002R2EC/Sidecar.txt");
    EXPECT_TRUE(run.out.contains("\naviso: Sin registro en la copia (ASC MHL); se sube sin comprobarlo: " + card
                                 + "/Sidecar.txt\naviso: Falta un archivo registrado en la copia (ASC MHL); compruebe la "
                                   "copia: "
                                 + card + "/Clips/A002C009.mov\n"))
        << run.out.toStdString();
}

// A byte flipped since the offload, size and date unchanged: that file alone ends in error (its
// single request is never sent, its multipart upload is aborted), the run fails, and the next run
// sends it again instead of finding it already there; its report for scripts names the record
// each file was checked against and the MD5 of what was read.
TEST_F(OffloadRecords, AFlippedByteFailsThatFileAloneAndIsNotAlreadyThereNextTime)
{
    ProgramHome home;
    const QString card = files_.filePath("B001");
    const std::pair<QString, qint64> files[] = {{"B001C001.mov", 33'554'433}, {"B001C002.mov", 400'000}, {"B001C003.mov", 300'000}};
    std::vector<MhlHash> hashes;
    for (const auto& [name, size] : files) {
        writeFile(card + "/" + name, size, quint32(size));
        hashes.push_back({name, size, {{"xxh64", mhlDigest(HashFormat::Xxh64, fileBytes(card + "/" + name))}}});
    }
    writeMhlHistory(card, {mhlHashList(hashes)});
    for (const QString name : {"B001C001.mov", "B001C002.mov"}) {
        QFile file(card + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        const QDateTime modified = file.fileTime(QFileDevice::FileModificationTime);
        file.seek(12345);
        char byte = 0;
        file.getChar(&byte);
        file.seek(12345);
        file.putChar(char(byte ^ 0x01));
        file.close();
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.setFileTime(modified, QFileDevice::FileModificationTime));
    }

    server().reset();
    const ProgramResult run = upload(home, {card}, "Rodaje/");
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString();
    for (const QString name : {"B001C001.mov", "B001C002.mov"}) {
        EXPECT_EQ(reportLine(run.out, "Rodaje/B001/" + name),
                  QStringLiteral("ERROR No coincide con el registro de la copia (ASC MHL, xxh64)\t%1\tRodaje/B001/%2")
                      .arg(QFileInfo(card + "/" + name).size())
                      .arg(name));
        EXPECT_EQ(storedMd5("B001/" + name), "");
    }
    EXPECT_TRUE(storedPuts("B001/B001C002.mov").empty());
    EXPECT_EQ(reportLine(run.out, "Rodaje/B001/B001C003.mov"), "OK verificado (ASC MHL, xxh64)\t300000\tRodaje/B001/B001C003.mov");

    // The same command again, with the report for scripts: the record each file was checked
    // against, and the MD5 of what was read.
    server().reset();
    const ProgramResult again = runProgram(home.environment(), {"--json", "--dest", "Rodaje/", "--upload", card});
    EXPECT_EQ(again.exitCode, 1) << again.out.toStdString();
    const nlohmann::json report = nlohmann::json::parse(again.out.toStdString());
    std::map<std::string, nlohmann::json> items;
    for (const nlohmann::json& item : report["items"])
        items[item["destination"]] = item;
    for (size_t i = 0; i < std::size(files); ++i) {
        const QString& name = files[i].first;
        const nlohmann::json& item = items["Rodaje/B001/" + name.toStdString()];
        const bool flipped = i < 2;
        EXPECT_EQ(item["status"], flipped ? "error" : "skipped") << name.toStdString();
        EXPECT_EQ(item["offloadRecord"], nlohmann::json({{"format", "xxh64"},
                                                         {"digest", hashes[i].digests[0].value.toStdString()},
                                                         {"matched", false}}));
        EXPECT_EQ(item["md5"], flipped ? nlohmann::json(md5Hex(fileBytes(card + "/" + name))) : nlohmann::json(nullptr));
    }
    EXPECT_EQ(server().serviceRequests("POST", "/api/upload/abort").size(), 1u);
}

}  // namespace
}  // namespace zafrel::test
