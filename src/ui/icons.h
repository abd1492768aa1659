#pragma once
// The interface's symbols ("clock", "arrow.up.circle", "folder.fill", …), drawn from SVG files
// bundled in the program and tinted when painted, so that they look the same on every desktop
// whatever its icon theme.
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace zafrel::ui {

// Whether the program bundles a drawing for `symbol`.
bool hasSymbol(const QString& symbol);

// `symbol` in `color`, `size` logical pixels square, sharp at `devicePixelRatio`. Cached; an unknown
// symbol gives a null pixmap.
QPixmap symbolPixmap(const QString& symbol, const QColor& color, int size, qreal devicePixelRatio = 1.0);

// The same as an icon for buttons and actions.
QIcon symbolIcon(const QString& symbol, const QColor& color, int size);

// Makes the program's bundled resources (symbols, logo) reachable; safe to call repeatedly.
void ensureResources();

}  // namespace zafrel::ui
