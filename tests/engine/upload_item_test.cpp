#include "engine/upload_error.h"
#include "engine/upload_item.h"

#include <gtest/gtest.h>

#include <string>

using namespace zafrel;

namespace {

ItemPtr makeItem(const QString& path = QStringLiteral("/Volumes/CARD/CLIPS/C0001.MXF"),
                 const QString& destDir = QStringLiteral("Rodaje/Dia03/"))
{
    return std::make_shared<UploadItem>(QUuid::createUuid(), QUrl::fromLocalFile(path), 42, 1733400000.5, destDir);
}

}  // namespace

TEST(StatusWords, EveryStateHasItsWordAndReadsBack)
{
    const std::pair<Status, const char*> cases[] = {
        {Status::Queued, "queued"}, {Status::Running, "running"},     {Status::Done, "done"},
        {Status::Skipped, "skipped"}, {Status::Error, "error"}, {Status::Cancelled, "cancelled"},
        {Status::Paused, "paused"},
    };
    for (const auto& [status, word] : cases) {
        EXPECT_EQ(statusWord(status), QString::fromLatin1(word));
        EXPECT_EQ(statusFromWord(QString::fromLatin1(word)), status);
    }
}

TEST(StatusWords, UnknownSpellingsAreNotStates)
{
    for (const char* word : {"", "Queued", "PAUSED", "paused ", "finished", "cancel"})
        EXPECT_FALSE(statusFromWord(QString::fromLatin1(word)).has_value()) << word;
}

TEST(UploadItem, FreshItemIsQueuedWithNothingDone)
{
    const QUuid id = QUuid::createUuid();
    UploadItem item(id, QUrl::fromLocalFile("/Volumes/CARD/CLIPS/A001/C0001.MXF"), 2000000, 1733400000.25,
                    "Rodaje/Dia03/CLIPS/A001/");
    EXPECT_EQ(item.id, id);
    EXPECT_EQ(item.path, "/Volumes/CARD/CLIPS/A001/C0001.MXF");
    EXPECT_EQ(item.name, "C0001.MXF");
    EXPECT_EQ(item.size, 2000000);
    EXPECT_EQ(item.mtime, 1733400000.25);
    EXPECT_EQ(item.destDir, "Rodaje/Dia03/CLIPS/A001/");
    EXPECT_EQ(item.status(), Status::Queued);
    EXPECT_EQ(item.loaded(), 0);
    EXPECT_FALSE(item.error().has_value());
    EXPECT_FALSE(item.verified());
    EXPECT_FALSE(item.key.has_value());
    EXPECT_FALSE(item.uploadId.has_value());
    EXPECT_EQ(item.partSize, 0);
    EXPECT_TRUE(item.etags.empty());
    EXPECT_FALSE(item.started.has_value());
    EXPECT_FALSE(item.finished.has_value());
    EXPECT_EQ(item.contentType, "application/octet-stream");
}

TEST(UploadItem, EveryAssignmentNotifiesEvenWithoutChange)
{
    auto item = makeItem();
    int notifications = 0;
    QObject::connect(item.get(), &UploadItem::changed, [&] { ++notifications; });

    item->setStatus(Status::Queued);   // same value as before
    item->setStatus(Status::Queued);
    EXPECT_EQ(notifications, 2);
    item->setLoaded(0);
    EXPECT_EQ(notifications, 3);
    item->setError(std::nullopt);
    EXPECT_EQ(notifications, 4);
    item->setVerified(false);
    EXPECT_EQ(notifications, 5);

    item->setLoaded(10);
    item->setError(QStringLiteral("HTTP 500 "));
    item->setVerified(true);
    item->setStatus(Status::Error);
    EXPECT_EQ(notifications, 9);
    EXPECT_EQ(item->loaded(), 10);
    EXPECT_EQ(item->error(), QStringLiteral("HTTP 500 "));
    EXPECT_TRUE(item->verified());
    EXPECT_EQ(item->status(), Status::Error);
}

TEST(UploadItem, OnlyQueuedAndRunningAreActive)
{
    auto item = makeItem();
    for (Status s : {Status::Queued, Status::Running}) {
        item->setStatus(s);
        EXPECT_TRUE(item->isActive()) << statusWord(s).toStdString();
    }
    for (Status s : {Status::Done, Status::Skipped, Status::Error, Status::Cancelled, Status::Paused}) {
        item->setStatus(s);
        EXPECT_FALSE(item->isActive()) << statusWord(s).toStdString();
    }
}

TEST(UploadItem, QueueKeyJoinsPathAndDestinationWithAnArrow)
{
    auto item = makeItem("/Volumes/CARD/notes.txt", "Rodaje/");
    EXPECT_EQ(item->queueKey().toUtf8(), QByteArray("/Volumes/CARD/notes.txt\xE2\x86\x92Rodaje/"));
    EXPECT_EQ(makeItem("/a/b", "")->queueKey().toUtf8(), QByteArray("/a/b\xE2\x86\x92"));
    EXPECT_NE(makeItem("/a/b", "x/")->queueKey(), makeItem("/a/b", "y/")->queueKey());
}

TEST(UploadError, MessagesOfTheFourCases)
{
    EXPECT_STREQ(UploadError::checksum().what(), "La verificación MD5 no coincide");
    EXPECT_STREQ(UploadError::cancelled().what(), "Cancelado");
    EXPECT_STREQ(UploadError::network().what(), "Sin respuesta de red");
    EXPECT_STREQ(UploadError::http(403, "AccessDenied").what(), "HTTP 403 AccessDenied");
    EXPECT_EQ(UploadError::http(403, "x").kind(), UploadError::Kind::Http);
    EXPECT_EQ(UploadError::http(403, "x").code(), 403);
    EXPECT_EQ(UploadError::checksum().kind(), UploadError::Kind::Checksum);
    EXPECT_EQ(UploadError::cancelled().kind(), UploadError::Kind::Cancelled);
    EXPECT_EQ(UploadError::network().kind(), UploadError::Kind::Network);
}

TEST(UploadError, EmptyHttpMessageKeepsTheBlankAfterTheCode)
{
    EXPECT_STREQ(UploadError::http(500, "").what(), "HTTP 500 ");
}

TEST(UploadError, HttpMessageIsCutAfterEightyCharacters)
{
    std::string message;
    for (int i = 0; i < 200; ++i)
        message += char('a' + i % 26);
    EXPECT_EQ(std::string(UploadError::http(500, message).what()), "HTTP 500 " + message.substr(0, 80));

    const std::string exactly80(80, 'x');
    EXPECT_EQ(std::string(UploadError::http(502, exactly80).what()), "HTTP 502 " + exactly80);
}

TEST(UploadError, CutCountsCharactersNotBytes)
{
    // 200 two-byte characters: the cut keeps 80 of them (160 bytes), never half a sequence.
    std::string message;
    for (int i = 0; i < 200; ++i)
        message += "ñ";
    std::string expected = "HTTP 400 ";
    for (int i = 0; i < 80; ++i)
        expected += "ñ";
    EXPECT_EQ(std::string(UploadError::http(400, message).what()), expected);

    // A letter with a combining accent counts as one character.
    std::string combined;
    for (int i = 0; i < 100; ++i)
        combined += "e\xCC\x81";
    std::string combinedExpected = "HTTP 400 ";
    for (int i = 0; i < 80; ++i)
        combinedExpected += "e\xCC\x81";
    EXPECT_EQ(std::string(UploadError::http(400, combined).what()), combinedExpected);
}

TEST(UploadError, StoreErrorDocumentsAreShownByCodeAndMessageOnOneLine)
{
    const std::pair<std::string, const char*> cases[] = {
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Error>\n\t<Code>SlowDown</Code></Error>", "HTTP 503 SlowDown"},
        {"<?xml version=\"1.0\"?>\n<Error><Code>InternalError</Code>\n<Message>We encountered\nan internal error."
         "</Message><RequestId>4442587FB7D0A2F9</RequestId></Error>",
         "HTTP 503 InternalError: We encountered an internal error."},
        // Not a store document: its start as it came, on one line.
        {"<html>\n<body>Bad gateway</body></html>", "HTTP 503 <html> <body>Bad gateway</body></html>"},
    };
    for (const auto& [body, text] : cases)
        EXPECT_STREQ(UploadError::http(503, body).what(), text);
}
