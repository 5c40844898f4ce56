#include "GlueDotDecoding.h"

#include <QtTest>

#include <initializer_list>

// Output rows as the network gives them: cx, cy, w, h (relative), objectness, class scores.
class tst_GlueDotDecoding : public QObject
{
    Q_OBJECT

private:
    static cv::Mat rows(std::initializer_list<std::initializer_list<float>> values)
    {
        const int cols = int(values.begin()->size());
        cv::Mat m(int(values.size()), cols, CV_32F);
        int r = 0;
        for (const auto &row : values) {
            Q_ASSERT(int(row.size()) == cols);
            int c = 0;
            for (float v : row)
                m.at<float>(r, c++) = v;
            ++r;
        }
        return m;
    }
    static QString boxes(const std::vector<ScoredDetection> &found)
    {
        QStringList s;
        for (const ScoredDetection &d : found)
            s << QStringLiteral("%1:%2,%3,%4,%5")
                     .arg(d.detection.classId)
                     .arg(d.detection.x)
                     .arg(d.detection.y)
                     .arg(d.detection.width)
                     .arg(d.detection.height);
        return s.join(QLatin1Char(' '));
    }

private slots:
    void threshold_data()
    {
        QTest::addColumn<float>("score");
        QTest::addColumn<int>("kept");
        QTest::newRow("exactly 0.1") << 0.1f << 0;
        QTest::newRow("just above 0.1") << 0.1000001f << 1;
        QTest::newRow("below") << 0.09f << 0;
        QTest::newRow("zeroed by the yolo layer") << 0.0f << 0;
        QTest::newRow("sure") << 0.99f << 1;
    }
    void threshold()
    {
        QFETCH(float, score);
        QFETCH(int, kept);
        const auto found = GlueDotDecoding::decode({rows({{0.5f, 0.5f, 0.1f, 0.1f, 1.0f, score}})}, cv::Size(728, 544));
        QCOMPARE(int(found.size()), kept);
        if (kept)
            QCOMPARE(found[0].confidence, score);
    }

    // The objectness column is ignored: the class scores alone decide.
    void objectnessIgnored()
    {
        const cv::Mat m = rows({{0.2f, 0.2f, 0.05f, 0.05f, 0.0f, 0.5f}, {0.8f, 0.8f, 0.05f, 0.05f, 0.99f, 0.05f}});
        const auto found = GlueDotDecoding::decode({m}, cv::Size(100, 100));
        QCOMPARE(boxes(found), QStringLiteral("0:18,18,5,5"));
    }

    // Integer parts first, then half the integer width by integer division.
    void integerBoxArithmetic_data()
    {
        QTest::addColumn<float>("cx");
        QTest::addColumn<float>("cy");
        QTest::addColumn<float>("w");
        QTest::addColumn<float>("h");
        QTest::addColumn<QString>("box");
        // w·W = 21.84 -> 21, cx·W = 364 -> 364 - 10 = 354; h·H = 27.2 -> 27, cy·H = 272 -> 272 - 13.
        QTest::newRow("odd sizes") << 0.5f << 0.5f << 0.03f << 0.05f << "0:354,259,21,27";
        // Near the left and top edges the box is not clipped.
        QTest::newRow("left edge") << 0.01f << 0.5f << 0.1f << 0.05f << "0:-29,259,72,27";
        QTest::newRow("top-left corner") << 0.0f << 0.0f << 0.05f << 0.05f << "0:-18,-13,36,27";
        // ... nor at the right and bottom edges.
        QTest::newRow("right edge") << 0.99f << 0.99f << 0.1f << 0.1f << "0:684,511,72,54";
    }
    void integerBoxArithmetic()
    {
        QFETCH(float, cx);
        QFETCH(float, cy);
        QFETCH(float, w);
        QFETCH(float, h);
        QFETCH(QString, box);
        const auto found = GlueDotDecoding::decode({rows({{cx, cy, w, h, 1.0f, 0.9f}})}, cv::Size(728, 544));
        QCOMPARE(boxes(found), box);
    }

    void ties_data()
    {
        QTest::addColumn<QVector<float>>("scores");
        QTest::addColumn<int>("classId");
        QTest::newRow("equal scores take the first") << QVector<float>{0.7f, 0.7f, 0.2f} << 0;
        QTest::newRow("equal later scores") << QVector<float>{0.2f, 0.7f, 0.7f} << 1;
        QTest::newRow("clear maximum") << QVector<float>{0.2f, 0.3f, 0.8f} << 2;
    }
    void ties()
    {
        QFETCH(QVector<float>, scores);
        QFETCH(int, classId);
        cv::Mat m(1, 5 + scores.size(), CV_32F, cv::Scalar(0));
        m.at<float>(0, 0) = 0.5f;
        m.at<float>(0, 1) = 0.5f;
        m.at<float>(0, 2) = 0.1f;
        m.at<float>(0, 3) = 0.1f;
        for (int k = 0; k < scores.size(); ++k)
            m.at<float>(0, 5 + k) = scores[k];
        const auto found = GlueDotDecoding::decode({m}, cv::Size(400, 400));
        QCOMPARE(int(found.size()), 1);
        QCOMPARE(found[0].detection.classId, classId);
    }

    // Suppression does not look at classes: of two overlapping boxes only the higher stays.
    void suppressionAcrossClasses()
    {
        // Same size, shifted by a tenth of their width: overlap far above 0.4.
        const cv::Mat m = rows({{0.50f, 0.5f, 0.1f, 0.1f, 1.0f, 0.6f, 0.0f},
                                {0.51f, 0.5f, 0.1f, 0.1f, 1.0f, 0.0f, 0.8f}});
        const auto found = GlueDotDecoding::decode({m}, cv::Size(1000, 1000));
        QCOMPARE(boxes(found), QStringLiteral("1:460,450,100,100"));
        QCOMPARE(found[0].confidence, 0.8f);
    }

    void suppressionBoundary_data()
    {
        QTest::addColumn<float>("shift");
        QTest::addColumn<int>("kept");
        // Boxes 100 px wide shifted by d overlap (100 - d) / (100 + d).
        QTest::newRow("overlap 0.54") << 0.03f << 1;
        QTest::newRow("overlap 0.43") << 0.04f << 1;
        QTest::newRow("overlap 0.33") << 0.05f << 2;
        QTest::newRow("apart") << 0.3f << 2;
    }
    void suppressionBoundary()
    {
        QFETCH(float, shift);
        QFETCH(int, kept);
        const cv::Mat m = rows({{0.5f, 0.5f, 0.1f, 1.0f, 1.0f, 0.9f}, {0.5f + shift, 0.5f, 0.1f, 1.0f, 1.0f, 0.5f}});
        const auto found = GlueDotDecoding::decode({m}, cv::Size(1000, 100));
        QCOMPARE(int(found.size()), kept);
        QCOMPARE(found[0].confidence, 0.9f);
    }

    // Candidates of all output matrices are suppressed together, best first.
    void severalOutputs()
    {
        const cv::Mat a = rows({{0.2f, 0.2f, 0.1f, 0.1f, 1.0f, 0.3f}});
        const cv::Mat b = rows({{0.2f, 0.2f, 0.1f, 0.1f, 1.0f, 0.7f}, {0.7f, 0.7f, 0.1f, 0.1f, 1.0f, 0.5f}});
        const auto found = GlueDotDecoding::decode({a, b}, cv::Size(100, 100));
        QCOMPARE(boxes(found), QStringLiteral("0:15,15,10,10 0:65,65,10,10"));
        QCOMPARE(found[0].confidence, 0.7f);
        QCOMPARE(found[1].confidence, 0.5f);
    }

    void nothing()
    {
        QVERIFY(GlueDotDecoding::decode({}, cv::Size(728, 544)).empty());
        QVERIFY(GlueDotDecoding::decode({cv::Mat(0, 6, CV_32F)}, cv::Size(728, 544)).empty());
    }
};

QTEST_GUILESS_MAIN(tst_GlueDotDecoding)
#include "tst_gluedotdecoding.moc"
