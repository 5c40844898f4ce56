// Draws the window's button and camera pictures: make_icons OUT_DIR
// (the committed set lives in app/resources/; remake it with
//  build/tools/make_icons app/resources).
//
// Border images are stretched to their button, so each picture is drawn at twice its
// button's size and aspect ratio; a picture carries its own tile, symbol and caption,
// because the buttons have no text of their own.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

const QColor kGreen(0, 150, 60);
const QColor kAmber(230, 150, 0);
const QColor kBlue(30, 100, 180);
const QColor kSlate(90, 100, 115);
const QColor kRed(200, 40, 40);
const QColor kInk(255, 255, 255);

QFont captionFont(int pixelSize)
{
    QFont f(QStringLiteral("WenQuanYi Micro Hei"));
    f.setPixelSize(pixelSize);
    f.setBold(true);
    return f;
}

// A rounded tile lit from above, filling the whole picture.
void drawTile(QPainter &p, const QRectF &r, const QColor &base)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0.0, base.lighter(135));
    g.setColorAt(1.0, base.darker(130));
    p.setPen(QPen(base.lighter(170), 2));
    p.setBrush(g);
    const qreal radius = qMin(r.width(), r.height()) * 0.16;
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius, radius);
}

void drawCaption(QPainter &p, const QRectF &r, const QString &text, int pixelSize)
{
    p.setFont(captionFont(pixelSize));
    p.setPen(kInk);
    p.drawText(r, Qt::AlignCenter, text);
}

// The symbol area of a tall button: the top two thirds.
QRectF symbolArea(const QImage &img)
{
    return QRectF(0, img.height() * 0.08, img.width(), img.height() * 0.58);
}

QRectF captionArea(const QImage &img)
{
    return QRectF(0, img.height() * 0.66, img.width(), img.height() * 0.3);
}

QPointF centre(const QRectF &r) { return r.center(); }

void drawPlay(QPainter &p, const QRectF &a)
{
    const qreal s = qMin(a.width(), a.height()) * 0.6;
    const QPointF c = centre(a);
    QPainterPath tri;
    tri.moveTo(c.x() - s * 0.35, c.y() - s * 0.5);
    tri.lineTo(c.x() + s * 0.5, c.y());
    tri.lineTo(c.x() - s * 0.35, c.y() + s * 0.5);
    tri.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPath(tri);
}

void drawPauseBars(QPainter &p, const QRectF &a)
{
    const qreal s = qMin(a.width(), a.height()) * 0.6;
    const QPointF c = centre(a);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(c.x() - s * 0.4, c.y() - s * 0.5, s * 0.28, s), 3, 3);
    p.drawRoundedRect(QRectF(c.x() + s * 0.12, c.y() - s * 0.5, s * 0.28, s), 3, 3);
}

void drawPadlock(QPainter &p, const QRectF &a, bool open)
{
    const qreal s = qMin(a.width(), a.height()) * 0.7;
    const QPointF c = centre(a);
    const QRectF body(c.x() - s * 0.4, c.y() - s * 0.05, s * 0.8, s * 0.55);
    QPen shackle(kInk, s * 0.12, Qt::SolidLine, Qt::RoundCap);
    p.setPen(shackle);
    p.setBrush(Qt::NoBrush);
    const QRectF arc(c.x() - s * 0.26, c.y() - s * 0.5, s * 0.52, s * 0.6);
    if (open) {
        // Shackle swung up and to the left: the button unlocks.
        p.drawArc(arc.translated(-s * 0.3, -s * 0.08), 0, 180 * 16);
        const qreal x = arc.right() - s * 0.3;
        p.drawLine(QPointF(x, arc.center().y() - s * 0.08), QPointF(x, c.y() - s * 0.02));
    } else {
        p.drawArc(arc, 0, 180 * 16);
        p.drawLine(QPointF(arc.left(), arc.center().y()), QPointF(arc.left(), body.top()));
        p.drawLine(QPointF(arc.right(), arc.center().y()), QPointF(arc.right(), body.top()));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(body, 4, 4);
    p.setBrush(QColor(0, 0, 0, 150));
    p.drawEllipse(QPointF(c.x(), body.center().y() - s * 0.04), s * 0.07, s * 0.07);
    p.drawRect(QRectF(c.x() - s * 0.03, body.center().y(), s * 0.06, s * 0.14));
}

void drawGear(QPainter &p, const QRectF &a)
{
    const qreal r = qMin(a.width(), a.height()) * 0.34;
    const QPointF c = centre(a);
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal a0 = (i * M_PI) / teeth;
        const qreal a1 = ((i + 1) * M_PI) / teeth;
        const qreal rr = (i % 2 == 0) ? r : r * 0.78;
        const QPointF p0 = c + QPointF(qCos(a0) * rr, qSin(a0) * rr);
        const QPointF p1 = c + QPointF(qCos(a1) * rr, qSin(a1) * rr);
        if (i == 0)
            gear.moveTo(p0);
        else
            gear.lineTo(p0);
        gear.lineTo(p1);
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(c, r * 0.32, r * 0.32);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPath(gear.subtracted(hole));
}

// An industrial camera seen from the side: body, lens, and a cable on the back.
void drawCamera(QPainter &p, const QRectF &a, const QColor &lens)
{
    const qreal s = qMin(a.width(), a.height());
    const QPointF c = centre(a);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    const QRectF body(c.x() - s * 0.42, c.y() - s * 0.26, s * 0.6, s * 0.52);
    p.drawRoundedRect(body, 4, 4);
    p.drawRect(QRectF(body.right(), c.y() - s * 0.18, s * 0.1, s * 0.36));
    p.setBrush(lens);
    p.drawEllipse(QPointF(body.right() + s * 0.15, c.y()), s * 0.12, s * 0.2);
    p.setBrush(QColor(0, 0, 0, 90));
    p.drawRect(QRectF(body.left() + s * 0.06, body.top() + s * 0.08, s * 0.2, s * 0.06));
}

void drawCross(QPainter &p, const QRectF &a)
{
    const qreal s = qMin(a.width(), a.height()) * 0.22;
    const QPointF c = a.topRight() + QPointF(-s * 0.9, s * 0.9);
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawEllipse(c, s * 0.75, s * 0.75);
    p.setPen(QPen(kInk, s * 0.22, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(-s * 0.35, -s * 0.35), c + QPointF(s * 0.35, s * 0.35));
    p.drawLine(c + QPointF(s * 0.35, -s * 0.35), c + QPointF(-s * 0.35, s * 0.35));
}

void drawTick(QPainter &p, const QRectF &a)
{
    const qreal s = qMin(a.width(), a.height()) * 0.22;
    const QPointF c = a.topRight() + QPointF(-s * 0.9, s * 0.9);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 200, 80));
    p.drawEllipse(c, s * 0.75, s * 0.75);
    p.setPen(QPen(kInk, s * 0.22, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath tick;
    tick.moveTo(c + QPointF(-s * 0.38, 0));
    tick.lineTo(c + QPointF(-s * 0.08, s * 0.3));
    tick.lineTo(c + QPointF(s * 0.4, -s * 0.3));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tick);
}

void drawBell(QPainter &p, const QRectF &a)
{
    const qreal s = qMin(a.width(), a.height()) * 0.7;
    const QPointF c = centre(a);
    QPainterPath bell;
    bell.moveTo(c.x() - s * 0.42, c.y() + s * 0.28);
    bell.cubicTo(c.x() - s * 0.28, c.y() + s * 0.1, c.x() - s * 0.34, c.y() - s * 0.42,
                 c.x(), c.y() - s * 0.42);
    bell.cubicTo(c.x() + s * 0.34, c.y() - s * 0.42, c.x() + s * 0.28, c.y() + s * 0.1,
                 c.x() + s * 0.42, c.y() + s * 0.28);
    bell.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPath(bell);
    p.drawEllipse(QPointF(c.x(), c.y() + s * 0.36), s * 0.1, s * 0.1);
    p.drawEllipse(QPointF(c.x(), c.y() - s * 0.46), s * 0.06, s * 0.06);
}

void drawRotateArrow(QPainter &p, const QRectF &a)
{
    const qreal s = qMin(a.width(), a.height());
    const QPointF c = centre(a);
    const qreal r = s * 0.3;
    p.setPen(QPen(kInk, s * 0.11, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 120 * 16, 270 * 16);
    // Arrow head at the arc's end (30° past the top, clockwise).
    const qreal endAngle = qDegreesToRadians(30.0);
    const QPointF tip = c + QPointF(qCos(endAngle) * r, -qSin(endAngle) * r);
    QPainterPath head;
    head.moveTo(tip + QPointF(-s * 0.2, -s * 0.06));
    head.lineTo(tip + QPointF(s * 0.08, -s * 0.2));
    head.lineTo(tip + QPointF(s * 0.06, s * 0.12));
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPath(head);
}

void drawKeyboard(QPainter &p, const QRectF &a)
{
    const qreal w = a.width() * 0.8, h = a.height() * 0.62;
    const QRectF kb(a.center().x() - w / 2, a.center().y() - h / 2, w, h);
    p.setPen(QPen(kInk, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(kb, 5, 5);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    const int cols = 10;
    const qreal kw = kb.width() / (cols + 1), kh = kb.height() / 4.6;
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < cols - row; ++col)
            p.drawRect(QRectF(kb.left() + kw * (0.5 + col + row * 0.5) + 1,
                              kb.top() + kh * (0.5 + row * 1.05), kw - 3, kh * 0.8));
    p.drawRect(QRectF(kb.left() + kw * 2.5, kb.top() + kh * 3.7, kw * 6, kh * 0.7));
}

void drawPower(QPainter &p, const QRectF &a)
{
    const qreal s = qMin(a.width(), a.height());
    const QPointF c = centre(a);
    const qreal r = s * 0.28;
    p.setPen(QPen(kInk, s * 0.09, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 120 * 16, 300 * 16);
    p.drawLine(QPointF(c.x(), c.y() - r * 1.25), QPointF(c.x(), c.y() - r * 0.1));
}

void drawPlc(QPainter &p, const QRectF &a)
{
    const qreal s = qMin(a.width(), a.height());
    const QPointF c = centre(a);
    const QRectF module(c.x() - s * 0.36, c.y() - s * 0.38, s * 0.72, s * 0.76);
    p.setPen(QPen(kInk, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(module, 3, 3);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        p.setBrush(i == 0 ? QColor(0, 230, 90) : kInk);
        p.drawEllipse(QPointF(module.left() + s * (0.14 + 0.22 * i), module.top() + s * 0.14),
                      s * 0.05, s * 0.05);
    }
    p.setFont(captionFont(int(s * 0.26)));
    p.setPen(kInk);
    p.drawText(module.adjusted(0, s * 0.22, 0, 0), Qt::AlignCenter, QStringLiteral("PLC"));
}

// The station's mark: a box face with glue dots, one of them ringed as the detector does.
void drawMark(QPainter &p, const QRectF &a)
{
    const qreal s = qMin(a.width(), a.height());
    const QPointF c = centre(a);
    const QRectF face(c.x() - s * 0.36, c.y() - s * 0.36, s * 0.72, s * 0.72);
    p.setPen(QPen(QColor(120, 85, 40), s * 0.03));
    p.setBrush(QColor(205, 165, 110));
    p.drawRoundedRect(face, s * 0.06, s * 0.06);
    const QPointF dots[] = {{-0.18, -0.18}, {0.18, -0.18}, {0.0, 0.0}, {-0.18, 0.18}, {0.18, 0.18}};
    for (const QPointF &d : dots) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(250, 245, 225));
        p.drawEllipse(c + d * s, s * 0.07, s * 0.07);
    }
    p.setPen(QPen(QColor(0, 210, 0), s * 0.025));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(c.x() + s * 0.08, c.y() + s * 0.08, s * 0.2, s * 0.2));
}

using Painter = std::function<void(QPainter &, QImage &)>;

bool save(const QString &dir, const QString &name, QSize size, const Painter &paint)
{
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    paint(p, img);
    p.end();
    const QString path = QDir(dir).filePath(name);
    if (!img.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// Tall operation button (57 x 92 on screen): tile, symbol, caption.
Painter operation(QColor base, std::function<void(QPainter &, const QRectF &)> symbol,
                  QString caption)
{
    return [=](QPainter &p, QImage &img) {
        drawTile(p, img.rect(), base);
        symbol(p, symbolArea(img));
        drawCaption(p, captionArea(img), caption, img.width() / 4);
    };
}

// Camera button (56 x 68 on screen) for position n: plain, closed or open.
Painter cameraButton(int n, int state)
{
    return [=](QPainter &p, QImage &img) {
        const QColor base = state == 0 ? kBlue : state == 1 ? kSlate : kGreen;
        drawTile(p, img.rect(), base);
        const QRectF sym = symbolArea(img);
        drawCamera(p, sym, state == 2 ? QColor(0, 230, 90) : QColor(60, 60, 60));
        if (state == 1)
            drawCross(p, sym);
        else if (state == 2)
            drawTick(p, sym);
        drawCaption(p, captionArea(img), QStringLiteral("%1#").arg(n), img.width() / 3);
    };
}

// A square-ish picture with one symbol on a tile.
Painter symbolTile(QColor base, std::function<void(QPainter &, const QRectF &)> symbol)
{
    return [=](QPainter &p, QImage &img) {
        drawTile(p, img.rect(), base);
        symbol(p, QRectF(img.rect()));
    };
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    const QSize tall(114, 184); // 57 x 92
    bool ok = true;
    ok &= save(dir, "start.png", tall, operation(kGreen, drawPlay, QStringLiteral("启动")));
    ok &= save(dir, "pause.png", tall, operation(kAmber, drawPauseBars, QStringLiteral("暂停")));
    ok &= save(dir, "unlock.png", tall,
               operation(kBlue, [](QPainter &p, const QRectF &a) { drawPadlock(p, a, true); },
                         QStringLiteral("解锁")));
    ok &= save(dir, "lock.png", tall,
               operation(kRed, [](QPainter &p, const QRectF &a) { drawPadlock(p, a, false); },
                         QStringLiteral("锁定")));
    ok &= save(dir, "setup.png", tall, operation(kSlate, drawGear, QStringLiteral("设置")));
    ok &= save(dir, "exit.png", QSize(120, 120),
               operation(kRed, drawPower, QStringLiteral("退出")));

    for (int n = 1; n <= 4; ++n) {
        const QSize cam(112, 136); // 56 x 68
        ok &= save(dir, QStringLiteral("cam%1.png").arg(n), cam, cameraButton(n, 0));
        ok &= save(dir, QStringLiteral("cam%1_no.png").arg(n), cam, cameraButton(n, 1));
        ok &= save(dir, QStringLiteral("cam%1_yes.png").arg(n), cam, cameraButton(n, 2));
    }

    ok &= save(dir, "plc.png", QSize(80, 78), symbolTile(kBlue, drawPlc));
    ok &= save(dir, "alarm.png", QSize(64, 78), symbolTile(kAmber, drawBell));
    ok &= save(dir, "rotate.png", QSize(64, 64), symbolTile(kBlue, drawRotateArrow));
    ok &= save(dir, "keyboard.png", QSize(182, 102), symbolTile(kSlate, drawKeyboard));
    ok &= save(dir, "logo.png", QSize(98, 98),
               [](QPainter &p, QImage &img) { drawMark(p, QRectF(img.rect())); });
    // The second logo: the mark with the name beside it.
    ok &= save(dir, "logo_wide.png", QSize(384, 98), [](QPainter &p, QImage &img) {
        drawMark(p, QRectF(0, 0, img.height(), img.height()));
        p.setFont(captionFont(img.height() / 3));
        p.setPen(kBlue.lighter(140)); // legible on the dark window and on light dialogs
        p.drawText(QRectF(img.height(), 0, img.width() - img.height(), img.height()),
                   Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral(" Gluebox 胶点检测"));
    });
    return ok ? 0 : 1;
}
