// Copies of camera cards with the offload's ASC MHL history: each recorded file is checked on the way up.
#include "e2e_fixture.h"
#include "platform/md5.h"
#include "support/mhl_fixture.h"

namespace zafrel::test {
namespace {

class OffloadRecords : public EndToEndTest {
protected:
    std::optional<QByteArray> stored(const QString& suffix)
    {
        for (const auto& object : server().objects())
            if (const QString key = QString::fromStdString(object.value("key", "")); key.endsWith(u'/' + suffix))
                return server().objectBytes(key);
        return std::nullopt;
    }

    // The history at `folder` (ending with "/") of the store, each hash list checked against the
    // chain's C4 and the last one read back.
    struct StoredHistory {
        std::vector<std::pair<QString, QString>> chain;
        CheckedHashList last;
    };
    StoredHistory storedHistory(const QString& folder)
    {
        StoredHistory history;
        history.chain = checkChain(stored(folder + "ascmhl/ascmhl_chain.xml").value_or(QByteArray()));
        for (const auto& [name, c4] : history.chain) {
            const QByteArray bytes = stored(folder + "ascmhl/" + name).value_or(QByteArray());
            EXPECT_EQ(mhlDigest(HashFormat::C4, bytes), c4) << name.toStdString();
            if (name == history.chain.back().first)
                history.last = checkHashList(bytes);
        }
        return history;
    }

    int historyPuts()
    {
        int count = 0;
        for (const auto& request : server().storeRequests("PUT", ""))
            count += QString::fromStdString(request.value("path", "")).contains("/ascmhl/") ? 1 : 0;
        return count;
    }
};

// A transfer's hash list: "Zafrel" wrote it, generation `generation` of `folder`.
void expectTransferBy(const CheckedHashList& list, const QString& name, int generation, const QString& folder)
{
    EXPECT_EQ(list.process, "transfer");
    EXPECT_EQ(list.tool, "Zafrel");
    EXPECT_FALSE(list.toolVersion.isEmpty());
    const QRegularExpression pattern(
        QStringLiteral("^%1_%2_\\d{4}-\\d\\d-\\d\\d_\\d{6}Z\\.mhl$").arg(generation, 4, 10, QChar('0')).arg(folder));
    EXPECT_TRUE(pattern.match(name).hasMatch()) << name.toStdString();
}

// A day folder and the card inside it, each with its history: each file is checked against the nearest
// one's record (a later "failed" one does not count); recorded but absent, or present but unrecorded,
// is said below the report without failing it.
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
        const QString format = QLatin1StringView(hashFormatName(f.format));
        EXPECT_EQ(reportLine(run.out, dest),
                  QString("OK verificado (ASC MHL, %1)\t%2\t%3").arg(format).arg(f.size).arg(dest));
    }
    EXPECT_EQ(reportLine(run.out, "Rodaje/Dia01/A002R2EC/Sidecar.txt"), "OK verificado\t100\tRodaje/Dia01/A002R2EC/Sidecar.txt");
    EXPECT_TRUE(run.out.contains("\naviso: Sin registro en la copia (ASC MHL); se sube sin comprobarlo: " + card
                                 + "/Sidecar.txt\naviso: Falta un archivo registrado en la copia (ASC MHL); compruebe la "
                                   "copia: "
                                 + card + "/Clips/A002C009.mov\n"))
        << run.out.toStdString();

    // Each history goes on at the destination: the offload's generations, then this transfer's with
    // each file's MD5 and record verified. The source's history stays untouched.
    for (const QString& root : {card, day}) {
        const QString folder = root.mid(files_.path().size() + 1) + "/";
        const std::vector<std::pair<QString, QString>> offload = checkChain(fileBytes(root + "/ascmhl/ascmhl_chain.xml"));
        const StoredHistory history = storedHistory(folder);
        ASSERT_EQ(history.chain.size(), offload.size() + 1) << folder.toStdString();
        EXPECT_TRUE(std::equal(offload.begin(), offload.end(), history.chain.begin()));
        expectTransferBy(history.last, history.chain.back().first, int(offload.size()) + 1, QFileInfo(root).fileName());
        std::map<QString, std::map<QString, std::pair<QString, QString>>> expected;
        for (const auto& f : files) {
            if (QFileInfo(f.path).path() != root && !f.path.startsWith(root + "/Clips/"))
                continue;
            auto& digests = expected[f.path.mid(root.size() + 1)];
            digests["md5"] = {QString::fromStdString(md5Hex(fileBytes(f.path))), "verified"};
            digests[QString(hashFormatName(f.format).data())] = {mhlDigest(f.format, fileBytes(f.path)), "verified"};
        }
        if (root == card)
            expected["Sidecar.txt"]["md5"] = {QString::fromStdString(md5Hex(fileBytes(card + "/Sidecar.txt"))), "verified"};
        EXPECT_EQ(history.last.files, expected) << folder.toStdString();
        EXPECT_EQ(QDir(root + "/ascmhl").entryList(QDir::Files).size(), offload.size() + 1);
    }
}

// A card's history at the destination grows by one hash list per run that finished it having sent
// files of it (those of an unfinished run are listed then); a run that sends nothing writes nothing.
TEST_F(OffloadRecords, TheDestinationHistoryGrowsOneHashListPerRunThatSentFiles)
{
    ProgramHome home;
    const QString card = files_.filePath("C001");
    std::vector<MhlHash> hashes;
    for (const auto& [name, size] : {std::pair("C001C001.mov", 300'000), std::pair("C001C002.mov", 200'000)}) {
        writeFile(card + "/" + name, size, quint32(size));
        hashes.push_back({name, size, {{"xxh64", mhlDigest(HashFormat::Xxh64, fileBytes(card + "/" + name))}}});
    }
    writeMhlHistory(card, {mhlHashList(hashes)});
    const QByteArray localChain = fileBytes(card + "/ascmhl/ascmhl_chain.xml");
    replaceKeepingSizeAndTime(card + "/C001C002.mov", 7);
    EXPECT_EQ(upload(home, {card}, "Rodaje/").exitCode, 1);
    EXPECT_EQ(historyPuts(), 0);

    replaceKeepingSizeAndTime(card + "/C001C002.mov", 200'000);   // copied again from the card
    const ProgramResult second = upload(home, {card}, "Rodaje/");
    EXPECT_EQ(second.exitCode, 0) << second.out.toStdString();
    const StoredHistory finished = storedHistory("Rodaje/C001/");
    ASSERT_EQ(finished.chain.size(), 2u);
    expectTransferBy(finished.last, finished.chain[1].first, 2, "C001");
    EXPECT_EQ(finished.last.files.size(), 2u);
    for (const MhlHash& hash : hashes)
        EXPECT_EQ(finished.last.files.at(hash.path).at("xxh64"), std::pair(hash.digests[0].value, QString("verified")));

    // A chain the store got wrong fails the run; the same command writes the history again.
    writeFile(card + "/C001C003.mov", 100'000, 3);
    server().addFault({{"action", "etag"}, {"method", "PUT"}, {"pathContains", "ascmhl_chain.xml"}});
    const ProgramResult failed = upload(home, {card}, "Rodaje/");
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(reportLine(failed.out, "Rodaje/C001/ascmhl/ascmhl_chain.xml").startsWith("ERROR ")) << failed.out.toStdString();
    const ProgramResult third = upload(home, {card}, "Rodaje/");
    EXPECT_EQ(third.exitCode, 0) << third.out.toStdString();
    const StoredHistory grown = storedHistory("Rodaje/C001/");
    ASSERT_EQ(grown.chain.size(), 3u);
    EXPECT_TRUE(std::equal(finished.chain.begin(), finished.chain.end(), grown.chain.begin()));
    expectTransferBy(grown.last, grown.chain[2].first, 3, "C001");
    EXPECT_EQ(grown.last.files, (std::map<QString, std::map<QString, std::pair<QString, QString>>>{
                                    {"C001C003.mov", {{"md5", {QString::fromStdString(md5Hex(fileBytes(card + "/C001C003.mov"))), "verified"}}}}}));

    server().reset();
    EXPECT_EQ(upload(home, {card}, "Rodaje/").exitCode, 0);
    EXPECT_EQ(historyPuts(), 0);
    EXPECT_EQ(fileBytes(card + "/ascmhl/ascmhl_chain.xml"), localChain);
    EXPECT_EQ(QDir(card + "/ascmhl").entryList(QDir::Files).size(), 2);
}

// "--mhl xxh64" starts a history at the destination for a folder that has none: its first hash
// list records every file's MD5 and xxh64 as originals; nothing is written into the folder itself.
TEST_F(OffloadRecords, AFolderWithoutHistoryGetsOneAtTheDestination)
{
    const QString folder = files_.filePath("Sonido");
    const QStringList names{"T01.wav", "Dia/T02.wav"};
    for (const QString& name : names)
        writeFile(folder + "/" + name, 5'000 + name.size(), quint32(name.size()));
    const ProgramResult run = runProgram(ProgramHome().environment(), uploadArguments({folder}, "Audio/") << "--mhl" << "xxh64");
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    const StoredHistory history = storedHistory("Audio/Sonido/");
    ASSERT_EQ(history.chain.size(), 1u);
    expectTransferBy(history.last, history.chain[0].first, 1, "Sonido");
    std::map<QString, std::map<QString, std::pair<QString, QString>>> expected;
    for (const QString& name : names)
        expected[name] = {{"md5", {QString::fromStdString(md5Hex(fileBytes(folder + "/" + name))), "original"}},
                          {"xxh64", {mhlDigest(HashFormat::Xxh64, fileBytes(folder + "/" + name)), "original"}}};
    EXPECT_EQ(history.last.files, expected);
    EXPECT_FALSE(QFileInfo::exists(folder + "/ascmhl"));
}

// Other bytes since the offload, size and date unchanged: that file alone fails (a single request
// never sent, a multipart upload aborted) and is not "already there" next time; the JSON report
// names the record each file was checked against and the MD5 of what was read.
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
    for (const QString name : {"B001C001.mov", "B001C002.mov"})
        replaceKeepingSizeAndTime(card + "/" + name, 7);

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
