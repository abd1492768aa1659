// The desktop program from its start: the window, the waiting state, the login screen and its
// messages, signing in and out. A session that ends in the middle of a run is in main_view_test.
#include "platform/build_config.h"
#include "support/desktop_fixture.h"

namespace zafrel::test {
namespace {

// The stored session outlives a service out of reach at start. The login button waits for a character
// in both fields but Return sends anyway; the password's server is named whenever it is not the
// program's own (in red when unencrypted and not this machine).
TEST_F(DesktopTest, AnOutageAtStartKeepsTheSessionThenTheLoginScreen)
{
    retry::setWaitScaleForTests(1000);   // only the button brings the next check within the test
    answer("GET", "/api/me", FakeReply::failed(CURLE_COULDNT_CONNECT));
    launch();
    EXPECT_EQ(root().currentWidget(), root().connectingPage());
    ASSERT_TRUE(runUntil([&] { return root().connectingLabel()->text() == "Sin conexión con el servidor — reintentando"; }));
    EXPECT_EQ(root().currentWidget(), root().connectingPage());
    EXPECT_TRUE(visible(root().checkNowButton()) && root().checkNowButton()->text() == "Reintentar ahora");
    const QString next = root().nextCheckLabel()->text();
    EXPECT_TRUE(next.startsWith("Próximo intento en ") && next.endsWith("\nLa sesión sigue abierta y la cola se conserva."))
        << next.toStdString();
    answer("GET", "/api/me", userReply("Demo Films"));
    root().checkNowButton()->click();
    ASSERT_TRUE(shows(root().mainView()));
    EXPECT_EQ(service.network()->seen("GET", "/api/me").size(), 2u);
    EXPECT_EQ(root().connectingLabel()->text(), "Conectando…");
    retry::setWaitScaleForTests(0.001);
    view().accountMenu()->actions().back()->trigger();
    ASSERT_TRUE(shows(root().loginView()));
    EXPECT_EQ(login().passwordField()->echoMode(), QLineEdit::Password);
    const std::tuple<QString, QString, bool> fields[] = {{"", "", false}, {"a", "", false}, {"a", " ", true}, {"", " ", false}};
    for (const auto& [email, password, enabled] : fields) {
        login().emailField()->setText(email);
        login().passwordField()->setText(password);
        EXPECT_EQ(login().signInButton()->isEnabled(), enabled) << email.toStdString() << "|" << password.toStdString();
    }
    press(login().passwordField(), Qt::Key_Return, "\r");
    ASSERT_TRUE(runUntil([&] { return service.network()->seen("POST", "/api/login").size() == 1; }));

    const std::tuple<QString, QString, bool> servers[] = {
        {QString::fromUtf8(build::defaultServer), "", false},
        {"https://subidas.ejemplo.test", "Servidor: subidas.ejemplo.test", false},
        {"http://127.0.0.1:8080", "Servidor: 127.0.0.1:8080", false},
        {"HTTP://10.0.0.7:8080", "Servidor: 10.0.0.7:8080 · conexión sin cifrar", true},
    };
    for (const auto& [origin, text, red] : servers) {
        settings::setValue("serverURL", origin);
        login().reset();
        EXPECT_EQ(visible(login().serverLabel()) ? seenText(login().serverLabel()) : "", text) << origin.toStdString();
        EXPECT_EQ(ui::textColor(login().serverLabel()) == ui::redColor(), red) << origin.toStdString();
    }
    // "Servidor…" sets the same setting as --server: an address that is none waits, an unencrypted
    // one is warned of in red, an empty field goes back to the program's own service.
    const std::tuple<QString, bool, bool, QString> typed[] = {
        {"subidas productora", false, true, "HTTP://10.0.0.7:8080"},
        {"http://10.0.0.9:8080/", true, true, "http://10.0.0.9:8080"},
        {"https://subidas.ejemplo.test", true, false, "https://subidas.ejemplo.test"},
        {"", true, false, QString::fromUtf8(build::defaultServer)},
    };
    for (const auto& [text, usable, red, stored] : typed) {
        login().askServer();
        ui::ServerDialog* sheet = login().serverDialog();
        ASSERT_NE(sheet, nullptr);
        sheet->field()->setText(text);
        EXPECT_EQ(sheet->saveButton()->isEnabled(), usable) << text.toStdString();
        EXPECT_EQ(ui::textColor(sheet->meaningLabel()) == ui::redColor(), red) << text.toStdString();
        sheet->saveButton()->click();
        EXPECT_EQ(settings::value("serverURL").value_or(""), stored) << text.toStdString();
        if (sheet->isVisible())
            sheet->reject();
        settle();
    }
    EXPECT_FALSE(visible(login().serverLabel()));
}

// A refused sign-in keeps both fields. Files handed to the program as it starts (a launcher's "%F")
// wait for the sign-in. Signing out leaves a fresh login screen that remembers the e-mail.
TEST_F(DesktopTest, ARefusedSignInThenAnAcceptedOneThenSigningOut)
{
    const QString opened = makeFile("abierto/C0001.MXF");
    launch();
    ASSERT_TRUE(shows(root().loginView()));
    view().openAtStart({QUrl::fromLocalFile(opened)});
    answer("POST", "/api/login", held(errorReply(500, kHostile.toStdString()), gates.emplace_back()));
    signIn();
    ASSERT_TRUE(runUntil([&] { return gates.back().waiting() == 1; }));
    EXPECT_TRUE(login().busy() && !login().signInButton()->isEnabled() && login().signInButton()->text().isEmpty());
    gates.back().open();
    ASSERT_TRUE(runUntil([&] { return !login().busy(); }));
    // The service's own words as written, markup included, without control characters.
    EXPECT_EQ(seenText(login().errorLabel()), "No se pudo conectar: Servidor: 500 <h1>Grande</h1> ]0;pwn");
    EXPECT_TRUE(visible(login().errorLabel()) && ui::textColor(login().errorLabel()) == ui::redColor());
    EXPECT_EQ(login().emailField()->text() + "|" + login().passwordField()->text(), "ana@empresa.test|secreto");
    EXPECT_TRUE(up().items().empty());

    answer("POST", "/api/login", held(okReply(), gates.emplace_back()));
    answer("GET", "/api/me", userReply("Demo Films"));
    answer("POST", "/api/logout", errorReply(500, "boom"));   // signs out all the same
    signIn("Ana@Empresa.test ", "pass word ");   // the service spells the account otherwise; nothing is trimmed
    ASSERT_TRUE(runUntil([&] { return gates.back().waiting() == 1; }));
    EXPECT_FALSE(visible(login().errorLabel()));
    gates.back().open();
    ASSERT_TRUE(shows(root().mainView()));
    EXPECT_EQ(nlohmann::json::parse(service.network()->seen("POST", "/api/login").back().body()),
              (nlohmann::json{{"email", "Ana@Empresa.test "}, {"password", "pass word "}}));
    EXPECT_EQ(login().passwordField()->text(), "");
    ASSERT_TRUE(runUntil([&] { return up().items().size() == 1 && up().items().front()->status() == Status::Done; }));
    EXPECT_EQ(up().items().front()->path, opened);
    login().passwordField()->setText("left over");
    view().accountMenu()->actions().back()->trigger();
    ASSERT_TRUE(shows(root().loginView()));
    EXPECT_EQ(service.network()->seen("POST", "/api/logout").size(), 1u);
    EXPECT_EQ(login().emailField()->text() + "|" + login().passwordField()->text(), "Ana@Empresa.test |");
    EXPECT_FALSE(visible(login().errorLabel()));
}

}  // namespace
}  // namespace zafrel::test
