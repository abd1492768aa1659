// The desktop session: the check at start, sign-in with its three messages, the remembered e-mail.
#include "session/session_model.h"

#include "client/zafrel_api.h"
#include "platform/async.h"
#include "platform/settings.h"
#include "support/test_env.h"
#include "support/ui_scripted_service.h"

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>

namespace zafrel {
namespace {

using test::UiScriptedService;

class SessionModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        service.useAsServer();
        settings::setValue("email", "");
    }

    // A client of its own per test, without cookies, so that no session leaks between tests.
    std::unique_ptr<ZafrelAPI> makeApi() { return std::make_unique<ZafrelAPI>(std::make_unique<HttpSession>(HttpSession::Config{})); }

    void signIn(SessionModel& model, const QString& email, const QString& password)
    {
        auto done = std::make_shared<bool>(false);
        QPointer<SessionModel> target(&model);
        spawn([target, email, password, done]() -> QCoro::Task<void> {
            if (target)
                co_await target->login(email, password);
            *done = true;
        });
        ASSERT_TRUE(test::runUntil([done] { return *done; }));
    }

    UiScriptedService service;
};

TEST_F(SessionModelTest, ValidCookieSignsInWithoutMessages)
{
    service.on("GET", "/api/me", {200, UiScriptedService::userJson("ana@empresa.test", "Demo Films", "zafrel-demo")});
    auto api = makeApi();
    SessionModel model(*api);
    int errorSignals = 0;
    QObject::connect(&model, &SessionModel::errorChanged, [&] { ++errorSignals; });

    // The check runs later: whoever created the model sees the waiting state first.
    EXPECT_TRUE(model.checking());
    EXPECT_FALSE(model.user().has_value());
    EXPECT_TRUE(service.received().empty());

    ASSERT_TRUE(test::runUntil([&] { return !model.checking(); }));
    ASSERT_TRUE(model.user().has_value());
    EXPECT_EQ(model.user()->email, "ana@empresa.test");
    ASSERT_TRUE(model.user()->company.has_value());
    EXPECT_EQ(model.user()->company->name, "Demo Films");
    EXPECT_EQ(model.user()->bucket, "zafrel-demo");
    EXPECT_FALSE(model.error().has_value());
    EXPECT_EQ(errorSignals, 0);
    EXPECT_EQ(service.received("GET", "/api/me").size(), 1u);
}

TEST_F(SessionModelTest, FailedCheckLeavesNobodySignedInAndNoMessage)
{
    for (const UiScriptedService::Reply& reply :
         {UiScriptedService::Reply{401, UiScriptedService::errorJson("no session")},
          UiScriptedService::Reply{500, UiScriptedService::errorJson("boom")},
          UiScriptedService::Reply{200, "{\"email\":\"x\"}"}}) {
        service.on("GET", "/api/me", reply);
        auto api = makeApi();
        SessionModel model(*api);
        ASSERT_TRUE(test::runUntil([&] { return !model.checking(); })) << reply.status;
        EXPECT_FALSE(model.user().has_value()) << reply.status;
        EXPECT_FALSE(model.error().has_value()) << reply.status;
    }
}

TEST_F(SessionModelTest, NoServiceAtAllIsASilentSignedOutState)
{
    settings::setValue("serverURL", "http://127.0.0.1:1");
    auto api = makeApi();
    SessionModel model(*api);
    ASSERT_TRUE(test::runUntil([&] { return !model.checking(); }));
    EXPECT_FALSE(model.user().has_value());
    EXPECT_FALSE(model.error().has_value());
}

TEST_F(SessionModelTest, EachRefusedSignInHasItsMessageAndTheEmailIsNotRemembered)
{
    const std::pair<UiScriptedService::Reply, QString> cases[] = {
        {{401, UiScriptedService::errorJson("bad credentials")}, "Email o contraseña incorrectos"},
        {{429, UiScriptedService::errorJson("slow down")}, "Demasiados intentos. Espera unos minutos."},
        {{500, UiScriptedService::errorJson("base de datos caída")}, "No se pudo conectar: Servidor: 500 base de datos caída"},
        {{200, "not json"}, "No se pudo conectar: Respuesta inesperada del servidor"},
    };
    service.on("GET", "/api/me", {401, UiScriptedService::errorJson("no session")});
    for (const auto& [reply, message] : cases) {
        service.on("POST", "/api/login", reply);
        auto api = makeApi();
        SessionModel model(*api);
        ASSERT_TRUE(test::runUntil([&] { return !model.checking(); }));
        signIn(model, "ana@empresa.test", "secreto");
        ASSERT_TRUE(model.error().has_value()) << message.toStdString();
        EXPECT_EQ(*model.error(), message);
        EXPECT_FALSE(model.user().has_value());
        EXPECT_EQ(settings::value("email").value_or("absent"), "");
    }
}

TEST_F(SessionModelTest, TransportFailureIsAConnectionProblem)
{
    auto api = makeApi();
    settings::setValue("serverURL", "http://127.0.0.1:1");
    SessionModel model(*api);
    ASSERT_TRUE(test::runUntil([&] { return !model.checking(); }));
    signIn(model, "ana@empresa.test", "secreto");
    ASSERT_TRUE(model.error().has_value());
    // Said once, in Spanish, with what to do; libcurl's own words only in the detail.
    EXPECT_EQ(*model.error(), "No se pudo conectar con 127.0.0.1. Comprueba la conexión y vuelve a intentarlo.");
    EXPECT_TRUE(model.errorDetail().contains("Failed to connect")) << model.errorDetail().toStdString();
}

TEST_F(SessionModelTest, SuccessRemembersTheEmailExactlyAsTyped)
{
    service.on("GET", "/api/me", {401, UiScriptedService::errorJson("no session")});
    auto api = makeApi();
    SessionModel model(*api);
    ASSERT_TRUE(test::runUntil([&] { return !model.checking(); }));

    // The service spells the account differently from what was typed; blanks are not trimmed.
    service.on("POST", "/api/login", {200, "{\"ok\":true}"});
    service.on("GET", "/api/me", {200, UiScriptedService::userJson("ana@empresa.test", "Demo Films")});
    signIn(model, " Ana@Empresa.TEST", "pass word ");

    ASSERT_TRUE(model.user().has_value());
    EXPECT_EQ(model.user()->email, "ana@empresa.test");
    EXPECT_FALSE(model.error().has_value());
    EXPECT_EQ(settings::value("email").value_or("absent"), " Ana@Empresa.TEST");

    auto logins = service.received("POST", "/api/login");
    ASSERT_EQ(logins.size(), 1u);
    const auto body = nlohmann::json::parse(logins[0].body);
    EXPECT_EQ(body.at("email"), " Ana@Empresa.TEST");
    EXPECT_EQ(body.at("password"), "pass word ");
}

TEST_F(SessionModelTest, NextSignInClearsTheLastMessageFirst)
{
    service.on("GET", "/api/me", {401, UiScriptedService::errorJson("no session")});
    service.on("POST", "/api/login", {401, UiScriptedService::errorJson("bad")});
    auto api = makeApi();
    SessionModel model(*api);
    ASSERT_TRUE(test::runUntil([&] { return !model.checking(); }));
    signIn(model, "ana@empresa.test", "mal");
    ASSERT_TRUE(model.error().has_value());

    // While the second attempt waits for the service, the old message is already gone.
    service.hold("POST", "/api/login");
    service.on("POST", "/api/login", {200, "{}"});
    service.on("GET", "/api/me", {200, UiScriptedService::userJson("ana@empresa.test", std::nullopt)});
    auto done = std::make_shared<bool>(false);
    QPointer<SessionModel> target(&model);
    spawn([target, done]() -> QCoro::Task<void> {
        co_await target->login("ana@empresa.test", "bien");
        *done = true;
    });
    ASSERT_TRUE(test::runUntil([&] { return service.held("POST", "/api/login") == 1; }));
    EXPECT_FALSE(model.error().has_value());
    EXPECT_FALSE(model.user().has_value());
    service.release("POST", "/api/login");
    ASSERT_TRUE(test::runUntil([done] { return *done; }));
    ASSERT_TRUE(model.user().has_value());
    EXPECT_FALSE(model.user()->company.has_value());
    EXPECT_FALSE(model.checking());
}

TEST_F(SessionModelTest, SignOutForgetsTheUser)
{
    service.on("GET", "/api/me", {200, UiScriptedService::userJson("ana@empresa.test", "Demo Films")});
    auto api = makeApi();
    SessionModel model(*api);
    ASSERT_TRUE(test::runUntil([&] { return !model.checking(); }));
    ASSERT_TRUE(model.user().has_value());
    int userSignals = 0;
    QObject::connect(&model, &SessionModel::userChanged, [&] { ++userSignals; });
    model.signOut();
    EXPECT_FALSE(model.user().has_value());
    EXPECT_FALSE(model.checking());
    EXPECT_EQ(userSignals, 1);
}

TEST_F(SessionModelTest, ModelDestroyedDuringTheCheckIsNotTouchedAfterwards)
{
    service.hold("GET", "/api/me");
    service.on("GET", "/api/me", {200, UiScriptedService::userJson("ana@empresa.test", "Demo Films")});
    auto api = makeApi();
    auto model = std::make_unique<SessionModel>(*api);
    ASSERT_TRUE(test::runUntil([&] { return service.held("GET", "/api/me") == 1; }));
    model.reset();
    service.release("GET", "/api/me");
    // The answer arrives for a model that no longer exists; the process must simply go on.
    ASSERT_TRUE(test::runUntil([&] { return service.held("GET", "/api/me") == 0; }));
    test::runUntil([] { return false; }, std::chrono::milliseconds(200));
}

}  // namespace
}  // namespace zafrel
