#include "ui/icons.h"

#include <QHash>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

// The resources live in a static library, so the linker does not run their registration by
// itself; Q_INIT_RESOURCE must be called from the global namespace.
static void registerZafrelUiResources()
{
    Q_INIT_RESOURCE(zafrel_ui);
}

namespace zafrel::ui {

namespace {

QString resourceOf(const QString& symbol)
{
    static const QHash<QString, QString> files = {
        {"clock", "clock.svg"},
        {"arrow.up.circle", "circle-arrow-up.svg"},
        {"checkmark.circle.fill", "circle-check-filled.svg"},
        {"equal.circle", "circle-equal.svg"},
        {"exclamationmark.circle.fill", "alert-circle-filled.svg"},
        {"slash.circle", "ban.svg"},
        {"pause.circle", "circle-pause.svg"},
        {"xmark", "x.svg"},
        {"folder", "folder.svg"},
        {"folder.fill", "folder-filled.svg"},
        {"person.circle", "user-circle.svg"},
        {"tray.and.arrow.up", "upload.svg"},
        {"exclamationmark.triangle.fill", "alert-triangle-filled.svg"},
    };
    auto it = files.find(symbol);
    return it == files.end() ? QString() : QStringLiteral(":/icons/") + it.value();
}

}  // namespace

void ensureResources()
{
    static const bool registered = [] {
        registerZafrelUiResources();
        return true;
    }();
    (void)registered;
}

bool hasSymbol(const QString& symbol)
{
    return !resourceOf(symbol).isEmpty();
}

QPixmap symbolPixmap(const QString& symbol, const QColor& color, int size, qreal devicePixelRatio)
{
    ensureResources();
    const QString file = resourceOf(symbol);
    if (file.isEmpty() || size <= 0)
        return {};
    const QString key = QStringLiteral("%1|%2|%3|%4").arg(symbol).arg(color.rgba(), 8, 16).arg(size).arg(devicePixelRatio);
    // Rows repaint often and every row asks for the same few symbols: keep them.
    static QHash<QString, QPixmap> cache;
    if (auto it = cache.constFind(key); it != cache.constEnd())
        return it.value();

    const int pixels = std::max(1, int(std::lround(size * devicePixelRatio)));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(file);
    if (!renderer.isValid())
        return {};
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
        // The drawing's own colour is irrelevant: keep its shape and paint it in `color`.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    if (cache.size() > 512)
        cache.clear();
    cache.insert(key, pixmap);
    return pixmap;
}

QIcon symbolIcon(const QString& symbol, const QColor& color, int size)
{
    QIcon icon;
    for (qreal ratio : {1.0, 2.0})
        icon.addPixmap(symbolPixmap(symbol, color, size, ratio));
    return icon;
}

}  // namespace zafrel::ui
