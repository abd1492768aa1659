#include "ui/login_view.h"

#include "client/server_origin.h"
#include "ui/server_dialog.h"
#include "platform/async.h"
#include "platform/settings.h"
#include "session/session_model.h"
#include "ui/icons.h"
#include "ui/spinner.h"
#include "ui/style.h"

#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace zafrel::ui {

namespace {
constexpr int kFieldWidth = 300;
constexpr int kButtonLabelWidth = 120;
constexpr int kLogoSize = 96;
}  // namespace

LoginView::LoginView(SessionModel& session, QWidget* parent) : QWidget(parent), session_(session)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(18);
    column->addStretch(1);

    ensureResources();
    const QPixmap symbol(QStringLiteral(":/symbol.png"));
    if (!symbol.isNull()) {
        logo_ = new QLabel(this);
        logo_->setObjectName("logo");
        logo_->setFixedSize(kLogoSize, kLogoSize);
        logo_->setAlignment(Qt::AlignCenter);
        const qreal ratio = devicePixelRatioF();
        QPixmap scaled = symbol.scaled(QSize(kLogoSize, kLogoSize) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        scaled.setDevicePixelRatio(ratio);
        logo_->setPixmap(scaled);
        column->addWidget(logo_, 0, Qt::AlignHCenter);
    }

    auto* title = new QLabel(QStringLiteral("Zafrel"), this);
    title->setFont(largeTitleFont());
    column->addWidget(title, 0, Qt::AlignHCenter);

    auto* subtitle = new QLabel(QStringLiteral("Subida de material"), this);
    setTextColor(subtitle, secondaryColor());
    column->addWidget(subtitle, 0, Qt::AlignHCenter);

    // Where the password is about to go, whenever that is not the program's own service.
    server_ = new QLabel(this);
    server_->setObjectName("server");
    server_->setFont(calloutFont());
    server_->setAlignment(Qt::AlignHCenter);
    server_->setWordWrap(true);
    column->addWidget(server_);
    serverButton_ = new QPushButton(QStringLiteral("Servidor…"), this);
    serverButton_->setObjectName("chooseServer");
    serverButton_->setFlat(true);
    serverButton_->setFont(calloutFont());
    serverButton_->setCursor(Qt::PointingHandCursor);
    clickOnReturn(serverButton_);
    column->addWidget(serverButton_, 0, Qt::AlignHCenter);
    connect(serverButton_, &QPushButton::clicked, this, &LoginView::askServer);

    auto* fields = new QVBoxLayout;
    fields->setSpacing(10);
    email_ = new QLineEdit(this);
    email_->setObjectName("email");
    email_->setPlaceholderText(QStringLiteral("Email"));
    email_->setFixedWidth(kFieldWidth);
    email_->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);
    password_ = new QLineEdit(this);
    password_->setObjectName("password");
    password_->setPlaceholderText(QStringLiteral("Contraseña"));
    password_->setEchoMode(QLineEdit::Password);
    password_->setFixedWidth(kFieldWidth);
    giveRoom(email_);
    giveRoom(password_);
    email_->setAccessibleName(QStringLiteral("Email"));
    password_->setAccessibleName(QStringLiteral("Contraseña"));
    fields->addWidget(email_);
    fields->addWidget(password_);
    column->addLayout(fields);
    column->setAlignment(fields, Qt::AlignHCenter);

    button_ = new QPushButton(QStringLiteral("Entrar"), this);
    button_->setObjectName("signIn");
    // Its text goes away while a sign-in runs; the name stays for screen readers.
    button_->setAccessibleName(QStringLiteral("Entrar"));
    button_->setDefault(true);
    button_->setMinimumWidth(kButtonLabelWidth + 24);
    makeProminent(button_);
    button_->setMinimumHeight(button_->sizeHint().height() + 6);
    buttonSpinner_ = new Spinner(16, button_);
    buttonSpinner_->hide();
    column->addWidget(button_, 0, Qt::AlignHCenter);

    error_ = new QLabel(this);
    error_->setObjectName("error");
    error_->setFont(calloutFont());
    error_->setWordWrap(true);
    error_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setTextColor(error_, redColor());
    // Its line is kept while empty, so a message appearing does not shift the whole form.
    QSizePolicy policy = error_->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    error_->setSizePolicy(policy);
    error_->setMinimumHeight(QFontMetrics(error_->font()).height());
    // The whole width of the column, so that a long message wraps instead of being cut.
    column->addWidget(error_);
    column->addStretch(1);

    connect(email_, &QLineEdit::textChanged, this, &LoginView::updateButton);
    connect(password_, &QLineEdit::textChanged, this, &LoginView::updateButton);
    connect(password_, &QLineEdit::returnPressed, this, &LoginView::go);
    connect(button_, &QPushButton::clicked, this, &LoginView::go);
    connect(&session_, &SessionModel::errorChanged, this, &LoginView::showError);

    reset();
    showError();
}

void LoginView::reset()
{
    showServer();
    email_->setText(settings::value(QStringLiteral("email")).value_or(QString()));
    password_->clear();
    setBusy(false);
    // Whoever signed in here before only needs to type the password.
    (email_->text().isEmpty() ? email_ : password_)->setFocus();
}

void LoginView::go()
{
    setBusy(true);
    const QString email = email_->text();
    const QString password = password_->text();
    QPointer<LoginView> self(this);
    QPointer<SessionModel> session(&session_);
    spawn([self, session, email, password]() -> QCoro::Task<void> {
        if (session)
            co_await session->login(email, password);
        if (!self || !session)
            co_return;
        self->setBusy(false);
        if (session->user())
            self->password_->clear();
    });
}

void LoginView::setBusy(bool busy)
{
    busy_ = busy;
    updateButton();
}

void LoginView::updateButton()
{
    // Blanks count as characters: only truly empty fields keep the button off.
    button_->setEnabled(!busy_ && !email_->text().isEmpty() && !password_->text().isEmpty());
    button_->setText(busy_ ? QString() : QStringLiteral("Entrar"));
    buttonSpinner_->setVisible(busy_);
    if (busy_) {
        const QSize size = buttonSpinner_->sizeHint();
        buttonSpinner_->setGeometry(QRect(QPoint((button_->width() - size.width()) / 2,
                                                 (button_->height() - size.height()) / 2),
                                          size));
    }
}

void LoginView::showError()
{
    const auto& error = session_.error();
    setPlainText(error_, error.value_or(QString()));
    error_->setVisible(error.has_value());
    // The transport's own words help whoever looks into a failure, not the message.
    error_->setToolTip(plainToolTip(session_.errorDetail()));
}

void LoginView::askServer()
{
    auto* dialog = new ServerDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QDialog::accepted, this, &LoginView::showServer);
    serverDialog_ = dialog;
    dialog->open();
}

void LoginView::showServer()
{
    const ServerOrigin origin = describeServerOrigin();
    QString text = QStringLiteral("Servidor: ") + origin.host;
    if (origin.unencrypted)
        text += QStringLiteral(" · conexión sin cifrar");
    setPlainText(server_, text);
    setTextColor(server_, origin.unencrypted ? redColor() : secondaryColor());
    server_->setVisible(!origin.builtIn);
}

}  // namespace zafrel::ui
