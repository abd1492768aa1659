#include "ui/root_view.h"

#include "session/session_model.h"
#include "ui/login_view.h"
#include "ui/main_view.h"
#include "ui/spinner.h"

#include <QHBoxLayout>
#include <QLabel>
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
        row->addWidget(new QLabel(QStringLiteral("Conectando…"), connecting_));
        row->addStretch(1);
        column->addLayout(row);
        column->addStretch(1);
    }
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
