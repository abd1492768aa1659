// Answers of a broken or hostile service and object store: each one ends the file in error with a
// message that says what happened, within the call deadline, and reaches the report as one line.
#include "support/transfer_fixture.h"

namespace zafrel::test {
namespace {

using namespace std::chrono_literals;

class HostileReplies : public TransferTest {
protected:
    // The service's call deadline: shortened from its real two minutes where a case waits for it,
    // and long where a bound must end the call, so that a slow machine cannot make the deadline win.
    void useDeadline(std::chrono::seconds deadline)
    {
        HttpSession::Config config;
        config.totalTimeout = deadline;
        manager.reset();
        api = std::make_unique<ZafrelAPI>(std::make_unique<HttpSession>(config));
        manager = std::make_unique<UploadManager>(*api);
        manager->accelerate = false;
    }
};

bool answersWith(const httplib::Request& req, const char* path, const std::function<void(httplib::Response&)>& answer,
                 httplib::Response& res)
{
    if (req.path != path)
        return false;
    answer(res);
    return true;
}

TEST_F(HostileReplies, EachEndsTheFileInAClearErrorOnOneReportLine)
{
    const std::string tooLarge = "La respuesta de 127.0.0.1 era demasiado grande y se cortó";
    const std::string unexpected = "Respuesta inesperada del servidor";
    struct Case {
        const char* what;
        std::function<void(TransferTestServer&)> arm;
        std::string error;   // the start of the item's line in the report
        bool storeReached;
        std::chrono::seconds deadline = 120s;
    };
    const auto initAnswer = [](TransferTestServer& s, const char* member, const char* value) {
        s.onInit = [&s, member, value](const nlohmann::json& body) {
            nlohmann::json answer = s.defaultInit(body);
            answer[member] = value;
            return answer;
        };
    };
    const Case cases[] = {
        {"listing without end",
         [](TransferTestServer& s) {
             s.intercept = [](const auto& req, auto& res) {
                 return answersWith(req, "/api/ls", [](auto& r) { streamEndlessly(r, "{", std::string(1 << 20, ' ')); }, res);
             };
         },
         tooLarge, false},
        {"upload start that trickles",
         [](TransferTestServer& s) {
             s.intercept = [](const auto& req, auto& res) {
                 return answersWith(req, "/api/upload/init", [](auto& r) { streamEndlessly(r, "{", " ", 100ms); }, res);
             };
         },
         "Se agotó el tiempo de espera de 127.0.0.1", false, 2s},
        {"store answer of 2 MiB",
         [](TransferTestServer& s) {
             s.onPut = [](const TransferTestServer::Put&) {
                 return std::optional(TransferTestServer::PutReply{200, std::string(2 << 20, 'x'), "\"e\""});
             };
         },
         tooLarge, true},
        {"line break in the content type",
         [&](TransferTestServer& s) { initAnswer(s, "contentType", "video/mxf\r\nX-Injected: yes"); }, unexpected, false},
        {"ftp URL", [&](TransferTestServer& s) { initAnswer(s, "url", "ftp://127.0.0.1/Dia1/clip.bin"); }, unexpected,
         false},
        {"control characters in an error",
         [](TransferTestServer& s) {
             s.intercept = [](const auto& req, auto& res) {
                 return answersWith(req, "/api/upload/init", [](auto& r) {
                     r.status = 500;
                     r.set_content(R"({"error":"roto\u001b]0;pwn\u0007\nOK verificado\t1\tDia1/x.bin"})", "application/json");
                 }, res);
             };
         },
         "Servidor: 500 roto ]0;pwn OK verificado 1 Dia1/x.bin", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        useDeadline(c.deadline);
        server.intercept = {};
        server.onPut = {};
        server.onInit = {};
        c.arm(server);
        const size_t putsBefore = server.puts().size();
        const ItemPtr item = makeItem(makeFile("clip.bin", 10));
        runUpload(item);

        EXPECT_EQ(item->status(), Status::Error);
        manager->setItems({item});
        const QStringList lines = manager->report().split(u'\n');
        ASSERT_EQ(lines.size(), 6) << manager->report().toStdString();
        EXPECT_TRUE(lines[3].startsWith(QString::fromStdString("ERROR " + c.error))) << lines[3].toStdString();
        EXPECT_TRUE(lines[3].endsWith("\t10\tDia1/clip.bin")) << lines[3].toStdString();
        EXPECT_EQ(lines[3].count(u'\t'), 2);
        EXPECT_FALSE(lines[3].contains(QChar(0x1b)));
        EXPECT_EQ(server.puts().size() > putsBefore, c.storeReached);
    }
}

}  // namespace
}  // namespace zafrel::test
