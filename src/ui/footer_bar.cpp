#include "ui/footer_bar.h"

#include "engine/upload_manager.h"
#include "platform/format.h"
#include "platform/write_failures.h"
#include "present/run_text.h"
#include "ui/elided_label.h"
#include "ui/icons.h"
#include "ui/spinner.h"
#include "ui/style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace zafrel::ui {

namespace {
constexpr int kSymbolSize = 16;
}

FooterBar::FooterBar(UploadManager& up, QWidget* parent) : QWidget(parent), up_(up)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 10, 16, 10);
    column->setSpacing(8);

    bar_ = new QProgressBar(this);
    bar_->setObjectName("runProgress");
    bar_->setAccessibleName(QStringLiteral("Progreso de la subida"));
    bar_->setRange(0, 100);
    bar_->setTextVisible(false);
    bar_->setFixedHeight(6);
    QColor track = secondaryColor();
    track.setAlphaF(0.18);
    bar_->setStyleSheet(QStringLiteral("QProgressBar { border: none; border-radius: 3px; background: %1; }"
                                       "QProgressBar::chunk { border-radius: 3px; background: %2; }")
                            .arg(track.name(QColor::HexArgb), accentColor().name()));
    column->addWidget(bar_);

    // A file of the program's own that could not be saved: said once, and it stays said.
    notice_ = new QLabel(this);
    notice_->setObjectName("footerNotice");
    notice_->setWordWrap(true);
    notice_->setFont(calloutFont());
    setTextColor(notice_, orangeColor());
    notice_->hide();
    column->addWidget(notice_);
    const auto showNotice = [this](const QString& message) {
        notice_->setText(notice_->text().isEmpty() ? message : notice_->text() + u'\n' + message);
        notice_->show();
    };
    for (const QString& message : WriteFailures::instance().told())
        showNotice(message);
    connect(&WriteFailures::instance(), &WriteFailures::failed, this, showNotice);

    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    spinner_ = new Spinner(14, this);
    symbol_ = new QLabel(this);
    symbol_->setObjectName("footerSymbol");
    symbol_->setFixedSize(kSymbolSize, kSymbolSize);
    // Both lines give up room before the buttons do: a narrow window shortens them with an ellipsis.
    state_ = new ElidedLabel(Qt::ElideRight, this);
    state_->setObjectName("footerState");
    state_->setAccessibleName(QStringLiteral("Estado de la subida"));
    state_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    detail_ = new ElidedLabel(Qt::ElideRight, this);
    detail_->setObjectName("footerDetail");
    detail_->setAccessibleName(QStringLiteral("Detalle de la subida"));
    detail_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setTextColor(detail_, secondaryColor());
    auto* lines = new QVBoxLayout;
    lines->setSpacing(2);
    lines->addWidget(state_);
    lines->addWidget(detail_);

    retryFailed_ = new QPushButton(QStringLiteral("Reintentar fallidos"), this);
    retryFailed_->setObjectName("retryFailed");
    rateMark_ = new QLabel(this);
    rateMark_->setObjectName("sendRateMark");
    rateMark_->setTextFormat(Qt::PlainText);
    rateMark_->setToolTip(QStringLiteral("Límite de velocidad de subida (menú de la cuenta)"));
    setTextColor(rateMark_, secondaryColor());
    // Stops the run without giving anything up: "Continuar pendientes" sends what is missing.
    pauseAll_ = new QPushButton(QStringLiteral("Pausar todo"), this);
    pauseAll_->setObjectName("pauseAll");
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

    for (QWidget* widget : std::initializer_list<QWidget*>{state_, detail_, rateMark_, retryFailed_, pauseAll_, cancelAll_, report_, clear_})
        widget->setFont(calloutFont());
    for (QPushButton* button : {retryFailed_, pauseAll_, cancelAll_, report_, clear_}) {
        giveRoom(button);
        clickOnReturn(button);
    }

    row->addWidget(spinner_, 0, Qt::AlignVCenter);
    row->addWidget(symbol_, 0, Qt::AlignVCenter);
    row->addLayout(lines, 1);
    row->addWidget(rateMark_, 0, Qt::AlignVCenter);
    row->addWidget(retryFailed_);
    row->addWidget(pauseAll_);
    row->addWidget(cancelAll_);
    row->addWidget(report_);
    row->addWidget(clear_);
    column->addLayout(row);

    connect(retryFailed_, &QPushButton::clicked, this, &FooterBar::retryFailedRequested);
    connect(pauseAll_, &QPushButton::clicked, this, [this] { up_.pauseAll(); });
    connect(cancelAll_, &QPushButton::clicked, this, &FooterBar::cancelAllRequested);
    connect(report_, &QPushButton::clicked, this, &FooterBar::reportRequested);
    connect(clear_, &QPushButton::clicked, this, &FooterBar::clearRequested);

    showIdle();
}

void FooterBar::showSymbol(const QString& symbol, const QColor& color)
{
    symbol_->setVisible(!symbol.isEmpty());
    symbol_->setProperty("symbol", symbol);
    symbol_->setProperty("symbolColor", color);
    if (!symbol.isEmpty())
        symbol_->setPixmap(symbolPixmap(symbol, color, kSymbolSize, devicePixelRatioF()));
}

void FooterBar::showDetail(const QString& counts)
{
    // The route the run takes (direct or accelerated) closes the second line.
    QStringList parts;
    if (!counts.isEmpty())
        parts << counts;
    if (const QString route = routeText(up_.route()); !route.isEmpty())
        parts << route;
    detail_->setText(parts.join(QStringLiteral(" · ")));
    detail_->setVisible(!parts.isEmpty());
}

void FooterBar::showRateMark()
{
    const int64_t rate = up_.sendRate();
    rateMark_->setVisible(rate > 0);
    if (rate > 0)
        rateMark_->setText(QStringLiteral("Límite: ") + formatByteCount(rate) + QStringLiteral("/s"));
}

void FooterBar::showRunning(const RunProgress& progress, std::optional<double> secondsLeft)
{
    state_->setText(runningText(progress, up_.speed(), secondsLeft));
    setTextColor(state_, palette().color(QPalette::WindowText));
    showDetail(runningCounts(progress));
    bar_->setValue(progress.percent());
    bar_->show();
    spinner_->show();
    showSymbol(QString(), QColor());
    showRateMark();
    retryFailed_->hide();
    pauseAll_->show();
    cancelAll_->show();
    report_->hide();
    clear_->hide();
}

void FooterBar::showIdle()
{
    const Summary summary = up_.summary();
    const bool empty = up_.items().empty();
    if (empty) {
        state_->setText(QStringLiteral("Sin subidas"));
        setTextColor(state_, secondaryColor());
        showSymbol(QString(), QColor());
    } else {
        state_->setText(finishedText(summary));
        setTextColor(state_, palette().color(QPalette::WindowText));
        showSymbol(finishedSymbol(summary), finishedCleanly(summary) ? greenColor() : orangeColor());
    }
    // Why the last run stopped before its end, when it was not the user's choice. An ended session
    // is not said here: this window only shows once someone has signed in again.
    const std::optional<PauseCause> cause = up_.pauseCause();
    showDetail(cause && *cause != PauseCause::SessionEnded ? pauseMessage(*cause) : QString());
    bar_->hide();
    spinner_->hide();
    showRateMark();
    retryFailed_->setVisible(summary.errors + summary.cancelled > 0);
    pauseAll_->hide();
    cancelAll_->hide();
    report_->setVisible(!empty);
    clear_->setVisible(!empty);
}

}  // namespace zafrel::ui
