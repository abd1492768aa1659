#include "ui/send_rate_dialog.h"

#include "platform/byte_rate.h"
#include "platform/format.h"
#include "platform/printable.h"
#include "ui/style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace zafrel::ui {

QString sendRateMeaning(int64_t bytesPerSecond)
{
    if (bytesPerSecond <= 0)
        return QStringLiteral("Sin límite");
    const double megabits = double(bytesPerSecond) * 8 / 1e6;
    const QString bits = megabits >= 10 ? QString::number(std::llround(megabits))
                                        : QString::number(megabits, 'f', 1).replace(u'.', u',');
    return formatByteCount(bytesPerSecond) + QStringLiteral("/s · ") + bits + QStringLiteral(" Mbit/s");
}

SendRateDialog::SendRateDialog(const QString& current, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Límite de velocidad"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(10);
    auto* explanation = new QLabel(QStringLiteral("Velocidad máxima de subida, para no ocupar toda la línea:\n"
                                                  "50M = 50 MB/s, 800K = 800 KB/s; vacío, sin límite."),
                                   this);
    column->addWidget(explanation);
    field_ = new QLineEdit(current, this);
    field_->setObjectName("sendRateField");
    field_->setAccessibleName(QStringLiteral("Velocidad máxima"));
    giveRoom(field_);
    column->addWidget(field_);
    meaning_ = new QLabel(this);
    meaning_->setObjectName("sendRateMeaning");
    meaning_->setTextFormat(Qt::PlainText);
    meaning_->setFont(calloutFont());
    column->addWidget(meaning_);
    apply_ = addCancelAndDefault(this, column, QStringLiteral("Aplicar"));
    apply_->setObjectName("applySendRate");

    connect(field_, &QLineEdit::textChanged, this, &SendRateDialog::showMeaning);
    connect(apply_, &QPushButton::clicked, this, [this] {
        const std::optional<int64_t> typed = rate();
        if (!typed)
            return;
        emit applied(*typed);
        accept();
    });
    showMeaning();
}

std::optional<int64_t> SendRateDialog::rate() const
{
    const QString text = field_->text().trimmed();
    return text.isEmpty() ? std::optional<int64_t>(0) : parseByteRate(text);
}

void SendRateDialog::showMeaning()
{
    const std::optional<int64_t> typed = rate();
    apply_->setEnabled(typed.has_value());
    if (typed) {
        meaning_->setText(sendRateMeaning(*typed));
        setTextColor(meaning_, secondaryColor());
    } else {
        meaning_->setText(QStringLiteral("«%1» no es una velocidad. Escribe, por ejemplo, 50M o 800K.")
                              .arg(printable(field_->text().trimmed())));
        setTextColor(meaning_, redColor());
    }
}

}  // namespace zafrel::ui
