// Draws the station's splash picture: tools/splash/make_splash <out.jpg>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.jpg\n", argv[0]);
        return 2;
    }
    QGuiApplication app(argc, argv);

    const int w = 640, h = 400;
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient background(0, 0, 0, h);
    background.setColorAt(0.0, QColor(20, 48, 84));
    background.setColorAt(1.0, QColor(8, 20, 38));
    p.fillRect(image.rect(), background);

    // A carton face with its glue dots, the thing the station looks at.
    const QRect box(60, 110, 180, 180);
    p.setPen(QPen(QColor(120, 90, 50), 3));
    p.setBrush(QColor(196, 160, 110));
    p.drawRoundedRect(box, 6, 6);
    const QPoint dots[] = {{100, 150}, {200, 150}, {150, 200}, {100, 250}, {200, 250}};
    for (const QPoint &c : dots) {
        QRadialGradient glue(c, 14, c - QPoint(4, 4));
        glue.setColorAt(0.0, QColor(255, 255, 240));
        glue.setColorAt(1.0, QColor(230, 200, 120));
        p.setPen(QPen(QColor(0, 200, 0), 2));
        p.setBrush(glue);
        p.drawEllipse(c, 12, 12);
    }

    p.setPen(Qt::white);
    QFont title(QStringLiteral("WenQuanYi Micro Hei"), 26, QFont::Bold);
    p.setFont(title);
    p.drawText(QRect(260, 120, 360, 60), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("小盒胶点检测系统"));
    QFont name(QStringLiteral("DejaVu Sans"), 30, QFont::Bold);
    p.setFont(name);
    p.setPen(QColor(120, 200, 255));
    p.drawText(QRect(260, 180, 360, 60), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Gluebox"));
    QFont small(QStringLiteral("DejaVu Sans"), 11);
    p.setFont(small);
    p.setPen(QColor(200, 210, 225));
    p.drawText(QRect(260, 240, 360, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Glue-dot inspection station — starting…"));
    p.end();

    return image.save(QString::fromLocal8Bit(argv[1]), nullptr, 92) ? 0 : 1;
}
