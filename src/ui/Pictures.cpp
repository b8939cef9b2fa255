#include "ui/Pictures.h"

#include <QHash>
#include <QPainter>
#include <QStringList>
#include <QSvgRenderer>
#include <cmath>

// The resource is built into the static ui library; register it before the first look-up.
static void InitVexoResource() {
    Q_INIT_RESOURCE(vexo);
}

namespace vexo {

QString PicturePath(const QString& name) {
    static const bool registered = [] {
        InitVexoResource();
        return true;
    }();
    (void)registered;
    return QStringLiteral(":/vexo/images/%1.svg").arg(name);
}

QPixmap Picture(const QString& name, QSize size, qreal devicePixelRatio) {
    static QHash<QString, QPixmap> cache;
    const QString key =
        QStringLiteral("%1@%2x%3@%4").arg(name).arg(size.width()).arg(size.height()).arg(devicePixelRatio);
    if (auto it = cache.constFind(key); it != cache.constEnd())
        return *it;
    const QSize pixels(static_cast<int>(std::ceil(size.width() * devicePixelRatio)),
                       static_cast<int>(std::ceil(size.height() * devicePixelRatio)));
    QPixmap pixmap(pixels);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(PicturePath(name));
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    cache.insert(key, pixmap);
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(Picture(QStringLiteral("app"), QSize(side, side)));
    return icon;
}

QFont UiFont(int pixelSize, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans SC"),
                      QStringLiteral("Source Han Sans SC"), QStringLiteral("Droid Sans Fallback")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

}  // namespace vexo
