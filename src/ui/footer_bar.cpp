#include "ui/footer_bar.h"

#include "engine/upload_manager.h"
#include "platform/format.h"
#include "ui/elided_label.h"
#include "ui/icons.h"
#include "ui/spinner.h"
#include "ui/style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace zafrel::ui {

namespace {
constexpr int kSymbolSize = 16;
}

FooterBar::FooterBar(UploadManager& up, QWidget* parent) : QWidget(parent), up_(up)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(12);

    spinner_ = new Spinner(14, this);
    symbol_ = new QLabel(this);
    symbol_->setObjectName("footerSymbol");
    symbol_->setFixedSize(kSymbolSize, kSymbolSize);
    // Both give up room before the buttons do: a narrow window shortens them with an ellipsis.
    state_ = new ElidedLabel(Qt::ElideRight, this);
    state_->setObjectName("footerState");
    state_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    route_ = new ElidedLabel(Qt::ElideRight, this);
    route_->setObjectName("footerRoute");
    route_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setTextColor(route_, secondaryColor());

    resume_ = new QPushButton(QStringLiteral("Continuar pendientes"), this);
    resume_->setObjectName("resumePaused");
    cancelAll_ = new QPushButton(QStringLiteral("Cancelar todo"), this);
    cancelAll_->setObjectName("cancelAll");
    // The destructive role: red text, as the desktop's own warnings.
    {
        QPalette palette = cancelAll_->palette();
        palette.setColor(QPalette::ButtonText, redColor());
        cancelAll_->setPalette(palette);
    }
    report_ = new QPushButton(QStringLiteral("Informe"), this);
    report_->setObjectName("showReport");
    clear_ = new QPushButton(QStringLiteral("Limpiar"), this);
    clear_->setObjectName("clearFinished");

    for (QWidget* widget : std::initializer_list<QWidget*>{state_, route_, resume_, cancelAll_, report_, clear_})
        widget->setFont(calloutFont());
    for (QPushButton* button : {resume_, cancelAll_, report_, clear_})
        giveRoom(button);

    row->addWidget(spinner_);
    row->addWidget(symbol_);
    row->addWidget(state_);
    row->addWidget(route_);
    row->addStretch(1);
    row->addWidget(resume_);
    row->addWidget(cancelAll_);
    row->addWidget(report_);
    row->addWidget(clear_);

    connect(resume_, &QPushButton::clicked, this, [this] { up_.resumePaused(); });
    connect(cancelAll_, &QPushButton::clicked, this, [this] { up_.cancelAll(); });
    connect(report_, &QPushButton::clicked, this, &FooterBar::reportRequested);
    connect(clear_, &QPushButton::clicked, this, [this] { up_.clearFinished(); });

    refresh();
}

void FooterBar::refresh()
{
    const Summary summary = up_.summary();
    const auto& items = up_.items();
    const bool running = up_.isRunning();

    QString symbol;
    QColor symbolColor;
    if (running) {
        const auto perSecond = static_cast<int64_t>(std::trunc(std::max(0.0, up_.speed())));
        state_->setText(QString::number(summary.active) + QStringLiteral(" en curso · ") + formatByteCount(perSecond)
                        + QStringLiteral("/s"));
        setTextColor(state_, palette().color(QPalette::WindowText));
    } else if (items.empty()) {
        state_->setText(QStringLiteral("Sin subidas"));
        setTextColor(state_, secondaryColor());
    } else {
        symbol = summary.errors > 0 ? QStringLiteral("exclamationmark.triangle.fill") : QStringLiteral("checkmark.circle.fill");
        symbolColor = summary.errors > 0 ? orangeColor() : greenColor();
        QString text = QString::number(summary.done) + QStringLiteral(" subidos y verificados · ") + formatByteCount(summary.bytes);
        if (summary.skipped > 0)
            text += QStringLiteral(" · ") + QString::number(summary.skipped) + QStringLiteral(" ya existían");
        if (summary.errors > 0)
            text += QStringLiteral(" · ") + QString::number(summary.errors) + QStringLiteral(" errores");
        state_->setText(text);
        setTextColor(state_, palette().color(QPalette::WindowText));
    }
    spinner_->setVisible(running);
    symbol_->setVisible(!symbol.isEmpty());
    symbol_->setProperty("symbol", symbol);
    symbol_->setProperty("symbolColor", symbolColor);
    if (!symbol.isEmpty())
        symbol_->setPixmap(symbolPixmap(symbol, symbolColor, kSymbolSize, devicePixelRatioF()));

    const QString route = up_.route();
    route_->setVisible(!route.isEmpty());
    route_->setText(route.isEmpty() ? QString() : QStringLiteral("· ") + route);

    const bool anyPaused = std::any_of(items.begin(), items.end(),
                                       [](const ItemPtr& item) { return item->status() == Status::Paused; });
    resume_->setVisible(anyPaused);
    cancelAll_->setVisible(running);
    report_->setVisible(!running && !items.empty());
    clear_->setVisible(!running && !items.empty());
}

}  // namespace zafrel::ui
