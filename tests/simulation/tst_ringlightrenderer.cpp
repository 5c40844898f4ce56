// RingLightRenderer: pictures depend on (seed, index) alone, labels are dots the detector
// can be held to, products carry the dots their defect says, and glue shows both ways.
#include "RingLightRenderer.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

namespace {

bool sameBytes(const cv::Mat &a, const cv::Mat &b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Footprint mean against a ring of board around it, on the grey image.
int polarity(const cv::Mat &image, const cv::Rect2d &box)
{
    cv::Mat grey;
    if (image.channels() == 3)
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    else
        grey = image;
    const cv::Point2d c(box.x + box.width / 2, box.y + box.height / 2);
    const double r = std::max(box.width, box.height) / 2;
    cv::Mat inside = cv::Mat::zeros(grey.size(), CV_8U), ring = inside.clone();
    cv::ellipse(inside, cv::Point(c), cv::Size(int(box.width * 0.35), int(box.height * 0.35)), 0, 0, 360, 255, cv::FILLED);
    cv::circle(ring, cv::Point(c), int(r + 6), 255, cv::FILLED);
    cv::circle(ring, cv::Point(c), int(r + 2), 0, cv::FILLED);
    const double in = cv::mean(grey, inside)[0], out = cv::mean(grey, ring)[0];
    return in > out + 5 ? 1 : in < out - 5 ? -1 : 0;
}

} // namespace

class tst_RingLightRenderer : public QObject
{
    Q_OBJECT

private slots:
    void pictures_data()
    {
        QTest::addColumn<qulonglong>("seed");
        QTest::addColumn<long>("first");
        QTest::addColumn<int>("count");
        QTest::newRow("seed 0 from 0") << qulonglong(0) << 0L << 40;
        QTest::newRow("seed 2 from 0") << qulonglong(2) << 0L << 40;
        QTest::newRow("largest seed, far index") << qulonglong(~0ull) << 999950L << 40;
    }

    void pictures()
    {
        QFETCH(qulonglong, seed);
        QFETCH(long, first);
        QFETCH(int, count);
        const RingLightRenderer renderer(seed);
        int bright = 0, dark = 0, dots = 0;
        for (long i = first + count - 1; i >= first; --i) { // backwards: order must not matter
            const RingLightRenderer::Picture p = renderer.picture(i);
            QCOMPARE(p.image.cols, RingLightRenderer::Width);
            QCOMPARE(p.image.rows, RingLightRenderer::Height);
            QVERIFY(p.image.type() == CV_8UC1 || p.image.type() == CV_8UC3);
            QVERIFY(p.dots.size() <= size_t(RingLightRenderer::MaxDots));
            for (const RingLightRenderer::Dot &d : p.dots) {
                QVERIFY2(d.box.x >= 0 && d.box.y >= 0 && d.box.br().x <= RingLightRenderer::Width &&
                             d.box.br().y <= RingLightRenderer::Height,
                         qPrintable(QStringLiteral("picture %1: box outside").arg(i)));
                for (double side : {d.box.width, d.box.height})
                    QVERIFY2(side >= RingLightRenderer::MinDot && side <= RingLightRenderer::MaxDot,
                             qPrintable(QStringLiteral("picture %1: side %2").arg(i).arg(side)));
                for (const RingLightRenderer::Dot &o : p.dots)
                    QVERIFY(&o == &d || (o.box & d.box).area() < 0.25 * std::min(o.box.area(), d.box.area()));
                const int seen = polarity(p.image, d.box);
                bright += seen > 0;
                dark += seen < 0;
                ++dots;
            }
            if (i % 10 == 0) {
                QVERIFY(sameBytes(p.image, renderer.picture(i).image));
                QVERIFY(sameBytes(p.image, RingLightRenderer(seed).picture(i).image));
                QVERIFY(!sameBytes(p.image, renderer.picture(i + 1).image));
                QVERIFY(!sameBytes(p.image, RingLightRenderer(seed + 1).picture(i).image));
            }
        }
        QVERIFY(dots > count * 3);
        // About 70 % of the dots are drawn brighter than the board; both kinds must show.
        QVERIFY2(bright > dots / 3 && dark > dots / 10,
                 qPrintable(QStringLiteral("%1 bright, %2 dark of %3").arg(bright).arg(dark).arg(dots)));
    }

    void products_data()
    {
        QTest::addColumn<qulonglong>("seed");
        QTest::newRow("seed 2") << qulonglong(2);
        QTest::newRow("seed 7") << qulonglong(7);
    }

    void products()
    {
        QFETCH(qulonglong, seed);
        const RingLightRenderer renderer(seed);
        int defects[4] = {0, 0, 0, 0};
        for (long i = 0; i < 40; ++i) {
            const RingLightRenderer::Product p = renderer.product(i);
            QCOMPARE(int(p.images.size()), 3);
            QVERIFY(p.expected >= RingLightRenderer::MinProductDots && p.expected <= RingLightRenderer::MaxDots);
            ++defects[int(p.defect)];
            QCOMPARE(p.defect == RingLightRenderer::Defect::Good, p.defectImage == -1);
            QVERIFY(p.defectImage >= -1 && p.defectImage <= 2);
            for (int k = 0; k < 3; ++k) {
                const int want = k == p.defectImage ? p.expected - 1 : p.expected;
                QVERIFY2(int(p.images[k].dots.size()) == want,
                         qPrintable(QStringLiteral("product %1 (%2) view %3: %4 dots, want %5")
                                        .arg(i)
                                        .arg(RingLightRenderer::defectName(p.defect))
                                        .arg(k)
                                        .arg(p.images[k].dots.size())
                                        .arg(want)));
                QCOMPARE(p.images[k].image.type(), p.images[0].image.type()); // they are stacked
            }
            if (i == 0)
                QVERIFY(sameBytes(p.images[2].image, RingLightRenderer(seed).product(0).images[2].image));
        }
        QVERIFY(defects[0] >= 8 && defects[0] <= 32);
        for (int k = 1; k < 4; ++k)
            QVERIFY(defects[k] > 0);
    }
};

QTEST_GUILESS_MAIN(tst_RingLightRenderer)
#include "tst_ringlightrenderer.moc"
