// The bundled symbols: each one the interface names is drawn, in the colour asked for.
#include "ui/icons.h"

#include <QImage>

#include <gtest/gtest.h>

namespace zafrel::ui {
namespace {

TEST(Symbols, EveryNamedSymbolIsDrawnInItsColour)
{
    const QStringList symbols = {"clock", "arrow.up.circle", "checkmark.circle.fill", "equal.circle",
                                 "exclamationmark.circle.fill", "slash.circle", "pause.circle", "xmark", "folder",
                                 "folder.fill", "person.circle", "tray.and.arrow.up", "exclamationmark.triangle.fill"};
    const QColor colour(200, 30, 60);
    for (const QString& symbol : symbols) {
        ASSERT_TRUE(hasSymbol(symbol)) << symbol.toStdString();
        const QImage image = symbolPixmap(symbol, colour, 24, 2.0).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(48, 48)) << symbol.toStdString();
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() == 255) {
                    ++opaque;
                    EXPECT_EQ(pixel.rgb(), colour.rgb()) << symbol.toStdString();
                }
            }
        EXPECT_GT(opaque, 20) << symbol.toStdString();
    }
}

TEST(Symbols, UnknownSymbolGivesNothing)
{
    EXPECT_FALSE(hasSymbol("no.such.symbol"));
    EXPECT_TRUE(symbolPixmap("no.such.symbol", Qt::black, 16).isNull());
}

TEST(Symbols, LogoIsBundled)
{
    ensureResources();
    EXPECT_FALSE(QImage(":/symbol.png").isNull());
}

}  // namespace
}  // namespace zafrel::ui
