#include "app/Icons.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <map>

#include "model/NodeIconRegistry.h"

namespace {

QPixmap Canvas() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    return pm;
}

QIcon Envelope(QColor body, QColor mark = Qt::transparent) {
    QPixmap pm = Canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(body.darker(160), 1));
    p.setBrush(body);
    p.drawRect(QRectF(1.5, 3.5, 13, 9));
    p.drawPolyline(QPolygonF({QPointF(1.5, 3.5), QPointF(8, 9), QPointF(14.5, 3.5)}));
    if (mark != Qt::transparent) {
        p.setPen(Qt::NoPen);
        p.setBrush(mark);
        p.drawEllipse(QRectF(9, 8, 6.5, 6.5));
    }
    return QIcon(pm);
}

QIcon Tray(QColor color, bool lid = false) {
    QPixmap pm = Canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(color.darker(170), 1));
    p.setBrush(color);
    p.drawRoundedRect(QRectF(1.5, 6.5, 13, 7), 1.5, 1.5);
    if (lid) p.drawRect(QRectF(3.5, 2.5, 9, 3));
    return QIcon(pm);
}

QIcon Registry(bool item) {
    QPixmap pm = Canvas();
    QPainter p(&pm);
    for (int i = 0; i < (item ? 1 : 3); ++i) {
        QColor c = QColor::fromHsv(200 + 40 * i, 160, 210);
        p.fillRect(QRect(2 + i * 2, 2 + i * 4, 11 - i * 2, item ? 11 : 4), c);
        p.setPen(c.darker(160));
        p.drawRect(QRect(2 + i * 2, 2 + i * 4, 11 - i * 2, item ? 11 : 4));
    }
    return QIcon(pm);
}

QIcon Star(QColor color) {
    QPixmap pm = Canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    for (int i = 0; i < 10; ++i) {
        double r = i % 2 ? 3.0 : 7.0;
        double a = 3.14159 / 5 * i - 3.14159 / 2;
        QPointF pt(8 + r * std::cos(a), 8.5 + r * std::sin(a));
        i == 0 ? path.moveTo(pt) : path.lineTo(pt);
    }
    path.closeSubpath();
    p.setPen(color.darker(160));
    p.setBrush(color);
    p.drawPath(path);
    return QIcon(pm);
}

QIcon Named(const std::u16string& key) {
    static std::map<std::u16string, QIcon> cache;
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    QIcon icon;
    if (key == u"Inbox")
        icon = Tray(QColor(90, 140, 220));
    else if (key == u"Outbox")
        icon = Tray(QColor(230, 150, 60));
    else if (key == u"Draft")
        icon = Envelope(QColor(250, 240, 200), QColor(120, 120, 120));
    else if (key == u"Sent")
        icon = Envelope(QColor(210, 240, 210), QColor(60, 160, 60));
    else if (key == u"Deleted")
        icon = Tray(QColor(170, 170, 170), true);
    else if (key == u"Nospec")
        icon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    else if (key == u"Message")
        icon = Envelope(QColor(255, 255, 240));
    else if (key == u"Local")
        icon = Tray(QColor(120, 180, 120), true);
    else if (key == u"OE")
        icon = Envelope(QColor(200, 220, 250), QColor(40, 90, 200));
    else if (key == u"Registry")
        icon = Registry(false);
    else if (key == u"RegistryItem")
        icon = Registry(true);
    else if (key == u"FavoriteItem" || key == u"Favorites")
        icon = Star(QColor(250, 200, 40));
    else if (key == u"Folder")
        icon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    else
        icon = Named(u"Inbox");  // an unknown key shows image 0, as the registry says
    cache[key] = icon;
    return icon;
}

}  // namespace

QIcon AppIcon() {
    static QIcon icon = [] {
        QIcon result;
        for (int size : {16, 32, 48, 64, 128}) {
            QPixmap pm(size, size);
            pm.fill(Qt::transparent);
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(size / 64.0, size / 64.0);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(44, 98, 168));
            p.drawRoundedRect(QRectF(4, 18, 56, 42), 8, 8);  // the archive box
            p.setBrush(QColor(255, 255, 255));
            p.drawRect(QRectF(14, 4, 36, 26));  // a letter going in
            p.setPen(QPen(QColor(44, 98, 168), 3));
            p.drawPolyline(QPolygonF({QPointF(14, 4), QPointF(32, 18), QPointF(50, 4)}));
            p.setPen(QPen(QColor(255, 200, 60), 5, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(22, 40), QPointF(42, 40));
            result.addPixmap(pm);
        }
        return result;
    }();
    return icon;
}

QIcon IconForFileName(const QString& name, bool folder) {
    static QFileIconProvider provider;
    if (folder) return provider.icon(QFileIconProvider::Folder);
    QMimeType mime = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(mime.iconName(), QIcon::fromTheme(mime.genericIconName()));
    return icon.isNull() ? provider.icon(QFileIconProvider::File) : icon;
}

QIcon IconForKey(const std::u16string& key) {
    return Named(key);
}

QIcon IconForIndex(int index) {
    auto entries = v::NodeIconRegistry::Instance().Entries();
    if (index < 0 || index >= static_cast<int>(entries.size())) return {};
    const auto& e = entries[static_cast<size_t>(index)];
    if (!e.namedKey.empty()) return Named(e.namedKey);
    if (e.systemKey == "folder") return IconForFileName({}, true);
    return IconForFileName(QStringLiteral("x") + QString::fromStdString(e.systemKey.substr(1)),
                           false);
}
