// The service client against scripted servers on 127.0.0.1: URLs, headers, bodies, status
// handling and the endpoints' own rules.
#include "client/zafrel_api.h"
#include "platform/build_config.h"
#include "platform/errors.h"
#include "platform/retry_schedule.h"
#include "platform/settings.h"
#include "support/async_wait.h"
#include "support/scripted_server.h"

#include <QSettings>
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>
#include <memory>
#include <stop_token>

using namespace zafrel;
using test::awaitTask;
using test::ScriptedServer;

namespace {

const std::string userJson =
    R"({"email":"ana@demo.test","name":"Ana","is_admin":false,"company":{"slug":"demo-films","name":"Demo Films"},"bucket":"zafrel-demo"})";

void pointAt(const std::string& origin)
{
    settings::setValue("serverURL", QString::fromStdString(origin));
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
        pointAt(server.origin());
        // The calls of a run that retry wait 1/1000 of their real time.
        retry::setWaitScaleForTests(0.001);
    }
    void TearDown() override { retry::setWaitScaleForTests(1.0); }

    ScriptedServer server;
    // Its own session without cookies; declared after the server so that it stops first.
    ZafrelAPI api{std::make_unique<HttpSession>(HttpSession::Config{})};
};

}  // namespace

TEST_F(ZafrelAPITest, OriginWithPathPrefixGetsExactlyOneSlashWithOrWithoutTrailingSlash)
{
    server.on("GET", "/zafrel/api/me", {200, userJson});
    for (std::string suffix : {"/zafrel", "/zafrel/"}) {
        pointAt(server.origin() + suffix);
        EXPECT_EQ(awaitTask(api.me()).get().email, "ana@demo.test") << suffix;
    }
    auto all = server.received();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].target, "/zafrel/api/me");
    EXPECT_EQ(all[1].target, "/zafrel/api/me");
}

TEST_F(ZafrelAPITest, OriginIsReadAgainForEveryRequest)
{
    ScriptedServer other;
    server.on("GET", "/api/me", {200, userJson});
    other.on("GET", "/api/me", {200, userJson});
    awaitTask(api.me()).get();
    pointAt(other.origin());
    EXPECT_EQ(api.baseURL(), QUrl(QString::fromStdString(other.origin())));
    awaitTask(api.me()).get();
    EXPECT_EQ(server.received().size(), 1u);
    EXPECT_EQ(other.received().size(), 1u);
}

TEST(ZafrelAPIOrigin, DefaultOriginWhenNothingIsStoredAndStoredTextIsNotAltered)
{
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Zafrel", "Zafrel").remove("serverURL");
    ZafrelAPI api{std::make_unique<HttpSession>(HttpSession::Config{})};
    EXPECT_EQ(api.baseURL(), QUrl(QString::fromUtf8(build::defaultServer)));
    pointAt("http://127.0.0.1:1/prefix/");
    EXPECT_EQ(api.baseURL().toString(), "http://127.0.0.1:1/prefix/");
}

TEST(ZafrelAPIOrigin, UnusableOriginFailsEachCallWithATransportErrorAndAbortStillReturns)
{
    ZafrelAPI api{std::make_unique<HttpSession>(HttpSession::Config{})};
    for (std::string origin : {"", "zafrel.test", "http://exa mple.com"}) {
        pointAt(origin);
        try {
            awaitTask(api.me()).get();
            ADD_FAILURE() << origin;
        } catch (const TransportError& e) {
            EXPECT_EQ(std::string(e.what()), "Dirección del servidor no válida: \"" + origin + "\"");
        }
        EXPECT_THROW(awaitTask(api.ls("a/")).get(), TransportError);
        EXPECT_NO_THROW(awaitTask(api.abort("k", "u")).get());
        EXPECT_NO_THROW(awaitTask(api.uploadDone()).get());
    }
}

TEST_F(ZafrelAPITest, QueryValuesArriveUnchangedAfterDecoding)
{
    const std::string path = "Rodaje/Día 1/A&B=C+D %2F ü/";
    server.on("GET", "/api/ls", {200, R"({"path":"x","folders":[],"files":[]})"});
    awaitTask(api.ls(path)).get();
    auto ls = server.only("GET", "/api/ls");
    EXPECT_EQ(ls.param("path"), path);
    EXPECT_EQ(ls.params.size(), 1u);
    EXPECT_EQ(ls.target.find(' '), std::string::npos);

    server.on("GET", "/api/upload/urls", {200, R"({"urls":{}})"});
    awaitTask(api.partURLs("Día 1/a+b c.mov", "up/load=id&x", 101, 200, false)).get();
    auto urls = server.only("GET", "/api/upload/urls");
    EXPECT_EQ(urls.param("key"), "Día 1/a+b c.mov");
    EXPECT_EQ(urls.param("uploadId"), "up/load=id&x");
    EXPECT_EQ(urls.param("first"), "101");
    EXPECT_EQ(urls.param("last"), "200");
    EXPECT_EQ(urls.param("accelerate"), "0");
    EXPECT_EQ(urls.params.size(), 5u);

    awaitTask(api.partURLs("k", "u", 1, 1, true)).get();
    EXPECT_EQ(server.received("GET", "/api/upload/urls").back().param("accelerate"), "1");
}

TEST_F(ZafrelAPITest, RequestsWithoutQueryHaveNoQuestionMark)
{
    server.on("GET", "/api/me", {200, userJson});
    awaitTask(api.me()).get();
    EXPECT_EQ(server.only("GET", "/api/me").target, "/api/me");
}

TEST_F(ZafrelAPITest, GetCarriesJsonContentTypeAndNoBody)
{
    server.on("GET", "/api/me", {200, userJson});
    server.on("GET", "/api/ls", {200, R"({"path":"","folders":[],"files":[]})"});
    awaitTask(api.me()).get();
    awaitTask(api.ls("")).get();
    for (const auto& r : server.received()) {
        EXPECT_EQ(r.method, "GET");
        EXPECT_EQ(r.header("Content-Type"), "application/json") << r.path;
        EXPECT_TRUE(r.body.empty()) << r.path;
        EXPECT_EQ(r.header("Content-Length").value_or("0"), "0") << r.path;
    }
}

TEST_F(ZafrelAPITest, PostBodiesAreCompactJsonWithMembersInTheirOrder)
{
    server.on("POST", "/api/login", {200, R"({"ok":true})"});
    server.on("GET", "/api/me", {200, userJson});
    server.on("POST", "/api/mkdir", {200, "{}"});
    server.on("POST", "/api/upload/init", {200, R"({"mode":"single","key":"k","url":"https://s3.test/k"})"});
    server.on("POST", "/api/upload/complete", {200, "{}"});
    server.on("POST", "/api/upload/abort", {200, R"({"ok":true})"});
    server.on("POST", "/api/upload/done", {200, R"({"ok":true})"});
    server.on("POST", "/api/logout", {200, R"({"ok":true})"});

    awaitTask(api.login("ana@demo.test", "p\"ss wörd/")).get();
    awaitTask(api.mkdir("Rodaje/Día 1/", "Cámara B")).get();
    awaitTask(api.initUpload(InitBody{"Rodaje/", "A001.mov", 9007199254740993LL, "video/quicktime", false})).get();
    awaitTask(api.complete("Rodaje/A001.mov", "u-1", {{1, "\"abc\""}, {2, "def"}})).get();
    awaitTask(api.abort("Rodaje/A001.mov", "u-1")).get();
    awaitTask(api.uploadDone()).get();
    awaitTask(api.logout()).get();

    EXPECT_EQ(server.only("POST", "/api/login").body, R"({"email":"ana@demo.test","password":"p\"ss wörd/"})");
    EXPECT_EQ(server.only("POST", "/api/mkdir").body, R"({"path":"Rodaje/Día 1/","name":"Cámara B"})");
    EXPECT_EQ(server.only("POST", "/api/upload/init").body,
              R"({"path":"Rodaje/","name":"A001.mov","size":9007199254740993,"type":"video/quicktime","accelerate":false})");
    EXPECT_EQ(server.only("POST", "/api/upload/complete").body,
              R"({"key":"Rodaje/A001.mov","uploadId":"u-1","parts":[{"PartNumber":1,"ETag":"\"abc\""},{"PartNumber":2,"ETag":"def"}]})");
    EXPECT_EQ(server.only("POST", "/api/upload/abort").body, R"({"key":"Rodaje/A001.mov","uploadId":"u-1"})");
    EXPECT_EQ(server.only("POST", "/api/upload/done").body, "");
    EXPECT_EQ(server.only("POST", "/api/logout").body, "");
    for (const auto& r : server.received()) {
        EXPECT_EQ(r.header("Content-Type"), "application/json") << r.path;
        EXPECT_EQ(r.target.find('?'), std::string::npos) << r.path;
    }
}

TEST_F(ZafrelAPITest, Status401IsAuthWhateverTheBody)
{
    server.on("GET", "/api/me", {401, R"({"error":"No autorizado"})"});
    auto error = apiErrorOf(api.me());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), APIError::Kind::Auth);
    EXPECT_STREQ(error->what(), "Sesión caducada. Vuelve a entrar.");
}

TEST_F(ZafrelAPITest, FailureStatusCarriesTheServiceMessage)
{
    server.on("GET", "/api/ls", {500, R"({"error":"Fallo interno"})"});
    auto error = apiErrorOf(api.ls("x/"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), APIError::Kind::Http);
    EXPECT_EQ(error->code(), 500);
    EXPECT_EQ(error->message(), "Fallo interno");
    EXPECT_STREQ(error->what(), "Servidor: 500 Fallo interno");
}

TEST_F(ZafrelAPITest, FailureStatusWithoutAnAllStringObjectHasAnEmptyMessage)
{
    struct Case { int status; std::string body; };
    for (const Case& c : {Case{404, R"({"error":"No existe","code":404})"}, Case{404, ""}, Case{502, "<html>Bad gateway</html>"},
                          Case{500, R"(["error"])"}, Case{503, R"({"error":null})"}, Case{409, R"({"detail":"x"})"}}) {
        server.on("POST", "/api/mkdir", {c.status, c.body});
        auto error = apiErrorOf(api.mkdir("a/", "b"));
        ASSERT_TRUE(error) << c.body;
        EXPECT_EQ(error->kind(), APIError::Kind::Http) << c.body;
        EXPECT_EQ(error->code(), c.status);
        EXPECT_EQ(error->message(), "") << c.body;
        EXPECT_EQ(std::string(error->what()), "Servidor: " + std::to_string(c.status) + " ") << c.body;
    }
}

TEST_F(ZafrelAPITest, SuccessWithoutTheExpectedObjectIsDecode)
{
    server.on("GET", "/api/me", {204, ""});
    server.on("POST", "/api/mkdir", {200, "[]"});
    server.on("POST", "/api/upload/complete", {200, ""});
    server.on("POST", "/api/upload/init", {201, R"({"mode":"multipart","key":"k","partSize":"33554432"})"});
    server.on("GET", "/api/ls", {200, R"({"path":"a/","folders":[],"files":[{"name":"f","path":"a/f","size":1.5,"modified":0}]})"});
    auto me = apiErrorOf(api.me());
    auto mkdir = apiErrorOf(api.mkdir("a/", "b"));
    auto complete = apiErrorOf(api.complete("k", "u", {{1, "e"}}));
    auto init = apiErrorOf(api.initUpload(InitBody{"a/", "b", 40000000, "video/mp4", false}));
    auto ls = apiErrorOf(api.ls("a/"));
    for (const auto& error : {me, mkdir, complete, init, ls}) {
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), APIError::Kind::Decode);
        EXPECT_STREQ(error->what(), "Respuesta inesperada del servidor");
    }
}

TEST_F(ZafrelAPITest, LoginFailuresStopBeforeTheSessionCheck)
{
    server.on("GET", "/api/me", {200, userJson});
    server.on("POST", "/api/login", {401, R"({"error":"Credenciales incorrectas"})"});
    auto wrongPassword = apiErrorOf(api.login("ana@demo.test", "mal"));
    ASSERT_TRUE(wrongPassword);
    EXPECT_EQ(wrongPassword->kind(), APIError::Kind::Auth);

    server.on("POST", "/api/login", {429, R"({"error":"Demasiados intentos"})"});
    auto tooMany = apiErrorOf(api.login("ana@demo.test", "mal"));
    ASSERT_TRUE(tooMany);
    EXPECT_EQ(tooMany->kind(), APIError::Kind::Http);
    EXPECT_EQ(tooMany->code(), 429);
    EXPECT_EQ(tooMany->diagnostic(), R"(http(429, "Demasiados intentos"))");

    server.on("POST", "/api/login", {200, R"("ok")"});
    auto notAnObject = apiErrorOf(api.login("ana@demo.test", "bien"));
    ASSERT_TRUE(notAnObject);
    EXPECT_EQ(notAnObject->kind(), APIError::Kind::Decode);

    EXPECT_TRUE(server.received("GET", "/api/me").empty());
}

TEST_F(ZafrelAPITest, LoginReturnsTheUserOfTheSessionCheck)
{
    server.on("POST", "/api/login", {200, R"({"anything":[1,{"a":null}]})"});
    server.on("GET", "/api/me", {200, userJson});
    User user = awaitTask(api.login("ana@demo.test", "bien")).get();
    EXPECT_EQ(user.company, (Company{"demo-films", "Demo Films"}));
    auto all = server.received();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].path, "/api/login");
    EXPECT_EQ(all[1].path, "/api/me");
}

TEST(ZafrelAPISharedClient, SessionCookieFromLoginIsSentWithLaterRequests)
{
    ScriptedServer server;
    pointAt(server.origin());
    server.on("POST", "/api/login", {200, R"({"ok":true})", {{"Set-Cookie", "zafrel_session=s3cr3t; Path=/; HttpOnly"}}});
    server.on("GET", "/api/me", {200, userJson});
    ZafrelAPI& api = ZafrelAPI::shared();
    EXPECT_EQ(&api, &ZafrelAPI::shared());
    awaitTask(api.login("ana@demo.test", "bien")).get();
    awaitTask(api.me()).get();
    auto checks = server.received("GET", "/api/me");
    ASSERT_EQ(checks.size(), 2u);
    for (const auto& check : checks)
        EXPECT_NE(check.header("Cookie").value_or("").find("zafrel_session=s3cr3t"), std::string::npos);
}

TEST_F(ZafrelAPITest, InitUploadDecodesOptionalMembersAndKeepsPrecision)
{
    server.on("POST", "/api/upload/init", {200, R"({"mode":"single","key":"R/a.mov"})"});
    EXPECT_EQ(awaitTask(api.initUpload(InitBody{"R/", "a.mov", 1, "video/quicktime", true})).get(), (UploadInit{"single", "R/a.mov"}));
    EXPECT_NE(server.only("POST", "/api/upload/init").body.find(R"("accelerate":true)"), std::string::npos);

    server.on("POST", "/api/upload/init",
              {200, R"({"mode":"multipart","key":"k","uploadId":"u","partSize":9007199254740993,"parts":2,"contentType":"video/mp4","url":null})"});
    UploadInit init = awaitTask(api.initUpload(InitBody{"R/", "a.mov", 1, "video/quicktime", true})).get();
    EXPECT_EQ(init.partSize, 9007199254740993LL);
    EXPECT_EQ(init.parts, 2);
    EXPECT_EQ(init.uploadId, "u");
    EXPECT_FALSE(init.url);
}

TEST_F(ZafrelAPITest, PartURLsKeepsOnlyNumberedURLs)
{
    server.on("GET", "/api/upload/urls",
              {200, R"({"urls":{"1":"https://s3.test/b/k?partNumber=1","2":"https://s3.test/b/k?partNumber=2","x":"https://s3.test/x"}})"});
    auto urls = awaitTask(api.partURLs("k", "u", 1, 3, true)).get();
    EXPECT_EQ(urls, (std::map<int64_t, std::string>{{1, "https://s3.test/b/k?partNumber=1"}, {2, "https://s3.test/b/k?partNumber=2"}}));
}

TEST_F(ZafrelAPITest, AbortAndUploadDoneSwallowEveryServiceFailure)
{
    for (ScriptedServer::Reply reply : {ScriptedServer::Reply{500, R"({"error":"x"})"}, ScriptedServer::Reply{401, ""},
                                        ScriptedServer::Reply{200, "not json"}, ScriptedServer::Reply{200, R"({"ok":"yes"})"}}) {
        server.on("POST", "/api/upload/abort", reply);
        server.on("POST", "/api/upload/done", reply);
        EXPECT_NO_THROW(awaitTask(api.abort("k", "u")).get());
        EXPECT_NO_THROW(awaitTask(api.uploadDone()).get());
    }
    // The abort tries a 500 five times, the end-of-run courtesy once.
    EXPECT_EQ(server.received().size(), 12u);
}

// Answers `replies` in turn, then the last one again.
std::function<ScriptedServer::Reply(const ScriptedServer::Received&)> inTurn(std::vector<ScriptedServer::Reply> replies)
{
    auto next = std::make_shared<std::atomic<size_t>>(0);
    return [replies, next](const ScriptedServer::Received&) { return replies[std::min(next->fetch_add(1), replies.size() - 1)]; };
}

// The calls of a run ride out failures that may pass (5xx, 429) on the schedule of five attempts;
// calls a person waits for, and answers that will not change, are not repeated.
TEST_F(ZafrelAPITest, RunCallsRetryWhatMayPassAndNothingElse)
{
    using Reply = ScriptedServer::Reply;
    const Reply ok{200, R"({"path":"a/","folders":[],"files":[]})"};
    const Reply busy{503, R"({"error":"Ocupado"})"};
    struct Case {
        std::string name;
        ZafrelAPI::Retries retries;
        std::vector<Reply> replies;
        size_t attempts;
        int failure;   // 0: success
        bool retried;
    };
    const Case cases[] = {
        {"two 503, then an answer", ZafrelAPI::Retries::Transient, {busy, busy, ok}, 3, 0, false},
        {"always 500", ZafrelAPI::Retries::Transient, {{500, "{}"}}, 5, 500, true},
        {"429, then an answer", ZafrelAPI::Retries::Transient, {{429, "{}", {{"Retry-After", "1"}}}, ok}, 2, 0, false},
        {"429 asking for more than a minute", ZafrelAPI::Retries::Transient, {{429, "{}", {{"Retry-After", "120"}}}, ok}, 1, 429, false},
        {"503, then 404", ZafrelAPI::Retries::Transient, {busy, {404, "{}"}}, 2, 404, true},
        {"404", ZafrelAPI::Retries::Transient, {{404, "{}"}, ok}, 1, 404, false},
        {"401", ZafrelAPI::Retries::Transient, {{401, "{}"}, ok}, 1, 401, false},
        {"503 while a person waits", ZafrelAPI::Retries::None, {busy, ok}, 1, 503, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer fresh;
        pointAt(fresh.origin());
        fresh.on("GET", "/api/ls", inTurn(c.replies));
        std::optional<APIError> error;
        try {
            awaitTask(api.ls("a/", {}, c.retries)).get();
        } catch (const APIError& e) {
            error = e;
        }
        EXPECT_EQ(fresh.received().size(), c.attempts);
        ASSERT_EQ(error.has_value(), c.failure != 0);
        if (error) {
            EXPECT_EQ(error->kind() == APIError::Kind::Auth ? 401 : error->code(), c.failure);
            EXPECT_EQ(error->retried(), c.retried);
        }
    }
    // Calls whose failure a person waits for are tried once.
    pointAt(server.origin());
    server.on("POST", "/api/login", busy);
    server.on("GET", "/api/me", busy);
    EXPECT_THROW(awaitTask(api.login("a@b.c", "x")).get(), APIError);
    EXPECT_THROW(awaitTask(api.me()).get(), APIError);
    EXPECT_EQ(server.received().size(), 2u);
}

// A "Retry-After" longer than the schedule's wait is waited in full (the schedule's 1 s would be
// too early here).
TEST_F(ZafrelAPITest, TheWaitAServiceAsksForIsHonoured)
{
    retry::setWaitScaleForTests(1.0);
    server.on("POST", "/api/upload/init",
              inTurn({{429, "{}", {{"Retry-After", "2"}}}, {200, R"({"mode":"single","key":"k","url":"https://s/u"})"}}));
    QElapsedTimer clock;
    clock.start();
    awaitTask(api.initUpload(InitBody{"a/", "b", 1, "video/mp4", false}), std::chrono::seconds(10)).get();
    EXPECT_GE(clock.nsecsElapsed(), 2'000'000'000);
    EXPECT_EQ(server.received().size(), 2u);
}

TEST(ZafrelAPIUnreachable, AbortAndUploadDoneReturnNormallyLogoutReportsTheTransportFailure)
{
    retry::setWaitScaleForTests(0.001);   // the abort rides out what it takes for an outage
    test::RawPort refusing(false);
    pointAt(refusing.origin());
    ZafrelAPI api{std::make_unique<HttpSession>(HttpSession::Config{})};
    EXPECT_NO_THROW(awaitTask(api.abort("k", "u")).get());
    EXPECT_NO_THROW(awaitTask(api.uploadDone()).get());
    EXPECT_THROW(awaitTask(api.logout()).get(), TransportError);
    EXPECT_THROW(awaitTask(api.me()).get(), TransportError);
    retry::setWaitScaleForTests(1.0);
}

TEST_F(ZafrelAPITest, LogoutAcceptsNullOrBooleanObjects)
{
    server.on("POST", "/api/logout", {200, "null"});
    EXPECT_NO_THROW(awaitTask(api.logout()).get());
    server.on("POST", "/api/logout", {200, R"({"ok":true})"});
    EXPECT_NO_THROW(awaitTask(api.logout()).get());
    server.on("POST", "/api/logout", {500, R"({"error":"x"})"});
    EXPECT_THROW(awaitTask(api.logout()).get(), APIError);
}

TEST_F(ZafrelAPITest, StoppedRequestEndsWithCancelledPromptly)
{
    server.on("GET", "/api/ls", {200, R"({"path":"","folders":[],"files":[]})", {}, std::chrono::seconds(20)});
    std::stop_source stop;
    auto task = api.ls("slow/", stop.get_token());
    ASSERT_TRUE(test::runUntil([&] { return !server.received("GET", "/api/ls").empty(); }));
    stop.request_stop();
    EXPECT_THROW(awaitTask(std::move(task), std::chrono::seconds(10)).get(), Cancelled);
}
