// The program's pictures (SVG in the Qt resource) and fonts.
#pragma once

#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace vexo {

// Resource path of a picture by base name ("app", "promoted", ...).
QString PicturePath(const QString& name);

// The picture rendered at `size` (device-independent pixels) for the given device pixel ratio; sharp at any
// scale because it is drawn from the vector source. Cached.
QPixmap Picture(const QString& name, QSize size, qreal devicePixelRatio = 1.0);

// The window and tray icon.
QIcon AppIcon();

// The program's typeface: "SimSun", "宋体", then the system's CJK fonts; size in pixels.
QFont UiFont(int pixelSize, bool bold = false);

}  // namespace vexo
