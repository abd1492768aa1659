#include "ui/root_view.h"

#include "session/session_model.h"
#include "ui/login_view.h"
#include "ui/main_view.h"
#include "ui/spinner.h"
#include "ui/style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zafrel::ui {

RootView::RootView(SessionModel& session, UploadManager& up, QWidget* parent)
    : QStackedWidget(parent), session_(session)
{
    connecting_ = new QWidget(this);
    connecting_->setObjectName("connecting");
    {
        auto* column = new QVBoxLayout(connecting_);
        column->addStretch(1);
        auto* row = new QHBoxLayout;
        row->addStretch(1);
        row->addWidget(new Spinner(18, connecting_));
        row->addSpacing(8);
        connectingLabel_ = new QLabel(QStringLiteral("Conectando…"), connecting_);
        connectingLabel_->setTextFormat(Qt::PlainText);
        row->addWidget(connectingLabel_);
        row->addStretch(1);
        column->addLayout(row);
        column->addSpacing(6);
        nextCheckLabel_ = new QLabel(connecting_);
        nextCheckLabel_->setTextFormat(Qt::PlainText);
        nextCheckLabel_->setAlignment(Qt::AlignHCenter);
        nextCheckLabel_->setStyleSheet(QStringLiteral("color: %1;").arg(secondaryColor().name()));
        column->addWidget(nextCheckLabel_);
        column->addSpacing(10);
        auto* buttonRow = new QHBoxLayout;
        buttonRow->addStretch(1);
        checkNow_ = new QPushButton(QStringLiteral("Reintentar ahora"), connecting_);
        checkNow_->setObjectName("checkNow");
        buttonRow->addWidget(checkNow_);
        buttonRow->addStretch(1);
        column->addLayout(buttonRow);
        column->addStretch(1);
    }
    connect(checkNow_, &QPushButton::clicked, &session_, &SessionModel::checkNow);
    countdown_.setInterval(1000);
    connect(&countdown_, &QTimer::timeout, this, &RootView::showOffline);
    connect(&session_, &SessionModel::offlineChanged, this, &RootView::showOffline);
    showOffline();
    login_ = new LoginView(session, this);
    login_->setObjectName("login");
    main_ = new MainView(session, up, this);
    main_->setObjectName("main");
    addWidget(connecting_);
    addWidget(login_);
    addWidget(main_);
    setCurrentWidget(connecting_);

    connect(&session_, &SessionModel::checkingChanged, this, &RootView::evaluate);
    connect(&session_, &SessionModel::userChanged, this, &RootView::evaluate);
    evaluate();
}

void RootView::showOffline()
{
    const bool offline = session_.offline();
    // The stored session is kept: the crew member only has to wait, or press the button.
    connectingLabel_->setText(offline ? QStringLiteral("Sin conexión con el servidor — reintentando")
                                      : QStringLiteral("Conectando…"));
    nextCheckLabel_->setVisible(offline);
    checkNow_->setVisible(offline);
    if (!offline) {
        countdown_.stop();
        return;
    }
    if (!countdown_.isActive())
        countdown_.start();
    const auto left = std::chrono::ceil<std::chrono::seconds>(session_.nextCheck() - std::chrono::steady_clock::now()).count();
    // What a crew member fears here is having to sign in again, or a lost queue: neither happens.
    nextCheckLabel_->setText((left > 0 ? QStringLiteral("Próximo intento en %1 s").arg(left) : QStringLiteral("Intentando…"))
                             + QStringLiteral("\nLa sesión sigue abierta y la cola se conserva."));
}

void RootView::evaluate()
{
    QWidget* wanted = session_.checking() ? connecting_ : !session_.user() ? static_cast<QWidget*>(login_) : main_;
    if (wanted == currentWidget())
        return;
    // Each screen starts from its initial state whenever it is shown anew.
    if (wanted == login_)
        login_->reset();
    else if (wanted == main_)
        main_->showAnew();
    setCurrentWidget(wanted);
}

}  // namespace zafrel::ui
