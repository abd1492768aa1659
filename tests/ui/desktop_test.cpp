// The desktop program from its start: the waiting state, the login screen and its messages, the
// switch to the main window, and signing out.
#include "ui/desktop.h"

#include "engine/upload_manager.h"
#include "platform/build_config.h"
#include "platform/settings.h"
#include "session/session_model.h"
#include "support/test_env.h"
#include "support/ui_scripted_service.h"
#include "support/ui_test_helpers.h"
#include "ui/login_view.h"
#include "ui/main_view.h"
#include "ui/root_view.h"
#include "ui/spinner.h"
#include "ui/style.h"

#include <QAction>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QKeyEvent>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace zafrel::ui {
namespace {

using test::UiScriptedService;

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::resetDesktopState();
        service.useAsServer();
        service.on("POST", "/api/logout", {200, "{}"});
        service.on("POST", "/api/upload/done", {200, "{}"});
    }

    void TearDown() override
    {
        if (desktop) {
            test::runUntil([&] { return !desktop->uploader().isRunning(); });
            owner.reset();
        }
    }

    void start()
    {
        owner = startDesktop();
        desktop = dynamic_cast<Desktop*>(owner.get());
        ASSERT_NE(desktop, nullptr);
        root = &desktop->rootView();
        QObject::connect(root, &QStackedWidget::currentChanged, [this](int index) { shown.push_back(root->widget(index)); });
    }

    void signedOutStart()
    {
        service.on("GET", "/api/me", {401, UiScriptedService::errorJson("no session")});
        start();
        ASSERT_TRUE(test::runUntil([&] { return root->currentWidget() == root->loginView(); }));
    }

    LoginView& login() { return *root->loginView(); }

    void type(const QString& email, const QString& password)
    {
        login().emailField()->setText(email);
        login().passwordField()->setText(password);
    }

    void pressReturnInPassword()
    {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(login().passwordField(), &press);
    }

    UiScriptedService service;
    std::unique_ptr<QObject> owner;
    Desktop* desktop = nullptr;
    RootView* root = nullptr;
    std::vector<QWidget*> shown;
};


TEST_F(DesktopTest, OneWindowTitledZafrelThatCannotShrinkBelowItsMinimum)
{
    service.on("GET", "/api/me", {401, UiScriptedService::errorJson("no session")});
    start();
    QMainWindow& window = desktop->window();
    EXPECT_EQ(window.windowTitle(), "Zafrel");
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.minimumSize(), QSize(560, 520));
    window.resize(300, 200);
    EXPECT_GE(window.width(), 560);
    EXPECT_GE(window.height(), 520);
    // No menu at all, so nothing offers a second window.
    EXPECT_TRUE(window.findChildren<QMenuBar*>().isEmpty());
    int mainWindows = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qobject_cast<QMainWindow*>(widget))
            ++mainWindows;
    EXPECT_EQ(mainWindows, 1);
    // The program's own icon, not the toolkit's.
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_EQ(window.windowIcon().pixmap(32).toImage(), QIcon(":/symbol.png").pixmap(32).toImage());
    // The waiting state comes first, centred with its label.
    EXPECT_EQ(root->currentWidget(), root->connectingPage());
    ASSERT_NE(test::findNamed<QLabel>(root->connectingPage(), QString()), nullptr);
    bool labelled = false;
    for (QLabel* label : root->connectingPage()->findChildren<QLabel*>())
        labelled = labelled || label->text() == "Conectando…";
    EXPECT_TRUE(labelled);
}

TEST_F(DesktopTest, TheWindowKeepsItsSizeAcrossRestarts)
{
    service.on("GET", "/api/me", {401, UiScriptedService::errorJson("no session")});
    start();
    desktop->window().resize(611, 533);
    test::settle();
    owner.reset();
    desktop = nullptr;
    start();
    EXPECT_EQ(desktop->window().size(), QSize(611, 533));
}

TEST_F(DesktopTest, ValidSessionGoesStraightToTheMainWindow)
{
    service.on("GET", "/api/me", {200, UiScriptedService::userJson("ana@empresa.test", "Demo Films")});
    start();
    ASSERT_TRUE(test::runUntil([&] { return root->currentWidget() == root->mainView(); }));
    for (QWidget* page : shown)
        EXPECT_NE(page, root->loginView());
    EXPECT_EQ(shown, std::vector<QWidget*>{root->mainView()});
    EXPECT_EQ(root->mainView()->titleLabel()->text(), "Demo Films");
}

TEST_F(DesktopTest, NoSessionShowsTheLoginScreenWithoutMessage)
{
    signedOutStart();
    EXPECT_EQ(shown, std::vector<QWidget*>{root->loginView()});
    EXPECT_FALSE(login().errorLabel()->isVisibleTo(root));
    EXPECT_EQ(login().emailField()->placeholderText(), "Email");
    EXPECT_EQ(login().passwordField()->placeholderText(), "Contraseña");
    EXPECT_EQ(login().passwordField()->echoMode(), QLineEdit::Password);
    ASSERT_NE(login().logo(), nullptr);   // the bundled logo loads
    EXPECT_FALSE(login().logo()->pixmap().isNull());
}

TEST_F(DesktopTest, NoServiceAtAllAlsoEndsOnTheLoginScreenSilently)
{
    settings::setValue("serverURL", "http://127.0.0.1:1");
    start();
    ASSERT_TRUE(test::runUntil([&] { return root->currentWidget() == root->loginView(); }));
    EXPECT_FALSE(login().errorLabel()->isVisibleTo(root));
}

TEST_F(DesktopTest, ButtonWaitsForACharacterInBothFields)
{
    signedOutStart();
    QPushButton* button = login().signInButton();
    EXPECT_EQ(login().emailField()->text(), "");
    EXPECT_FALSE(button->isEnabled());
    login().emailField()->setText("a");
    EXPECT_FALSE(button->isEnabled());
    login().passwordField()->setText(" ");   // a blank is a character
    EXPECT_TRUE(button->isEnabled());
    login().emailField()->setText("");
    EXPECT_FALSE(button->isEnabled());
}

TEST_F(DesktopTest, EachRefusedSignInShowsItsMessageInRedAndKeepsBothFields)
{
    signedOutStart();
    const std::pair<UiScriptedService::Reply, QString> cases[] = {
        {{401, UiScriptedService::errorJson("bad")}, "Email o contraseña incorrectos"},
        {{429, UiScriptedService::errorJson("slow")}, "Demasiados intentos. Espera unos minutos."},
        {{500, UiScriptedService::errorJson("caído")}, "No se pudo conectar: Servidor: 500 caído"},
        // The service's own words are shown as written, markup included, without control characters.
        {{500, UiScriptedService::errorJson(test::kMarkupAndControls.toStdString())},
         "No se pudo conectar: Servidor: 500 <h1>Grande</h1> ]0;pwn"},
    };
    size_t attempts = 0;
    for (const auto& [reply, message] : cases) {
        service.on("POST", "/api/login", reply);
        type("ana@empresa.test", "secreto");
        login().signInButton()->click();
        ++attempts;
        ASSERT_TRUE(test::runUntil(
            [&] { return service.received("POST", "/api/login").size() == attempts && !login().busy(); }));
        QLabel* error = login().errorLabel();
        EXPECT_TRUE(error->isVisibleTo(root));
        EXPECT_EQ(test::seenText(error), message);
        EXPECT_EQ(textColor(error), redColor());
        // Both fields keep what was typed, and the button is back to "Entrar".
        EXPECT_EQ(login().emailField()->text(), "ana@empresa.test");
        EXPECT_EQ(login().passwordField()->text(), "secreto");
        EXPECT_EQ(login().signInButton()->text(), "Entrar");
        EXPECT_TRUE(login().signInButton()->isEnabled());
        EXPECT_EQ(root->currentWidget(), root->loginView());
        EXPECT_EQ(settings::value("email").value_or("absent"), QString());
    }
}

// Where the password goes is said whenever it is not the program's own service, and an http://
// server other than this machine is marked in red.
TEST_F(DesktopTest, TheLoginScreenNamesAnyOtherServerAndAnUnencryptedOne)
{
    signedOutStart();
    const std::tuple<QString, QString, bool> cases[] = {
        {QString::fromUtf8(build::defaultServer), "", false},
        {"https://subidas.ejemplo.test", "Servidor: subidas.ejemplo.test", false},
        {"http://127.0.0.1:8080", "Servidor: 127.0.0.1:8080", false},
        {"http://localhost", "Servidor: localhost", false},
        {"http://subidas.ejemplo.test:8080", "Servidor: subidas.ejemplo.test:8080 · conexión sin cifrar", true},
        {"HTTP://10.0.0.7", "Servidor: 10.0.0.7 · conexión sin cifrar", true},
    };
    for (const auto& [origin, shown, red] : cases) {
        settings::setValue("serverURL", origin);
        login().reset();
        QLabel* server = login().serverLabel();
        EXPECT_EQ(server->isVisibleTo(root), !shown.isEmpty()) << origin.toStdString();
        if (!shown.isEmpty()) {
            EXPECT_EQ(test::seenText(server), shown);
            EXPECT_EQ(textColor(server) == redColor(), red) << origin.toStdString();
        }
    }
}

TEST_F(DesktopTest, TheMessageAppearsWithoutShiftingTheForm)
{
    signedOutStart();
    service.on("POST", "/api/login", {401, UiScriptedService::errorJson("bad")});
    test::settle();
    const QPoint fieldBefore = login().emailField()->mapTo(root, QPoint());
    const QPoint buttonBefore = login().signInButton()->mapTo(root, QPoint());
    type("ana@empresa.test", "secreto");
    login().signInButton()->click();
    ASSERT_TRUE(test::runUntil([&] { return !login().busy(); }));
    test::settle();
    ASSERT_TRUE(login().errorLabel()->isVisibleTo(root));
    EXPECT_EQ(login().emailField()->mapTo(root, QPoint()), fieldBefore);
    EXPECT_EQ(login().signInButton()->mapTo(root, QPoint()), buttonBefore);
}

TEST_F(DesktopTest, ReturnInThePasswordFieldSendsEvenWithAnEmptyEmail)
{
    signedOutStart();
    service.on("POST", "/api/login", {401, UiScriptedService::errorJson("bad")});
    type("", "secreto");
    ASSERT_FALSE(login().signInButton()->isEnabled());
    pressReturnInPassword();
    ASSERT_TRUE(test::runUntil([&] { return login().errorLabel()->isVisibleTo(root); }));
    auto logins = service.received("POST", "/api/login");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(logins[0].body).at("email"), "");
    EXPECT_EQ(login().errorLabel()->text(), "Email o contraseña incorrectos");
}

TEST_F(DesktopTest, BusyWhileTheServiceAnswers)
{
    signedOutStart();
    service.hold("POST", "/api/login");
    service.on("POST", "/api/login", {401, UiScriptedService::errorJson("bad")});
    type("ana@empresa.test", "secreto");
    login().signInButton()->click();
    ASSERT_TRUE(test::runUntil([&] { return service.held("POST", "/api/login") == 1; }));
    EXPECT_TRUE(login().busy());
    EXPECT_FALSE(login().signInButton()->isEnabled());
    EXPECT_EQ(login().signInButton()->text(), "");
    auto* spinner = login().signInButton()->findChild<Spinner*>();
    ASSERT_NE(spinner, nullptr);
    EXPECT_TRUE(spinner->isVisibleTo(root));
    service.release("POST", "/api/login");
    ASSERT_TRUE(test::runUntil([&] { return !login().busy(); }));
    EXPECT_FALSE(spinner->isVisibleTo(root));
    EXPECT_EQ(login().signInButton()->text(), "Entrar");
}

TEST_F(DesktopTest, SuccessfulSignInClearsThePasswordAndRemembersTheTypedEmail)
{
    signedOutStart();
    service.on("POST", "/api/login", {200, "{}"});
    service.on("GET", "/api/me", {200, UiScriptedService::userJson("ana@empresa.test", "Demo Films")});
    type("Ana@Empresa.test ", "secreto");
    login().signInButton()->click();
    ASSERT_TRUE(test::runUntil([&] { return root->currentWidget() == root->mainView() && !login().busy(); }));
    EXPECT_EQ(login().passwordField()->text(), "");
    EXPECT_EQ(login().emailField()->text(), "Ana@Empresa.test ");
    EXPECT_EQ(settings::value("email").value_or("absent"), "Ana@Empresa.test ");
}

TEST_F(DesktopTest, SignOutReturnsToAFreshLoginScreen)
{
    settings::setValue("email", "ana@empresa.test");
    service.on("GET", "/api/me", {200, UiScriptedService::userJson("ana@empresa.test", "Demo Films")});
    // A failing logout signs out all the same.
    service.on("POST", "/api/logout", {500, UiScriptedService::errorJson("boom")});
    start();
    ASSERT_TRUE(test::runUntil([&] { return root->currentWidget() == root->mainView(); }));

    QMenu* menu = root->mainView()->accountMenu();
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), "ana@empresa.test");
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), "Límite de velocidad…");
    EXPECT_EQ(actions[3]->text(), "Salir");

    login().passwordField()->setText("left over");
    actions[3]->trigger();
    ASSERT_TRUE(test::runUntil([&] { return root->currentWidget() == root->loginView(); }));
    EXPECT_EQ(service.received("POST", "/api/logout").size(), 1u);
    EXPECT_FALSE(desktop->session().user().has_value());
    EXPECT_EQ(login().emailField()->text(), "ana@empresa.test");
    EXPECT_EQ(login().passwordField()->text(), "");
    EXPECT_FALSE(login().errorLabel()->isVisibleTo(root));
}

}  // namespace
}  // namespace zafrel::ui
