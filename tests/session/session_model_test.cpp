// The desktop session on the in-process network: the check at start, the messages of a refused
// sign-in, and a model that goes away while the service has not answered. A sign-in that succeeds is
// seen from the login screen (tests/ui).
#include "session/session_model.h"

#include "platform/retry_schedule.h"
#include "platform/settings.h"
#include "support/async_wait.h"
#include "support/fake_upload_service.h"

#include <gtest/gtest.h>

namespace zafrel::test {
namespace {

using namespace std::chrono_literals;

const FakeReply kUser = jsonReply({{"email", "ana@empresa.test"}, {"name", "Ana"}, {"is_admin", false}, {"bucket", "b"}});
FakeReply refusal(int status) { return jsonReply({{"error", "mensaje del servicio"}}, status); }

class SessionModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings::setValue("serverURL", "http://service.test");
        settings::setValue("email", "");
        net->answer("GET", "/api/me", refusal(401));
    }
    std::shared_ptr<FakeNetwork> net = FakeNetwork::create();
    ZafrelAPI api{net->session()};
};

TEST_F(SessionModelTest, TheCheckAtStartSignsInOnlyWithAValidAnswerSaysNothingAndOutlivesItsModel)
{
    for (const auto& [reply, signedIn] : {std::pair(kUser, true), {refusal(401), false}, {refusal(500), false},
                                          {jsonReply({{"email", "x"}}), false}}) {
        net->answer("GET", "/api/me", reply);
        SessionModel model(api);
        EXPECT_TRUE(model.checking());   // whoever created the model sees the waiting state first
        ASSERT_TRUE(runUntil([&] { return !model.checking(); }));
        EXPECT_EQ(model.user().has_value(), signedIn) << reply.response.status;
        EXPECT_FALSE(model.error().has_value());
    }
    Gate answered;   // a model gone before the answer comes is not touched by it
    net->answer("GET", "/api/me", held(kUser, answered));
    auto gone = std::make_unique<SessionModel>(api);
    ASSERT_TRUE(runUntil([&] { return answered.waiting() == 1; }));
    gone.reset();
    answered.open();
    ASSERT_TRUE(runUntil([&] { return answered.waiting() == 0; }));
}

// An unreachable service keeps the session: the check is repeated on its schedule until the
// service answers (at once when asked: the window's "Reintentar ahora", in tests/ui).
TEST_F(SessionModelTest, AnUnreachableServiceKeepsTheCheckGoingUntilItAnswers)
{
    const std::chrono::seconds waits[] = {1s, 3s, 6s, 12s, 30s, 30s};
    for (int failed = 0; failed < 6; ++failed)
        EXPECT_EQ(sessionCheckWait(failed), waits[failed]) << failed;

    retry::setWaitScaleForTests(0.001);
    for (const FakeReply& down : {FakeReply::failed(CURLE_COULDNT_CONNECT), refusal(503), refusal(502)}) {
        net->answer("GET", "/api/me", down);
        const size_t before = net->seen("GET", "/api/me").size();
        SessionModel model(api);
        ASSERT_TRUE(runUntil([&] { return net->seen("GET", "/api/me").size() >= before + 6; }));
        EXPECT_TRUE(model.checking() && model.offline() && !model.user() && !model.error());
        net->answer("GET", "/api/me", kUser);
        ASSERT_TRUE(runUntil([&] { return !model.checking(); }));
        EXPECT_TRUE(model.user() && !model.offline());
    }
    retry::setWaitScaleForTests(1.0);
}

TEST_F(SessionModelTest, EachRefusedSignInHasItsMessageAndTheEmailIsNotRemembered)
{
    const std::pair<FakeReply, QString> cases[] = {
        {refusal(401), "Email o contraseña incorrectos"},
        {refusal(429), "Demasiados intentos. Espera unos minutos."},
        {refusal(500), "No se pudo conectar: Servidor: 500 mensaje del servicio"},
        {FakeReply::status(200, "not json"), "No se pudo conectar: Respuesta inesperada del servidor"},
        // Said in Spanish, with what to do; libcurl's own words only in the detail.
        {FakeReply::failed(CURLE_COULDNT_CONNECT), "No se pudo conectar con service.test. Comprueba la conexión y vuelve a intentarlo."},
    };
    SessionModel model(api);
    ASSERT_TRUE(runUntil([&] { return !model.checking(); }));
    for (const auto& [reply, message] : cases) {
        net->answer("POST", "/api/login", reply);
        ASSERT_TRUE(awaitTask(model.login("ana@empresa.test", "secreto")).ended);
        EXPECT_EQ(model.error().value_or("none"), message);
        EXPECT_EQ(model.errorDetail().isEmpty(), reply.failureCode == CURLE_OK) << message.toStdString();
        EXPECT_FALSE(model.user().has_value());
        EXPECT_EQ(settings::value("email").value_or("absent"), "");
    }
}

}  // namespace
}  // namespace zafrel::test
