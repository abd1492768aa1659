#include "ui/server_dialog.h"

#include "client/server_origin.h"
#include "platform/build_config.h"
#include "platform/settings.h"
#include "ui/style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace zafrel::ui {

ServerDialog::ServerDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Servidor"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(10);
    column->addWidget(new QLabel(QStringLiteral("Dirección del servicio de la productora (la que da su equipo técnico);\n"
                                                "vacío, el servicio de Zafrel."),
                                 this));
    const QString builtIn = QString::fromUtf8(build::defaultServer);
    const QString current = configuredOrigin();
    field_ = new QLineEdit(current == builtIn ? QString() : current, this);
    field_->setObjectName("serverField");
    field_->setAccessibleName(QStringLiteral("Dirección del servidor"));
    field_->setPlaceholderText(builtIn);
    field_->setMinimumWidth(360);
    giveRoom(field_);
    column->addWidget(field_);
    meaning_ = new QLabel(this);
    meaning_->setObjectName("serverMeaning");
    meaning_->setTextFormat(Qt::PlainText);
    meaning_->setWordWrap(true);
    meaning_->setFont(calloutFont());
    column->addWidget(meaning_);
    save_ = addCancelAndDefault(this, column, QStringLiteral("Guardar"));
    save_->setObjectName("saveServer");

    connect(field_, &QLineEdit::textChanged, this, &ServerDialog::showMeaning);
    connect(save_, &QPushButton::clicked, this, [this] {
        if (!usable())
            return;
        const QString origin = typed();
        settings::setValue(QStringLiteral("serverURL"), origin.isEmpty() ? QString::fromUtf8(build::defaultServer) : origin);
        accept();
    });
    showMeaning();
}

QString ServerDialog::typed() const
{
    QString text = field_->text().trimmed();
    while (text.endsWith(u'/'))
        text.chop(1);
    return text;
}

bool ServerDialog::usable() const
{
    const QString text = typed();
    if (text.isEmpty())
        return true;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == u"https" || scheme == u"http");
}

void ServerDialog::showMeaning()
{
    const bool ok = usable();
    save_->setEnabled(ok);
    if (!ok) {
        meaning_->setText(QStringLiteral("No es una dirección: escríbela entera, por ejemplo https://subidas.productora.es"));
        setTextColor(meaning_, redColor());
        return;
    }
    const QString text = typed();
    if (text.isEmpty()) {
        meaning_->setText(QStringLiteral("El servicio de Zafrel"));
        setTextColor(meaning_, secondaryColor());
        return;
    }
    const ServerOrigin origin = describeServerOrigin(text);
    if (origin.unencrypted) {
        meaning_->setText(QStringLiteral("Conexión sin cifrar: la contraseña viajaría legible por la red hasta ") + origin.host
                          + QStringLiteral(". Usa https:// salvo que el equipo técnico diga otra cosa."));
        setTextColor(meaning_, redColor());
    } else {
        meaning_->setText(QStringLiteral("Servidor: ") + origin.host);
        setTextColor(meaning_, secondaryColor());
    }
}

}  // namespace zafrel::ui
