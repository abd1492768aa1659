#pragma once
// The desktop program on the in-process network, for the window's tests: the company's service and
// store scripted by FakeUploadService plus the sign-in calls, a first run's clean slate per test,
// and ways to drop, press and read what a person sees.
#include "platform/retry_schedule.h"
#include "support/engine_env.h"
#include "support/fake_upload_service.h"
#include "ui/desktop.h"
#include "ui/desktop_services.h"
#include "ui/destination_picker.h"
#include "ui/drop_zone.h"
#include "ui/elided_label.h"
#include "ui/file_chooser.h"
#include "ui/footer_bar.h"
#include "ui/login_view.h"
#include "ui/main_view.h"
#include "ui/queue_model.h"
#include "ui/queue_view.h"
#include "ui/report_view.h"
#include "ui/root_view.h"
#include "ui/send_rate_dialog.h"
#include "ui/server_dialog.h"
#include "ui/spinner.h"
#include "ui/style.h"
#include "ui/upload_row.h"
#include "ui/upload_row_delegate.h"

#include <QtWidgets>

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>

namespace zafrel::test {

// The "api/me" answer of an account of `company`, or of an administrator (no company).
inline FakeReply userReply(std::optional<std::string> company)
{
    nlohmann::json user = {{"email", "ana@empresa.test"}, {"name", "Ana"}, {"is_admin", !company}, {"bucket", ""}};
    if (company)
        user["company"] = {{"slug", "empresa"}, {"name", *company}};
    return jsonReply(user);
}
inline FakeReply okReply() { return jsonReply(nlohmann::json::object()); }
inline FakeReply errorReply(int status, const std::string& message) { return jsonReply({{"error", message}}, status); }

// A file of 10 bytes at `path` below the sandbox (folders created); answers its full path.
inline QString makeFile(const QString& path) { return writeFile(sandboxDir() + u'/' + path, QByteArray(10, 'z')); }

// An item as the intake would create it, in `status`.
inline ItemPtr makeItem(const QString& name, qint64 size, Status status = Status::Queued, const QString& destDir = "Rodaje/")
{
    auto item = std::make_shared<UploadItem>(QUuid::createUuid(), sandboxDir() + "/files/" + name, size,
                                             0.0, destDir);
    item->setStatus(status);
    return item;
}

// What a person reads of a label: rich text rendered as Qt would render it.
inline QString seenText(const QString& text, Qt::TextFormat format = Qt::AutoText)
{
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}
inline QString seenText(const QLabel* label) { return seenText(label->text(), label->textFormat()); }

// A text from a hostile service or disk, and whether it was shown as written.
inline const QString kHostile = QStringLiteral("<h1>Grande</h1>\n\x1b]0;pwn\x07");
inline bool shownAsWritten(const QString& seen)
{
    return seen.contains("<h1>Grande</h1> ]0;pwn") && std::none_of(seen.begin(), seen.end(), [](QChar c) { return c < u' '; });
}

inline QModelIndex entry(const QListView* list, const QString& name)
{
    return list->model()->match(list->model()->index(0, 0, list->rootIndex()), Qt::DisplayRole, name, 1, Qt::MatchExactly).value(0);
}

inline void settle() { runUntil([] { return false; }, std::chrono::milliseconds(150)); }

inline void press(QWidget* target, Qt::Key key, const QString& text = {})
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &event);
}

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetEngineState();
        QFile::remove(paths::dataDir() + "/cookies.txt");
        for (const char* key : {"email", "windowGeometry", "chooserFolder", "sendRate"})
            settings::setValue(key, QString());
        settings::setValue("serverURL", QString::fromStdString(service.origin()));
        retry::setWaitScaleForTests(0.001);
        answer("POST", "/api/logout", okReply());
        answer("GET", "/api/me", errorReply(401, "no session"));
    }
    void TearDown() override
    {
        for (Gate& gate : gates)
            gate.open();
        if (desktop)
            runUntil([&] { return !up().isRunning(); });
        desktop.reset();
        retry::setWaitScaleForTests(1.0);
    }

    // From now on every `method` request to `path` gets `reply`.
    void answer(std::string method, std::string path, FakeReply reply) { service.network()->answer(method, path, reply); }
    // From now on the store holds every PUT until the gate answered opens.
    Gate& holdPuts()
    {
        Gate& gate = gates.emplace_back();
        service.onPut = [&gate](const FakeUploadService::Put& put) {
            return FakeUploadService::PutReply{200, "", "\"" + put.md5 + "\"", &gate};
        };
        return gate;
    }

    void launch() { desktop = std::make_unique<ui::Desktop>(api, service.network()->transport()); }
    // Signed in at start (an administrator when `company` is empty), with `destDir` remembered.
    void start(std::optional<std::string> company = "Demo Films", const QString& destDir = "Rodaje/")
    {
        settings::setValue("destDir", destDir);
        answer("GET", "/api/me", userReply(company));
        launch();
        ASSERT_TRUE(shows(root().mainView()));
    }
    bool shows(QWidget* page) { return runUntil([&] { return root().currentWidget() == page; }); }
    void signIn(const QString& email = "ana@empresa.test", const QString& password = "secreto")
    {
        login().emailField()->setText(email);
        login().passwordField()->setText(password);
        login().signInButton()->click();
    }
    // A drop of `urls` on `target` (the drop zone unless said); answers whether it was taken.
    bool drop(const QList<QUrl>& urls, QWidget* target = nullptr)
    {
        target = target ? target : view().dropZone();
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
        return event.isAccepted();
    }
    bool footerReads(const QString& text) { return runUntil([&] { return footer().stateLabel()->text() == text; }); }
    bool visible(const QWidget* widget) { return widget->isVisibleTo(&desktop->window()); }
    // Answers the question on screen (the window's or a row's) with its button `name` ("confirmKeep",
    // "confirmAccept"); answers its text.
    QString answerQuestion(const char* name)
    {
        QMessageBox* question = nullptr;
        EXPECT_TRUE(runUntil([&] {
            for (QMessageBox* box : desktop->window().findChildren<QMessageBox*>("confirmation"))
                question = box->isVisible() ? box : question;
            return question != nullptr;
        }));
        const QString text = question ? question->text() : QString();
        if (question)
            question->findChild<QPushButton*>(name)->click();
        settle();
        return text;
    }

    ui::RootView& root() { return desktop->rootView(); }
    ui::MainView& view() { return *root().mainView(); }
    ui::LoginView& login() { return *root().loginView(); }
    ui::FooterBar& footer() { return *view().footer(); }
    UploadManager& up() { return desktop->uploader(); }

    FakeUploadService service;
    ZafrelAPI api{service.network()->session()};
    std::deque<Gate> gates;
    std::unique_ptr<ui::Desktop> desktop;
};

}  // namespace zafrel::test
