#include "app/toolbaricons.h"

#include <QPainter>
#include <QPixmap>

namespace {
const QColor kSheet(0x21, 0x73, 0x46);
const QColor kDocument(0x2b, 0x57, 0x9a);
const QColor kMail(0xc2, 0x7c, 0x0e);
const QColor kInk(0x33, 0x33, 0x33);

void sheet(QPainter& p, const QRectF& r) {
    p.setPen(QPen(kSheet, 1.2));
    p.setBrush(Qt::white);
    p.drawRect(r);
    p.fillRect(QRectF(r.left(), r.top(), r.width(), r.height() / 4), kSheet);
    for (int i = 1; i < 4; ++i) {
        const qreal y = r.top() + r.height() * i / 4;
        p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
    }
    const qreal x = r.left() + r.width() / 2;
    p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
}

void document(QPainter& p, const QRectF& r) {
    p.setPen(QPen(kDocument, 1.2));
    p.setBrush(Qt::white);
    p.drawRect(r);
    p.setPen(QPen(kDocument, 1.5));
    for (int i = 1; i <= 4; ++i) {
        const qreal y = r.top() + r.height() * i / 5;
        p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
    }
}

void envelope(QPainter& p, const QRectF& r) {
    p.setPen(QPen(kMail.darker(130), 1.3));
    p.setBrush(QColor(0xff, 0xf4, 0xd6));
    p.drawRect(r);
    p.drawPolyline(QPolygonF({r.topLeft(), QPointF(r.center().x(), r.center().y() + 2), r.topRight()}));
}

void arrow(QPainter& p, QPointF from, QPointF to) {
    p.setPen(QPen(kInk, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    p.drawLine(to, to + QPointF(-4, -4));
    p.drawLine(to, to + QPointF(-4, 4));
}

void disc(QPainter& p, const QColor& color, const QString& glyph) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QRectF(3, 3, 26, 26));
    QFont font;
    font.setBold(true);
    font.setPixelSize(19);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, glyph);
}

void gear(QPainter& p) {
    const QPointF c(16, 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x60, 0x6a, 0x75));
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(c);
        p.rotate(i * 45.0);
        p.drawRect(QRectF(-3, -14, 6, 7));
        p.restore();
    }
    p.drawEllipse(c, 10, 10);
    p.setBrush(Qt::white);
    p.drawEllipse(c, 4, 4);
}

void release(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1e, 0x8e, 0x3e));
    p.drawPolygon(QPolygonF({QPointF(10, 3), QPointF(22, 3), QPointF(22, 15), QPointF(28, 15),
                             QPointF(16, 27), QPointF(4, 15), QPointF(10, 15)}));
    p.setBrush(kInk);
    p.drawRect(QRectF(4, 28, 24, 2.5));
}
} // namespace

QIcon toolbarIcon(ToolbarPicture picture) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (picture) {
    case ToolbarPicture::SheetToSheet:
        sheet(p, QRectF(1.5, 1.5, 15, 18));
        sheet(p, QRectF(15.5, 12.5, 15, 18));
        arrow(p, QPointF(4, 26), QPointF(12, 26));
        break;
    case ToolbarPicture::SheetToDocument:
        sheet(p, QRectF(1.5, 1.5, 15, 18));
        document(p, QRectF(15.5, 10.5, 15, 20));
        arrow(p, QPointF(4, 26), QPointF(12, 26));
        break;
    case ToolbarPicture::SheetToMail:
        sheet(p, QRectF(1.5, 1.5, 15, 18));
        envelope(p, QRectF(12.5, 17.5, 18, 12));
        break;
    case ToolbarPicture::BulkMail:
        envelope(p, QRectF(2.5, 3.5, 20, 13));
        envelope(p, QRectF(6.5, 9.5, 20, 13));
        envelope(p, QRectF(10.5, 15.5, 20, 13));
        break;
    case ToolbarPicture::Options:
        gear(p);
        break;
    case ToolbarPicture::Help:
        disc(p, QColor(0x2b, 0x57, 0x9a), QStringLiteral("?"));
        break;
    case ToolbarPicture::About:
        disc(p, QColor(0x1e, 0x8e, 0x3e), QStringLiteral("i"));
        break;
    case ToolbarPicture::Release:
        release(p);
        break;
    }
    p.end();
    return QIcon(pixmap);
}
