// Answers of a broken or hostile service and object store: each one ends the file in error with a
// message that says what happened, within the call deadline, and reaches the report as one line.
#include "support/transfer_fixture.h"

namespace zafrel::test {
namespace {

using HostileReplies = TransferTest;

// Answers `reply` to requests of `path`, everything else as the script has it.
auto answerAt(const char* path, FakeReply reply)
{
    return [path, reply](const SeenRequest& req) { return req.path == path ? std::optional(reply) : std::nullopt; };
}

TEST_F(HostileReplies, EachEndsTheFileInAClearErrorOnOneReportLine)
{
    const std::string tooLarge = "La respuesta de service.test era demasiado grande y se cortó";
    const std::string unexpected = "Respuesta inesperada del servidor";
    struct Case {
        const char* what;
        std::function<void(FakeUploadService&)> arm;
        // The start of the item's line in the report; empty for a service that never answers in
        // time, which pauses the file (and the run) after its retries instead of failing it.
        std::string error;
        bool storeReached;
    };
    const auto initAnswer = [](FakeUploadService& s, const char* member, const char* value) {
        s.onInit = [&s, member, value](const nlohmann::json& body) {
            nlohmann::json answer = s.defaultInit(body);
            answer[member] = value;
            return answer;
        };
    };
    const Case cases[] = {
        {"listing without end", [](FakeUploadService& s) { s.intercept = answerAt("/api/ls", FakeReply::endless()); },
         tooLarge, false},
        {"upload start that never answers in time",
         [](FakeUploadService& s) { s.intercept = answerAt("/api/upload/init", FakeReply::failed(CURLE_OPERATION_TIMEDOUT)); },
         "", false},
        {"store answer of 2 MiB",
         [](FakeUploadService& s) {
             s.onPut = [](const FakeUploadService::Put&) {
                 return std::optional(FakeUploadService::PutReply{200, std::string(2 << 20, 'x'), "\"e\""});
             };
         },
         tooLarge, true},
        {"line break in the content type",
         [&](FakeUploadService& s) { initAnswer(s, "contentType", "video/mxf\r\nX-Injected: yes"); }, unexpected, false},
        {"ftp URL", [&](FakeUploadService& s) { initAnswer(s, "url", "ftp://service.test/Dia1/clip.bin"); }, unexpected,
         false},
        {"control characters in an error",
         [](FakeUploadService& s) {
             s.intercept = answerAt("/api/upload/init",
                                    FakeReply::status(500, R"({"error":"roto\u001b]0;pwn\u0007\nOK verificado\t1\tDia1/x.bin"})"));
         },
         "Servidor: 500 roto ]0;pwn OK verificado 1 Dia1/x.bin", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server.intercept = {};
        server.onPut = {};
        server.onInit = {};
        c.arm(server);
        const size_t putsBefore = server.puts().size();
        const ItemPtr item = makeItem(makeFile("clip.bin", 10));
        runUpload(item);

        EXPECT_EQ(item->status(), c.error.empty() ? Status::Paused : Status::Error);
        manager->setItems({item});
        const QStringList lines = manager->report().split(u'\n');
        ASSERT_EQ(lines.size(), 6) << manager->report().toStdString();
        const std::string start = c.error.empty() ? "paused\t" : "ERROR " + c.error;
        EXPECT_TRUE(lines[3].startsWith(QString::fromStdString(start))) << lines[3].toStdString();
        EXPECT_TRUE(lines[3].endsWith("\t10\tDia1/clip.bin")) << lines[3].toStdString();
        EXPECT_EQ(lines[3].count(u'\t'), 2);
        EXPECT_FALSE(lines[3].contains(QChar(0x1b)));
        EXPECT_EQ(server.puts().size() > putsBefore, c.storeReached);
    }
}

}  // namespace
}  // namespace zafrel::test
