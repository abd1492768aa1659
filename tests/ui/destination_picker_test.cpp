// The destination picker against a scripted service: breadcrumbs, the folder list, creating a
// folder, the administrator's top level and the failures.
#include "ui/destination_picker.h"

#include "client/zafrel_api.h"
#include "support/test_env.h"
#include "support/ui_scripted_service.h"
#include "support/ui_test_helpers.h"
#include "ui/style.h"

#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace zafrel::ui {
namespace {

using test::UiScriptedService;

// Listings of a small tree: "" holds Rodaje/, Rodaje/ holds Dia03/ (labelled) and Dia04/.
UiScriptedService::Reply listing(const UiScriptedService::Received& request)
{
    const std::string path = request.param("path").value_or("?");
    nlohmann::json folders = nlohmann::json::array();
    if (path.empty())
        folders.push_back({{"name", "Rodaje"}, {"path", "Rodaje/"}, {"count", 2}, {"size", 0}});
    else if (path == "Rodaje/") {
        folders.push_back({{"name", "Dia03"}, {"path", "Rodaje/Dia03/"}, {"label", "Día 3 · Exteriores"}, {"count", 41}, {"size", 0}});
        folders.push_back({{"name", "Dia04"}, {"path", "Rodaje/Dia04/"}, {"count", 0}, {"size", 0}});
    } else if (path == "Prohibido/") {
        return {403, UiScriptedService::errorJson("sin permiso")};
    }
    return {200, nlohmann::json{{"path", path}, {"folders", folders}, {"files", nlohmann::json::array()}}.dump()};
}

class DestinationPickerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        service.useAsServer();
        service.on("GET", "/api/ls", listing);
        service.on("POST", "/api/mkdir", {200, "{}"});
    }

    std::unique_ptr<DestinationPicker> open(const QString& path, bool isAdmin)
    {
        auto picker = std::make_unique<DestinationPicker>(api, path, isAdmin);
        picker->show();
        waitIdle(*picker);
        return picker;
    }

    void waitIdle(DestinationPicker& picker)
    {
        EXPECT_TRUE(test::runUntil([&] { return !picker.loading(); }));
    }

    static QStringList crumbTitles(DestinationPicker& picker)
    {
        QStringList titles;
        for (QPushButton* button : picker.breadcrumbButtons())
            titles << button->text();
        return titles;
    }

    static QStringList rowTitles(DestinationPicker& picker)
    {
        QStringList titles;
        for (int i = 0; i < picker.folderList()->count(); ++i)
            titles << picker.folderList()->item(i)->text();
        return titles;
    }

    UiScriptedService service;
    ZafrelAPI api{std::make_unique<HttpSession>(HttpSession::Config{})};
};

TEST_F(DestinationPickerTest, CompanyTopLevelMayBeChosenAsItIs)
{
    auto picker = open("", false);
    EXPECT_EQ(picker->current(), "");
    EXPECT_EQ(crumbTitles(*picker), QStringList{"Raíz"});
    EXPECT_EQ(rowTitles(*picker), QStringList{"Rodaje"});
    EXPECT_TRUE(picker->useButton()->isEnabled());
    EXPECT_FALSE(picker->createButton()->isEnabled());   // nothing typed yet

    QString chosen = "unset";
    QObject::connect(picker.get(), &DestinationPicker::chosen, [&](const QString& path) { chosen = path; });
    picker->useButton()->click();
    EXPECT_EQ(chosen, "");
    EXPECT_EQ(picker->result(), QDialog::Accepted);
}

TEST_F(DestinationPickerTest, ALongFolderNameShortensItsCrumbInsteadOfWideningTheSheet)
{
    const QString longName = QStringLiteral("Día 02 — Exteriores en la playa de Bolonia, unidad B, dron y cámara de apoyo sin etalonar");
    const QString path = "Rodaje/" + longName + "/";
    auto picker = open(path, false);
    test::settle();
    EXPECT_EQ(picker->width(), 480);
    const QList<QPushButton*> crumbs = picker->breadcrumbButtons();
    ASSERT_EQ(crumbs.size(), 3);
    // The content fits the sheet as it is (nothing squeezed below what it needs, nothing cut),
    // every crumb stays inside the margin, the short ones keep their whole width and the long
    // one gives way, keeping its whole name as text and tooltip.
    EXPECT_LE(picker->layout()->minimumSize().width(), 480);
    for (QPushButton* crumb : crumbs)
        EXPECT_LE(crumb->mapTo(picker.get(), QPoint(crumb->width(), 0)).x(), picker->width() - 20) << crumb->text().toStdString();
    EXPECT_EQ(crumbs[0]->width(), crumbs[0]->sizeHint().width());
    EXPECT_EQ(crumbs[1]->width(), crumbs[1]->sizeHint().width());
    EXPECT_LT(crumbs[2]->width(), crumbs[2]->sizeHint().width());
    EXPECT_EQ(crumbs[2]->text(), longName);
    EXPECT_EQ(test::seenText(crumbs[2]->toolTip()), longName);

    crumbs[2]->click();
    waitIdle(*picker);
    EXPECT_EQ(service.received("GET", "/api/ls").back().param("path"), path.toStdString());
}

TEST_F(DestinationPickerTest, BreadcrumbsLeadToEveryLevel)
{
    auto picker = open("Rodaje/Dia03/", false);
    EXPECT_EQ(crumbTitles(*picker), (QStringList{"Raíz", "Rodaje", "Dia03"}));

    picker->breadcrumbButtons()[1]->click();
    waitIdle(*picker);
    EXPECT_EQ(service.received("GET", "/api/ls").back().param("path"), "Rodaje/");
    EXPECT_EQ(picker->current(), "Rodaje/");
    EXPECT_EQ(crumbTitles(*picker), (QStringList{"Raíz", "Rodaje"}));

    // The last crumb lists the same folder again.
    const size_t before = service.received("GET", "/api/ls").size();
    picker->breadcrumbButtons().back()->click();
    ASSERT_TRUE(test::runUntil([&] { return service.received("GET", "/api/ls").size() == before + 1; }));
    waitIdle(*picker);
    EXPECT_EQ(service.received("GET", "/api/ls").back().param("path"), "Rodaje/");

    picker->breadcrumbButtons().front()->click();
    waitIdle(*picker);
    EXPECT_EQ(service.received("GET", "/api/ls").back().param("path"), "");
    EXPECT_EQ(picker->current(), "");
}

TEST_F(DestinationPickerTest, FolderRowsShowLabelOrNameAndOpenOnClick)
{
    auto picker = open("Rodaje/", false);
    EXPECT_EQ(rowTitles(*picker), (QStringList{"Día 3 · Exteriores", "Dia04"}));
    EXPECT_FALSE(picker->emptyLabel()->isVisibleTo(picker.get()));

    QListWidget* list = picker->folderList();
    emit list->itemClicked(list->item(0));
    waitIdle(*picker);
    EXPECT_EQ(picker->current(), "Rodaje/Dia03/");
    EXPECT_TRUE(picker->folders().empty());
    EXPECT_TRUE(picker->emptyLabel()->isVisibleTo(picker.get()));
    EXPECT_EQ(picker->emptyLabel()->text(), "Sin subcarpetas");
}

TEST_F(DestinationPickerTest, AdministratorCannotUseOrCreateAboveTheCompanies)
{
    auto picker = open("", true);
    picker->newNameField()->setText("Nueva");
    EXPECT_FALSE(picker->useButton()->isEnabled());
    EXPECT_FALSE(picker->createButton()->isEnabled());
    // Return in the name field does not get around it.
    emit picker->newNameField()->returnPressed();
    test::settle();
    EXPECT_TRUE(service.received("POST", "/api/mkdir").empty());

    picker->load("Rodaje/");
    waitIdle(*picker);
    EXPECT_TRUE(picker->useButton()->isEnabled());
    EXPECT_TRUE(picker->createButton()->isEnabled());
    picker->newNameField()->clear();
    EXPECT_FALSE(picker->createButton()->isEnabled());
}

TEST_F(DestinationPickerTest, CreateTrimsBlanksAndOpensTheNewFolder)
{
    auto picker = open("Rodaje/", false);
    const QString typed = QString::fromUtf8("\t\u00A0 Dia05\u2003 ");
    picker->newNameField()->setText(typed);
    picker->createButton()->click();
    ASSERT_TRUE(test::runUntil([&] { return picker->current() == "Rodaje/Dia05/"; }));
    auto made = service.received("POST", "/api/mkdir");
    ASSERT_EQ(made.size(), 1u);
    const auto body = nlohmann::json::parse(made[0].body);
    EXPECT_EQ(body.at("path"), "Rodaje/");
    EXPECT_EQ(body.at("name"), "Dia05");
    EXPECT_EQ(service.received("GET", "/api/ls").back().param("path"), "Rodaje/Dia05/");
    EXPECT_EQ(picker->newNameField()->text(), "");
}

TEST_F(DestinationPickerTest, BlankNameCreatesNothing)
{
    auto picker = open("Rodaje/", false);
    picker->newNameField()->setText(" \t ");
    EXPECT_TRUE(picker->createButton()->isEnabled());
    picker->createButton()->click();
    test::settle();
    EXPECT_TRUE(service.received("POST", "/api/mkdir").empty());
}

TEST_F(DestinationPickerTest, TrimmingKeepsLineBreaksAndInnerBlanks)
{
    EXPECT_EQ(trimFolderName(QString::fromUtf8("\u3000Día 3\t")), QString::fromUtf8("Día 3"));
    EXPECT_EQ(trimFolderName("\nA\n"), "\nA\n");
    EXPECT_EQ(trimFolderName(" \u2028 "), QString::fromUtf8("\u2028"));
    EXPECT_EQ(trimFolderName("   "), "");
}

TEST_F(DestinationPickerTest, FailedCreationKeepsTheTypedName)
{
    service.on("POST", "/api/mkdir", {409, UiScriptedService::errorJson("ya existe")});
    auto picker = open("Rodaje/", false);
    picker->newNameField()->setText(" Dia03 ");
    picker->createButton()->click();
    ASSERT_TRUE(test::runUntil([&] { return picker->error().has_value(); }));
    EXPECT_EQ(*picker->error(), "Servidor: 409 ya existe");
    EXPECT_EQ(picker->errorLabel()->text(), "Servidor: 409 ya existe");
    EXPECT_TRUE(picker->errorLabel()->isVisibleTo(picker.get()));
    EXPECT_EQ(textColor(picker->errorLabel()), redColor());
    EXPECT_EQ(picker->newNameField()->text(), " Dia03 ");
    EXPECT_EQ(picker->current(), "Rodaje/");
}

TEST_F(DestinationPickerTest, RefusedDestinationShowsTheErrorAndRootStillWorks)
{
    auto picker = open("Prohibido/", false);
    ASSERT_TRUE(picker->error().has_value());
    EXPECT_EQ(*picker->error(), "Servidor: 403 sin permiso");
    EXPECT_TRUE(picker->folders().empty());
    EXPECT_TRUE(picker->emptyLabel()->isVisibleTo(picker.get()));

    picker->breadcrumbButtons().front()->click();
    waitIdle(*picker);
    EXPECT_FALSE(picker->error().has_value());
    EXPECT_FALSE(picker->errorLabel()->isVisibleTo(picker.get()));
    EXPECT_EQ(rowTitles(*picker), QStringList{"Rodaje"});
}

TEST_F(DestinationPickerTest, FailedListingKeepsWhatWasShown)
{
    auto picker = open("Rodaje/", false);
    picker->load("Prohibido/");
    waitIdle(*picker);
    EXPECT_TRUE(picker->error().has_value());
    EXPECT_EQ(picker->current(), "Rodaje/");
    EXPECT_EQ(rowTitles(*picker).size(), 2);
}

TEST_F(DestinationPickerTest, SpinnerWhileListing)
{
    service.hold("GET", "/api/ls");
    auto picker = std::make_unique<DestinationPicker>(api, "Rodaje/", false);
    picker->show();
    ASSERT_TRUE(test::runUntil([&] { return service.held("GET", "/api/ls") == 1; }));
    EXPECT_TRUE(picker->loading());
    EXPECT_FALSE(picker->emptyLabel()->isVisibleTo(picker.get()));
    service.release("GET", "/api/ls");
    waitIdle(*picker);
    EXPECT_EQ(picker->current(), "Rodaje/");
}

}  // namespace
}  // namespace zafrel::ui
