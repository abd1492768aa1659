// The service client on the in-process network: what it sends, what answers become, what it retries.
#include "client/zafrel_api.h"
#include "platform/errors.h"
#include "platform/retry_schedule.h"
#include "platform/settings.h"
#include "support/async_wait.h"
#include "support/fake_network.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <memory>
#include <stop_token>

namespace zafrel::test {
namespace {

const std::string userJson =
    R"({"email":"ana@demo.test","name":"Ana","is_admin":false,"company":{"slug":"demo-films","name":"Demo Films"},"bucket":"zafrel-demo"})";

// Answers `replies` in turn, then the last one again.
FakeNetwork::Handler inTurn(std::vector<FakeReply> replies)
{
    auto next = std::make_shared<size_t>(0);
    return [replies, next](const SeenRequest&) { return replies[std::min((*next)++, replies.size() - 1)]; };
}

FakeReply tooMany(std::string seconds)
{
    FakeReply reply = FakeReply::status(429, "{}");
    reply.response.headers.emplace_back("Retry-After", std::move(seconds));
    return reply;
}

template<class T>
std::optional<APIError> apiErrorOf(QCoro::Task<T> task)
{
    try {
        awaitTask(std::move(task)).get();
    } catch (const APIError& e) {
        return e;
    }
    ADD_FAILURE() << "no APIError";
    return std::nullopt;
}

class ZafrelAPITest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings::setValue("serverURL", "http://service.test");
        // The calls of a run that retry wait 1/1000 of their real time.
        retry::setWaitScaleForTests(0.001);
    }
    void TearDown() override { retry::setWaitScaleForTests(1.0); }

    SeenRequest only(const std::string& method, const std::string& path) const
    {
        const std::vector<SeenRequest> seen = net->seen(method, path);
        EXPECT_EQ(seen.size(), 1u) << method << " " << path;
        return seen.empty() ? SeenRequest{} : seen.back();
    }

    std::shared_ptr<FakeNetwork> net = FakeNetwork::create();
    ZafrelAPI api{net->session()};
};

// The origin is read at every request: a changed one is used at once, without the old path or query.
TEST_F(ZafrelAPITest, RequestsCarryCompactJsonAndEncodedQueriesUnderTheOriginsPath)
{
    settings::setValue("serverURL", "http://service.test/zafrel/");
    net->answer("POST", "/zafrel/api/", FakeReply::status(200, "{}"));
    net->answer("GET", "/zafrel/api/me", FakeReply::status(200, userJson));
    net->answer("POST", "/zafrel/api/upload/init", FakeReply::status(200, R"({"mode":"single","key":"k","url":"https://s3.test/k"})"));
    net->answer("GET", "/zafrel/api/ls", FakeReply::status(200, R"({"path":"x","folders":[],"files":[]})"));
    net->answer("GET", "/zafrel/api/upload/urls", FakeReply::status(200, R"({"urls":{}})"));

    awaitTask(api.login("ana@demo.test", "p\"ss wörd/")).get();
    awaitTask(api.mkdir("Rodaje/Día 1/", "Cámara B")).get();
    awaitTask(api.initUpload(InitBody{"Rodaje/", "A001.mov", 9007199254740993LL, "video/quicktime", false})).get();
    awaitTask(api.complete("Rodaje/A001.mov", "u-1", {{1, "\"abc\""}, {2, "def"}})).get();
    awaitTask(api.abort("Rodaje/A001.mov", "u-1")).get();
    awaitTask(api.uploadDone()).get();
    awaitTask(api.logout()).get();
    awaitTask(api.ls("Rodaje/Día 1/")).get();
    awaitTask(api.partURLs("Día 1/a+b c.mov", "up/load=id&x", 101, 200, false)).get();
    awaitTask(api.partURLs("k", "u", 1, 1, true)).get();

    const std::pair<const char*, const char*> bodies[] = {
        {"/zafrel/api/login", R"({"email":"ana@demo.test","password":"p\"ss wörd/"})"},
        {"/zafrel/api/mkdir", R"({"path":"Rodaje/Día 1/","name":"Cámara B"})"},
        {"/zafrel/api/upload/init",
         R"({"path":"Rodaje/","name":"A001.mov","size":9007199254740993,"type":"video/quicktime","accelerate":false})"},
        {"/zafrel/api/upload/complete",
         R"({"key":"Rodaje/A001.mov","uploadId":"u-1","parts":[{"PartNumber":1,"ETag":"\"abc\""},{"PartNumber":2,"ETag":"def"}]})"},
        {"/zafrel/api/upload/abort", R"({"key":"Rodaje/A001.mov","uploadId":"u-1"})"},
        {"/zafrel/api/upload/done", ""},
        {"/zafrel/api/logout", ""},
    };
    for (const auto& [endpoint, body] : bodies)
        EXPECT_EQ(only("POST", endpoint).body(), body) << endpoint;

    EXPECT_EQ(only("GET", "/zafrel/api/me").request.url, "http://service.test/zafrel/api/me");   // no query, no "?"
    EXPECT_EQ(only("GET", "/zafrel/api/ls").param("path"), "Rodaje/Día 1/");
    using Items = QList<std::pair<QString, QString>>;
    const std::vector<SeenRequest> urls = net->seen("GET", "/zafrel/api/upload/urls");
    ASSERT_EQ(urls.size(), 2u);
    EXPECT_EQ(urls[0].query.queryItems(QUrl::FullyDecoded),
              (Items{{"key", "Día 1/a+b c.mov"}, {"uploadId", "up/load=id&x"}, {"first", "101"}, {"last", "200"}, {"accelerate", "0"}}));
    EXPECT_EQ(urls[1].param("accelerate"), "1");
    const std::pair<std::string, std::string> json{"Content-Type", "application/json"};
    for (const SeenRequest& r : net->log()) {
        EXPECT_NE(std::find(r.request.headers.begin(), r.request.headers.end(), json), r.request.headers.end()) << r.path;
        EXPECT_TRUE(r.request.method != "GET" || r.request.body.isEmpty()) << r.path;
    }

    // An https service still refuses plain URLs; an origin that is none is no request.
    settings::setValue("serverURL", "https://other.test/b?x=1");
    net->answer("GET", "/b/api/me", FakeReply::status(200, userJson));
    net->answer("POST", "/b/api/upload/init", FakeReply::status(200, R"({"mode":"single","key":"k","url":"http://s3.test/k"})"));
    awaitTask(api.me()).get();
    EXPECT_EQ(net->log().back().request.url, "https://other.test/b/api/me");
    EXPECT_THROW(awaitTask(api.initUpload(InitBody{"a/", "b", 1, "video/mp4", false})).get(), APIError);
    EXPECT_EQ(net->log().back().request.url, "https://other.test/b/api/upload/init");
    settings::setValue("serverURL", "ftp://other.test");
    EXPECT_THROW(awaitTask(api.me()).get(), TransportError);
}

TEST_F(ZafrelAPITest, EachStatusAndBodyBecomesItsError)
{
    // The text tells the kind: the session, the service's status with its message, or the answer.
    const std::tuple<int, std::string, std::string> cases[] = {
        {401, R"({"error":"No autorizado"})", "Sesión caducada. Vuelve a entrar."},
        {500, R"({"error":"Fallo interno"})", "Servidor: 500 Fallo interno"},
        // Without an object of strings the message is empty.
        {404, R"({"error":"No existe","code":404})", "Servidor: 404 "},
        {502, "<html>Bad gateway</html>", "Servidor: 502 "},
        {503, R"({"error":null})", "Servidor: 503 "},
        // A success without the object the call expects.
        {200, "[]", "Respuesta inesperada del servidor"},
        {200, R"({"path":"a/","folders":[],"files":[{"name":"f","path":"a/f","size":1.5,"modified":0}]})",
         "Respuesta inesperada del servidor"},
    };
    for (const auto& [status, body, what] : cases) {
        net->answer("GET", "/api/ls", FakeReply::status(status, body));
        const std::optional<APIError> error = apiErrorOf(api.ls("a/"));
        ASSERT_TRUE(error) << body;
        EXPECT_EQ(error->what(), what) << body;
    }
    net->answer("POST", "/api/upload/complete", FakeReply::status(200, ""));
    EXPECT_EQ(apiErrorOf(api.complete("k", "u", {{1, "e"}}))->kind(), APIError::Kind::Decode);
    // An https service that hands out one plain http part URL: the whole answer is refused.
    settings::setValue("serverURL", "https://service.test");
    net->answer("GET", "/api/upload/urls", FakeReply::status(200, R"({"urls":{"1":"https://s.test/1","2":"HTTP://s.test/2"}})"));
    EXPECT_EQ(apiErrorOf(api.partURLs("k", "u", 1, 2, false))->kind(), APIError::Kind::Decode);
}

TEST_F(ZafrelAPITest, SignInChecksTheSessionOnlyAfterTheServiceTookIt)
{
    net->answer("GET", "/api/me", FakeReply::status(200, userJson));
    net->answer("POST", "/api/login", FakeReply::status(401, R"({"error":"Credenciales incorrectas"})"));
    EXPECT_EQ(apiErrorOf(api.login("ana@demo.test", "mal"))->kind(), APIError::Kind::Auth);
    net->answer("POST", "/api/login", FakeReply::status(429, R"({"error":"Demasiados \"intentos\""})"));
    EXPECT_EQ(apiErrorOf(api.login("ana@demo.test", "mal"))->diagnostic(), R"(http(429, "Demasiados \"intentos\""))");
    net->answer("POST", "/api/login", FakeReply::status(200, R"("ok")"));
    EXPECT_EQ(apiErrorOf(api.login("ana@demo.test", "bien"))->kind(), APIError::Kind::Decode);
    EXPECT_TRUE(net->seen("GET", "/api/me").empty());

    net->answer("POST", "/api/login", FakeReply::status(200, R"({"anything":[1,{"a":null}]})"));
    const User user = awaitTask(api.login("ana@demo.test", "bien")).get();
    EXPECT_EQ(user.company, (Company{"demo-films", "Demo Films"}));
    EXPECT_EQ(net->log().back().path, "/api/me");
}

// An abort rides out an outage, the end-of-run courtesy is tried once, a sign-out says what failed.
TEST_F(ZafrelAPITest, AbortAndUploadDoneSwallowEveryFailureLogoutDoesNot)
{
    for (const FakeReply& reply : {FakeReply::status(500, R"({"error":"x"})"), FakeReply::status(401), FakeReply::status(200, "not json"),
                                   FakeReply::status(200, R"({"ok":"yes"})"), FakeReply::failed(CURLE_COULDNT_CONNECT)}) {
        net->answer("POST", "/api/upload/", reply);
        EXPECT_NO_THROW(awaitTask(api.abort("k", "u")).get());
        EXPECT_NO_THROW(awaitTask(api.uploadDone()).get());
    }
    // The abort tries a 500 and a refused connection five times each.
    EXPECT_EQ(net->seen("POST", "/api/upload/abort").size(), 13u);
    EXPECT_EQ(net->seen("POST", "/api/upload/done").size(), 5u);

    // An answer whose content is not used must still be an object, of booleans where it has members.
    const std::pair<const char*, bool> logouts[] = {{"null", true}, {R"({"ok":"yes"})", false}};
    for (const auto& [body, fine] : logouts) {
        net->answer("POST", "/api/logout", FakeReply::status(200, body));
        EXPECT_EQ(awaitTask(api.logout()).threw<APIError>(), !fine) << body;
    }
    net->answer("POST", "/api/logout", FakeReply::status(500, R"({"error":"x"})"));
    EXPECT_THROW(awaitTask(api.logout()).get(), APIError);
    net->answer("POST", "/api/logout", FakeReply::failed(CURLE_COULDNT_CONNECT));
    EXPECT_THROW(awaitTask(api.logout()).get(), TransportError);
}

// The calls of a run ride out failures that may pass (5xx, 429, no answer) up to five attempts.
TEST_F(ZafrelAPITest, RunCallsRetryWhatMayPassAndNothingElse)
{
    const FakeReply ok = FakeReply::status(200, R"({"path":"a/","folders":[],"files":[]})");
    const FakeReply busy = FakeReply::status(503, R"({"error":"Ocupado"})");
    const FakeReply refused = FakeReply::failed(CURLE_COULDNT_CONNECT);
    struct Case {
        std::string name;
        ZafrelAPI::Retries retries;
        std::vector<FakeReply> replies;
        size_t attempts;
        std::string outcome;   // "ok", "no answer", or the status and whether the error says it was retried
    };
    const Case cases[] = {
        {"two 503, then an answer", ZafrelAPI::Retries::Transient, {busy, busy, ok}, 3, "ok"},
        {"always 500", ZafrelAPI::Retries::Transient, {FakeReply::status(500, "{}")}, 5, "500 retried"},
        {"refused, then an answer", ZafrelAPI::Retries::Transient, {refused, ok}, 2, "ok"},
        {"always refused", ZafrelAPI::Retries::Transient, {refused}, 5, "no answer"},
        {"429, then an answer", ZafrelAPI::Retries::Transient, {tooMany("1"), ok}, 2, "ok"},
        {"429 asking for more than a minute", ZafrelAPI::Retries::Transient, {tooMany("120"), ok}, 1, "429"},
        {"503, then 404", ZafrelAPI::Retries::Transient, {busy, FakeReply::status(404, "{}")}, 2, "404 retried"},
        {"404", ZafrelAPI::Retries::Transient, {FakeReply::status(404, "{}"), ok}, 1, "404"},
        {"401", ZafrelAPI::Retries::Transient, {FakeReply::status(401, "{}"), ok}, 1, "401"},
        {"503 while a person waits", ZafrelAPI::Retries::None, {busy, ok}, 1, "503"},
    };
    for (const Case& c : cases) {
        const size_t before = net->seen("GET", "/api/ls").size();
        net->route("GET", "/api/ls", inTurn(c.replies));
        std::string outcome = "ok";
        try {
            awaitTask(api.ls("a/", {}, c.retries)).get();
        } catch (const APIError& error) {
            outcome = std::to_string(error.kind() == APIError::Kind::Auth ? 401 : error.code()) + (error.retried() ? " retried" : "");
        } catch (const TransportError&) {
            outcome = "no answer";
        }
        EXPECT_EQ(outcome, c.outcome) << c.name;
        EXPECT_EQ(net->seen("GET", "/api/ls").size() - before, c.attempts) << c.name;
    }
    // Calls a person waits for are tried once.
    net->answer("POST", "/api/login", busy);
    net->answer("GET", "/api/me", busy);
    EXPECT_THROW(awaitTask(api.login("a@b.c", "x")).get(), APIError);
    EXPECT_THROW(awaitTask(api.me()).get(), APIError);
    EXPECT_EQ(net->seen("POST", "/api/login").size() + net->seen("GET", "/api/me").size(), 2u);
}

// A "Retry-After" (2 s) longer than the schedule's first wait (1 s) is waited in full, scaled.
TEST_F(ZafrelAPITest, TheWaitAServiceAsksForIsHonoured)
{
    retry::setWaitScaleForTests(0.05);
    net->route("POST", "/api/upload/init",
               inTurn({tooMany("2"), FakeReply::status(200, R"({"mode":"single","key":"k","url":"https://s/u"})")}));
    QElapsedTimer clock;
    clock.start();
    awaitTask(api.initUpload(InitBody{"a/", "b", 1, "video/mp4", false})).get();
    EXPECT_GE(clock.elapsed(), 100);
    EXPECT_EQ(net->seen("POST", "/api/upload/init").size(), 2u);
}

TEST_F(ZafrelAPITest, AStoppedRequestEndsWithCancelled)
{
    Gate gate;
    net->answer("GET", "/api/ls", held(FakeReply::status(200, R"({"path":"","folders":[],"files":[]})"), gate));
    std::stop_source stop;
    auto task = api.ls("slow/", stop.get_token());
    ASSERT_TRUE(runUntil([&] { return gate.waiting() == 1; }));
    stop.request_stop();
    EXPECT_THROW(awaitTask(std::move(task)).get(), Cancelled);
}

}  // namespace
}  // namespace zafrel::test
