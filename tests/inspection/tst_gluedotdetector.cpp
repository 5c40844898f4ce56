#include "BoxImageGenerator.h"
#include "GlueDotDecoding.h"
#include "GlueDotDetector.h"

#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <unistd.h>

// Drawing, then the shipped model (station/model, station/bin/alg_jd.jpg) in a throw-away
// station folder, since the detector reads "../model/..." and "alg_jd.jpg" from bin/.
class tst_GlueDotDetector : public QObject
{
    Q_OBJECT

private:
    QString m_previousDir;
    QTemporaryDir m_station;

    static QString shipped(const QString &relative)
    {
        return QStringLiteral(GLUEBOX_SOURCE_DIR "/station/") + relative;
    }
    QString stationFile(const QString &relative) const { return m_station.filePath(relative); }

    // Text printed on standard output while `f` runs.
    template <typename F>
    static QByteArray printedBy(F f)
    {
        QTemporaryFile capture;
        if (!capture.open())
            return "capture failed";
        std::fflush(stdout);
        const int saved = ::dup(STDOUT_FILENO);
        ::dup2(capture.handle(), STDOUT_FILENO);
        f();
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
        QFile read(capture.fileName());
        return read.open(QIODevice::ReadOnly) ? read.readAll() : QByteArray();
    }

    static cv::Mat labelReference(const cv::Mat &blank, const std::string &text, int left, int top, int right,
                                  int bottom, cv::Scalar colour)
    {
        cv::Mat ref = blank.clone();
        cv::rectangle(ref, cv::Point(left, top), cv::Point(right, bottom), colour, 4, cv::LINE_8);
        int baseLine = 0;
        const int textHeight = cv::getTextSize(text, 0, 1.0, 1, &baseLine).height;
        cv::putText(ref, text, cv::Point(left, std::max(top, textHeight) - 5), 0, 0.8, colour, 1, cv::LINE_8);
        return ref;
    }
    static bool same(const cv::Mat &a, const cv::Mat &b)
    {
        return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
    }
    // Each found box against the labels: count, and every label matched at IoU >= 0.5.
    static int matched(const std::vector<cv::Rect2f> &labels, const std::vector<Detection> &found)
    {
        int n = 0;
        for (const cv::Rect2f &l : labels) {
            for (const Detection &d : found) {
                const cv::Rect2f b(float(d.x), float(d.y), float(d.width), float(d.height));
                const float inter = (l & b).area();
                if (inter / (l.area() + b.area() - inter) >= 0.5f) {
                    ++n;
                    break;
                }
            }
        }
        return n;
    }
    bool installModel(bool names, bool cfgAndWeights)
    {
        QDir(stationFile(QStringLiteral("model"))).removeRecursively();
        QDir().mkpath(stationFile(QStringLiteral("model")));
        bool ok = true;
        if (names)
            ok &= QFile::copy(shipped(QStringLiteral("model/jd.names")), stationFile(QStringLiteral("model/jd.names")));
        if (cfgAndWeights) {
            ok &= QFile::copy(shipped(QStringLiteral("model/jd.cfg")), stationFile(QStringLiteral("model/jd.cfg")));
            ok &= QFile::copy(shipped(QStringLiteral("model/jd.weights")),
                              stationFile(QStringLiteral("model/jd.weights")));
        }
        return ok;
    }
    bool installWarmUp(const cv::Mat &image)
    {
        QFile::remove(stationFile(QStringLiteral("bin/alg_jd.jpg")));
        return image.empty() || cv::imwrite(stationFile(QStringLiteral("bin/alg_jd.jpg")).toStdString(), image);
    }
    static cv::Mat bgr(const cv::Mat &image)
    {
        cv::Mat out;
        if (image.channels() == 1)
            cv::cvtColor(image, out, cv::COLOR_GRAY2BGR);
        else
            out = image;
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_station.isValid());
        QVERIFY(QDir().mkpath(stationFile(QStringLiteral("bin"))));
        m_previousDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(stationFile(QStringLiteral("bin"))));
    }
    void cleanupTestCase() { QDir::setCurrent(m_previousDir); }

    // --- drawing ---

    void labelText_data()
    {
        QTest::addColumn<int>("top");
        QTest::newRow("far from the top") << 120;
        QTest::newRow("at the top edge") << 0;
        QTest::newRow("just below the top") << 6;
        QTest::newRow("above the image") << -15;
    }
    void labelText()
    {
        QFETCH(int, top);
        GlueDotDetector::classNames = {"glue"};
        const cv::Mat blank(240, 400, CV_8UC3, cv::Scalar(30, 30, 30));
        cv::Mat image = blank.clone();
        GlueDotDetector::drawDetection(0, 0.8734f, 20, top, 300, 200, image);
        QVERIFY(same(image, labelReference(blank, "glue: 87.34%", 20, top, 300, 200, cv::Scalar(0, 255, 0))));
    }

    // Near the top the label sits at the same height whatever the box's top, inside the image.
    void labelNeverAboveTheImage()
    {
        GlueDotDetector::classNames = {"glue"};
        const cv::Mat blank(120, 400, CV_8UC3, cv::Scalar(0, 0, 0));
        cv::Mat a = blank.clone(), b = blank.clone();
        // Boxes far to the right so that only the label lands in columns 0..199.
        GlueDotDetector::drawDetection(0, 0.5f, 0, 0, 390, 110, a);
        GlueDotDetector::drawDetection(0, 0.5f, 0, 10, 390, 110, b);
        const cv::Rect labelArea(6, 0, 194, 40);
        cv::Mat la, lb;
        cv::inRange(a(labelArea), cv::Scalar(0, 1, 0), cv::Scalar(0, 255, 0), la);
        cv::inRange(b(labelArea), cv::Scalar(0, 1, 0), cv::Scalar(0, 255, 0), lb);
        QVERIFY(cv::countNonZero(la(cv::Rect(0, 14, la.cols, 26))) > 20);
        // Rows 0..3 carry a's top line and rows 10..13 b's; compare only the rows below those.
        QVERIFY(same(la(cv::Rect(0, 14, la.cols, 26)), lb(cv::Rect(0, 14, lb.cols, 26))));
    }

    void colours_data()
    {
        QTest::addColumn<int>("classId");
        QTest::addColumn<int>("blue");
        QTest::addColumn<int>("green");
        QTest::newRow("class 0 green") << 0 << 0 << 255;
        QTest::newRow("class 1 blue") << 1 << 255 << 0;
        QTest::newRow("class 2 green") << 2 << 0 << 255;
    }
    void colours()
    {
        QFETCH(int, classId);
        QFETCH(int, blue);
        QFETCH(int, green);
        GlueDotDetector::classNames = {"glue", "glue b", "glue c"};
        cv::Mat image(200, 200, CV_8UC3, cv::Scalar(0, 0, 0));
        GlueDotDetector::drawDetection(classId, 0.9f, 50, 60, 150, 160, image);
        for (const cv::Point &p : {cv::Point(50, 110), cv::Point(150, 110), cv::Point(100, 60), cv::Point(100, 161)})
            QCOMPARE(image.at<cv::Vec3b>(p), cv::Vec3b(uchar(blue), uchar(green), 0));
        QCOMPARE(image.at<cv::Vec3b>(100, 110), cv::Vec3b(0, 0, 0)); // inside stays untouched
    }

    void classIdOutsideNames()
    {
        GlueDotDetector::classNames = {"glue"};
        cv::Mat image(100, 100, CV_8UC3, cv::Scalar(0, 0, 0));
        GlueDotDetector::drawDetection(0, 0.5f, 10, 10, 50, 50, image); // the last valid id
        try {
            GlueDotDetector::drawDetection(1, 0.5f, 10, 10, 50, 50, image);
            QFAIL("no exception for class id 1 with one class name");
        } catch (const cv::Exception &e) {
            QCOMPARE(QString::fromStdString(e.err), QStringLiteral("classId < (int)classes.size()"));
            QCOMPARE(QString::fromStdString(e.func), QStringLiteral("drawPred"));
        }
    }

    void noClassNames()
    {
        GlueDotDetector::classNames.clear();
        const cv::Mat blank(100, 200, CV_8UC3, cv::Scalar(0, 0, 0));
        cv::Mat image = blank.clone();
        const QByteArray out = printedBy([&] { GlueDotDetector::drawDetection(5, 0.123456f, 10, 50, 150, 90, image); });
        QCOMPARE(out, QByteArray("classes is empty...\n"));
        QVERIFY(same(image, labelReference(blank, "12.35%", 10, 50, 150, 90, cv::Scalar(0, 255, 0))));
    }

    // --- with the shipped model ---

    void initFailures()
    {
        GlueDotDetector detector;
        const cv::Mat warmUp = cv::imread(shipped(QStringLiteral("bin/alg_jd.jpg")).toStdString(), cv::IMREAD_COLOR);
        QVERIFY(!warmUp.empty());

        QVERIFY(installModel(false, true));
        QVERIFY(installWarmUp(warmUp));
        QVERIFY(!detector.initDetector()); // no names file

        QVERIFY(installModel(true, true));
        QVERIFY(installWarmUp(cv::Mat()));
        QVERIFY(!detector.initDetector()); // no warm-up image

        QVERIFY(installWarmUp(cv::Mat(544, 728, CV_8UC3, cv::Scalar(128, 128, 128))));
        QVERIFY(!detector.initDetector()); // nothing to find on it

        QVERIFY(installModel(true, false));
        QVERIFY(installWarmUp(warmUp));
        QVERIFY_EXCEPTION_THROWN(detector.initDetector(), std::runtime_error); // no network files
    }

    // The blob's size comes from the cfg's [net] section; a size the network cannot take
    // fails the self-check with its reason instead of a forward that breaks on every product.
    void inputSizeFromCfg_data()
    {
        QTest::addColumn<QString>("net"); // the [net] lines, in place of the shipped ones
        QTest::addColumn<QSize>("input"); // empty when the self-check must fail
        QTest::addColumn<QString>("why");
        QTest::newRow("as shipped") << "width=416\nheight=416" << QSize(416, 416) << "";
        QTest::newRow("wider than high, spaces") << "width = 608\nheight= 448" << QSize(608, 448) << "";
        QTest::newRow("no sizes") << "channels=3" << QSize() << "[net] gives no width and height";
        QTest::newRow("no height") << "width=416" << QSize() << "[net] gives no height";
        QTest::newRow("not a multiple of 32") << "width=400\nheight=416" << QSize() << "width=400: the input must be";
        QTest::newRow("zero") << "width=416\nheight=0" << QSize() << "height=0: the input must be";
        QTest::newRow("negative") << "width=-32\nheight=416" << QSize() << "width=-32: the input must be";
        QTest::newRow("not a number") << "width=4l6\nheight=416" << QSize() << "width=4l6: the input must be";
        QTest::newRow("absurdly large") << "width=32768\nheight=416" << QSize() << "width=32768: the input must be";
    }
    void inputSizeFromCfg()
    {
        QFETCH(QString, net);
        QFETCH(QSize, input);
        QFETCH(QString, why);
        QVERIFY(installModel(true, true));
        QVERIFY(installWarmUp(cv::imread(shipped(QStringLiteral("bin/alg_jd.jpg")).toStdString(), cv::IMREAD_COLOR)));
        QFile file(stationFile(QStringLiteral("model/jd.cfg")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString cfg = QString::fromUtf8(file.readAll());
        file.close();
        cfg.replace(QRegularExpression(QStringLiteral("width=\\d+\nheight=\\d+")), net);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(cfg.toUtf8());
        file.close();

        GlueDotDetector detector;
        QString error;
        bool ok = false;
        try {
            ok = detector.initDetector();
        } catch (const std::runtime_error &e) {
            error = QString::fromUtf8(e.what());
        }
        if (input.isEmpty()) {
            QVERIFY2(error.contains(why) && error.contains(QStringLiteral("jd.cfg")), qPrintable(error));
            return;
        }
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(ok); // the shipped weights, fully convolutional, still find the warm-up's dots
        QCOMPARE(detector.inputSize(), cv::Size(input.width(), input.height()));
        const BoxImageGenerator gen(2);
        std::vector<cv::Mat> drawn;
        std::vector<std::vector<Detection>> results;
        const cv::Mat image = bgr(gen.picture(1000).image);
        detector.detectBatch({image, image}, drawn, results);
        QCOMPARE(int(results.size()), 2);
        QCOMPARE(results[0].size(), results[1].size());
    }

    void initWithShippedModel()
    {
        QVERIFY(installModel(true, true));
        QFile::remove(stationFile(QStringLiteral("bin/alg_jd.jpg")));
        QVERIFY(QFile::copy(shipped(QStringLiteral("bin/alg_jd.jpg")), stationFile(QStringLiteral("bin/alg_jd.jpg"))));
        GlueDotDetector::classNames.clear();
        QByteArray out;
        bool ok = false;
        out = printedBy([&] { ok = g_detector[0].initDetector(); });
        QVERIFY(ok);
        // Where inference runs is said once per process: perhaps already by an earlier case.
        QVERIFY2(out.isEmpty() || out == "Glue-dot detector runs on the CPU (no CUDA device).\n"
                     || out == "Glue-dot detector runs on CUDA.\n",
                 out.constData());
        QCOMPARE(printedBy([&] { ok = g_detector[1].initDetector(); }), QByteArray());
        QVERIFY(ok);
        QCOMPARE(GlueDotDetector::classNames, std::vector<std::string>{"glue"});
        QCOMPARE(int(GlueDotDetector::outputLayerNames.size()), 1);
    }

    // Generated pictures with known dots: the counts come out right (one picture of the
    // twelve may be off by one: the model is about 99 % precise, as gluegen_eval measures
    // on many more) and the boxes land on the dots.
    void detectOneFindsKnownDots()
    {
        const BoxImageGenerator gen(2); // a seed the model was not trained on
        int labelled = 0, found = 0, hits = 0, wrongCounts = 0;
        for (int i = 0; i < 12; ++i) {
            BoxImageGenerator::Options o;
            o.colour = i % 3 == 0;
            o.minDots = 1;
            o.distractors = false;
            const BoxImageGenerator::Picture p = gen.picture(1000 + i, o);
            const cv::Mat image = bgr(p.image);
            const cv::Mat before = image.clone();
            cv::Mat drawn;
            std::vector<Detection> dots{Detection{}}; // detections are appended
            const int n = g_detector[0].detectOne(image, drawn, dots);
            QVERIFY(same(image, before));
            QCOMPARE(n, int(dots.size()));
            dots.erase(dots.begin());
            wrongCounts += dots.size() != p.dots.size();
            QVERIFY2(std::abs(int(dots.size()) - int(p.dots.size())) <= 1 && wrongCounts <= 1,
                     qPrintable(QStringLiteral("picture %1: %2 found, %3 labelled").arg(i).arg(dots.size()).arg(p.dots.size())));
            labelled += int(p.dots.size());
            found += int(dots.size());
            hits += matched(p.dots, dots);
            QCOMPARE(drawn.size(), image.size());
            QCOMPARE(drawn.type(), CV_8UC3);
            QVERIFY(!same(drawn, image)); // boxes drawn on the copy
        }
        QVERIFY2(hits >= labelled * 97 / 100 && std::abs(found - labelled) <= 1,
                 qPrintable(QStringLiteral("%1 labelled, %2 found, %3 matched").arg(labelled).arg(found).arg(hits)));
    }

    void detectOneWithoutDots()
    {
        const BoxImageGenerator gen(2);
        BoxImageGenerator::Options o;
        o.minDots = o.maxDots = 0;
        o.distractors = false;
        const cv::Mat image = bgr(gen.picture(2000, o).image);
        cv::Mat drawn;
        std::vector<Detection> found;
        QCOMPARE(g_detector[0].detectOne(image, drawn, found), 0);
        QVERIFY(same(drawn, image));
    }

    // The detector's own blob must be the one OpenCV makes with the same settings: any
    // drift (a channel order, a scale, a resize) would silently shift every score.
    void blobMatchesOpenCv_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QSize>("input");
        QTest::newRow("one colour image") << 0 << QSize(416, 416);
        QTest::newRow("three images of three sizes") << 1 << QSize(416, 416);
        QTest::newRow("already 416 x 416") << 2 << QSize(416, 416);
        QTest::newRow("grey image (OpenCV's path)") << 3 << QSize(416, 416);
        QTest::newRow("a region of a larger frame") << 4 << QSize(416, 416);
        QTest::newRow("three sizes into 736 x 544") << 1 << QSize(736, 544);
        QTest::newRow("grey into 320 x 640") << 3 << QSize(320, 640);
    }

    void blobMatchesOpenCv()
    {
        QFETCH(int, kind);
        QFETCH(QSize, input);
        const cv::Size size(input.width(), input.height());
        cv::RNG rng(kind + 1);
        auto noise = [&](int rows, int cols, int type) {
            cv::Mat m(rows, cols, type);
            rng.fill(m, cv::RNG::UNIFORM, 0, 256);
            return m;
        };
        std::vector<cv::Mat> images;
        switch (kind) {
        case 0: images = {noise(544, 728, CV_8UC3)}; break;
        case 1: images = {noise(544, 728, CV_8UC3), noise(100, 900, CV_8UC3), noise(600, 33, CV_8UC3)}; break;
        case 2: images = {noise(416, 416, CV_8UC3)}; break;
        case 3: images = {noise(544, 728, CV_8UC1)}; break;
        case 4: images = {noise(1632, 728, CV_8UC3)(cv::Rect(0, 544, 728, 544))}; break;
        }
        cv::Mat mine(3, 3, CV_32F, cv::Scalar(7)); // a buffer of another shape is replaced
        GlueDotDetector::makeBlob(images, size, mine);
        const cv::Mat theirs = cv::dnn::blobFromImages(images, 1.0 / 255.0, size, cv::Scalar(), true, false, CV_32F);
        QCOMPARE(mine.dims, 4);
        for (int d = 0; d < 4; ++d)
            QCOMPARE(mine.size[d], theirs.size[d]);
        QCOMPARE(cv::norm(mine, theirs, cv::NORM_INF), 0.0); // bit for bit: any drift moves a score
    }

    // Three sizes of one picture in one pass: each image's boxes are in its own pixels and
    // agree with what detectOne finds on it alone. The sizes keep the dots within the range
    // the model was taught; at half size its smallest dots turn into specks.
    // The detector's batch path against the plain one it stands for: OpenCV's own blob, a
    // network of its own, the decoding and the drawing on a copy. Same dots, same drawn
    // images, byte for byte, over products of the line, handed over in three channels or
    // grey as the cameras give them (the grey network's first layer sums the three
    // channels' weights: the same function to rounding).
    void detectBatchAsPlainPath_data()
    {
        QTest::addColumn<int>("product");
        QTest::addColumn<bool>("grey");
        for (bool grey : {false, true})
            for (int product : {0, 1, 7, 12, 30})
                QTest::newRow(qPrintable(QStringLiteral("product %1%2").arg(product).arg(grey ? ", grey" : "")))
                    << product << grey;
    }
    void detectBatchAsPlainPath()
    {
        QFETCH(int, product);
        QFETCH(bool, grey);
        const BoxImageGenerator gen(2);
        std::vector<cv::Mat> images, given;
        for (const BoxImageGenerator::Picture &p : gen.product(product).images) {
            images.push_back(bgr(p.image));
            cv::Mat g;
            cv::cvtColor(images.back(), g, cv::COLOR_BGR2GRAY);
            // Grey as a camera gives it: the three channels of the reference all equal it.
            if (grey)
                cv::cvtColor(g, images.back(), cv::COLOR_GRAY2BGR);
            given.push_back(grey ? g : images.back());
        }
        std::vector<cv::Mat> drawn;
        std::vector<std::vector<Detection>> results;
        g_detector[0].detectBatch(given, drawn, results);
        cv::Mat drawnOne;
        std::vector<Detection> foundOne;
        g_detector[0].detectOne(given[0], drawnOne, foundOne);
        QVERIFY(same(drawnOne, drawn[0]));

        static cv::dnn::Net net = [] {
            cv::dnn::Net n = cv::dnn::readNetFromDarknet("../model/jd.cfg", "../model/jd.weights");
            n.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
            n.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
            return n;
        }();
        net.setInput(cv::dnn::blobFromImages(images, 1.0 / 255.0, cv::Size(416, 416), cv::Scalar(), true, false));
        std::vector<cv::Mat> outs;
        net.forward(outs, net.getUnconnectedOutLayersNames());
        QCOMPARE(int(results.size()), int(images.size()));
        for (int b = 0; b < int(images.size()); ++b) {
            std::vector<cv::Mat> planes;
            for (const cv::Mat &out : outs)
                planes.push_back(cv::Mat(out.size[1], out.size[2], CV_32F, const_cast<float *>(out.ptr<float>(b))));
            cv::Mat reference = images[b].clone();
            const std::vector<ScoredDetection> found = GlueDotDecoding::decode(planes, images[b].size());
            QCOMPARE(results[b].size(), found.size());
            for (size_t k = 0; k < found.size(); ++k) {
                const Detection &d = found[k].detection, &mine = results[b][k];
                QVERIFY(mine.classId == d.classId && mine.x == d.x && mine.y == d.y && mine.width == d.width
                        && mine.height == d.height);
                GlueDotDetector::drawDetection(d.classId, found[k].confidence, d.x, d.y, d.x + d.width,
                                               d.y + d.height, reference);
            }
            QVERIFY(same(drawn[b], reference));
        }
    }

    void detectBatchScalesEachImage()
    {
        const BoxImageGenerator gen(2);
        BoxImageGenerator::Options o;
        o.minDots = o.maxDots = 5;
        o.distractors = false;
        const cv::Mat base = bgr(gen.picture(3000, o).image);
        const double scales[3] = {1.0, 0.75, 1.5};
        std::vector<cv::Mat> images;
        for (double s : scales) {
            cv::Mat im;
            cv::resize(base, im, cv::Size(), s, s, cv::INTER_LINEAR);
            images.push_back(im);
        }
        std::vector<cv::Mat> drawn(1);
        std::vector<std::vector<Detection>> results(1);
        g_detector[0].detectBatch(images, drawn, results);
        QCOMPARE(int(drawn.size()), 4);
        QCOMPARE(int(results.size()), 4);
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(drawn[k + 1].size(), images[k].size());
            const std::vector<Detection> &batch = results[k + 1];
            QCOMPARE(int(batch.size()), 5);
            cv::Mat one;
            std::vector<Detection> single;
            g_detector[0].detectOne(images[k], one, single);
            QCOMPARE(int(single.size()), int(batch.size()));
            for (const Detection &d : batch) {
                // The same box from the single pass, to a pixel.
                bool agrees = false;
                for (const Detection &s : single)
                    agrees |= std::abs(s.x - d.x) <= 1 && std::abs(s.y - d.y) <= 1
                              && std::abs(s.width - d.width) <= 1 && std::abs(s.height - d.height) <= 1;
                QVERIFY(agrees);
                // And the box of the full-size picture, scaled.
                bool scaled = false;
                for (const Detection &b : results[1]) {
                    const double tol = 3 * scales[k] + 1;
                    scaled |= std::abs(b.x * scales[k] - d.x) <= tol && std::abs(b.y * scales[k] - d.y) <= tol
                              && std::abs(b.width * scales[k] - d.width) <= tol
                              && std::abs(b.height * scales[k] - d.height) <= tol;
                }
                QVERIFY2(scaled, qPrintable(QStringLiteral("image %1: %2,%3 %4x%5")
                                                .arg(k).arg(d.x).arg(d.y).arg(d.width).arg(d.height)));
            }
        }
    }

    // Products of three stacked images, cut as the work thread cuts them: each image's count
    // is the number of its own dots, and its boxes land on them.
    void productCounts()
    {
        const BoxImageGenerator gen(2);
        int labelled = 0, hits = 0;
        for (int i = 0; i < 4; ++i) {
            const BoxImageGenerator::Product p = gen.product(100 + i, i == 1);
            const cv::Mat stacked = bgr(p.stacked);
            std::vector<cv::Mat> parts;
            for (int k = 0; k < 3; ++k)
                parts.push_back(stacked(cv::Rect(0, k * 544, 728, 544)).clone());
            std::vector<cv::Mat> drawn;
            std::vector<std::vector<Detection>> results;
            g_detector[0].detectBatch(parts, drawn, results);
            QCOMPARE(int(results.size()), 3);
            for (int k = 0; k < 3; ++k) {
                QCOMPARE(results[k].size(), p.images[k].dots.size());
                labelled += int(p.images[k].dots.size());
                hits += matched(p.images[k].dots, results[k]);
            }
        }
        QVERIFY2(hits >= labelled * 97 / 100, qPrintable(QStringLiteral("%1 of %2").arg(hits).arg(labelled)));
    }

    void warmUpLeavesResultsAlone()
    {
        const BoxImageGenerator gen(2);
        const cv::Mat image = bgr(gen.picture(1001).image);
        cv::Mat drawn;
        std::vector<Detection> before, after;
        g_detector[0].detectOne(image, drawn, before);
        batchWarmUp({0});
        g_detector[0].detectOne(image, drawn, after);
        QCOMPARE(after.size(), before.size());
        for (size_t k = 0; k < before.size(); ++k)
            QCOMPARE(after[k].x, before[k].x);
    }
};

QTEST_GUILESS_MAIN(tst_GlueDotDetector)
#include "tst_gluedotdetector.moc"
