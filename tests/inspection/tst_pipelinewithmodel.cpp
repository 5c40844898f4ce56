#include "TempStation.h"

#include "BoxImageGenerator.h"
#include "GlueDotDetector.h"
#include "MatMetaType.h"
#include "SaveThread.h"
#include "StationQueues.h"
#include "SysConf.h"
#include "WorkThread.h"

#include <QDirIterator>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>

// The inspection worker with the shipped model and the saving thread, on generated
// products: the counts it reports are the model's own and those the products were made
// with, the verdict follows the recipe, and the files land in the image store.
class tst_PipelineWithModel : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempStation> m_station;

    static bool copy(const QString &relative, const QString &to)
    {
        return QFile::copy(QStringLiteral(GLUEBOX_SOURCE_DIR "/station/") + relative, to);
    }

    struct Verdicts : QObject
    {
        QStringList events;
        explicit Verdicts(WorkThread &w)
        {
            connect(&w, &WorkThread::display_jd_no, this,
                    [this](int, const QString &t) { events << "jd_no " + t; });
            connect(&w, &WorkThread::event_ok, this, [this](int) { events << "ok"; });
            connect(&w, &WorkThread::event_ng, this, [this](int) { events << "ng"; });
        }
    };

    // The worker of position 1 and the saving thread, running; on destruction the worker
    // stops first and the saver then writes what was queued before its own stop.
    struct Rig
    {
        SaveThread saver;
        WorkThread worker;
        Verdicts verdicts{worker};
        Rig()
        {
            worker.init(g_image_queue[1], 3, 1);
            saver.start();
            worker.start();
        }
    };

    static void recipe(int a, int b, int c, int save)
    {
        QMutexLocker locker(&g_sys_conf.lock);
        g_sys_conf.NO[1][0] = a;
        g_sys_conf.NO[1][1] = b;
        g_sys_conf.NO[1][2] = c;
        g_sys_conf.SHOOT[1] = 3;
        g_sys_conf.SAVE = save;
        g_sys_conf.MISMATCHACT = 1;
    }

    // Saved pictures, relative to the image folder, in the order of their path after the day
    // folder, so that a run crossing midnight lists them alike.
    static QStringList savedFiles()
    {
        QStringList files;
        QDirIterator it("../data/image", QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next().mid(QStringLiteral("../data/image/").size());
        std::sort(files.begin(), files.end(),
                  [](const QString &a, const QString &b) { return a.section('/', 1) < b.section('/', 1); });
        return files;
    }

    // A saved picture lies in the folder of the day its name carries, then under `tail`.
    static bool savedUnder(const QString &file, const QString &tail)
    {
        const QString day = file.section('/', 0, 0);
        return QFileInfo(file).fileName().startsWith(day + '_') && file.section('/', 1).startsWith(tail);
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<cv::Mat>("cv::Mat");
        m_station = std::make_unique<TempStation>();
        QDir().mkpath("../model");
        QVERIFY(copy("model/jd.cfg", "../model/jd.cfg"));
        QVERIFY(copy("model/jd.weights", "../model/jd.weights"));
        QVERIFY(copy("model/jd.names", "../model/jd.names"));
        QVERIFY(copy("bin/alg_jd.jpg", "alg_jd.jpg"));
        QVERIFY(g_detector[1].initDetector());
        StationQueues::create();
    }

    void cleanupTestCase()
    {
        StationQueues::release();
        m_station.reset();
    }

    // The dots the model finds in each image of a product, asked directly.
    static std::vector<int> countsOf(const BoxImageGenerator::Product &p)
    {
        std::vector<cv::Mat> images, drawn;
        for (const auto &picture : p.images) {
            cv::Mat bgr;
            cv::cvtColor(picture.image, bgr, cv::COLOR_GRAY2BGR);
            images.push_back(bgr);
        }
        std::vector<std::vector<Detection>> results;
        g_detector[1].detectBatch(images, drawn, results);
        std::vector<int> counts;
        for (const auto &r : results)
            counts.push_back(int(r.size()));
        return counts;
    }

    static QString text(const std::vector<int> &counts)
    {
        QStringList parts;
        for (int c : counts)
            parts << QString::number(c);
        return parts.join(',');
    }

    // Against a recipe that asks one dot more than the model sees in image 1: NG on that
    // image only, its two files in ng/1 and ng_result/1; against one dot less: OK.
    void verdictsAndSavedFilesWithTheShippedModel()
    {
        const BoxImageGenerator generator(4242);
        const BoxImageGenerator::Product product = generator.product(7, false, 6);
        const std::vector<int> counts = countsOf(product);
        QCOMPARE(int(counts.size()), 3);
        QVERIFY2(counts[0] > 0 && counts[1] > 0 && counts[2] > 0, qPrintable(text(counts)));

        recipe(counts[0], counts[1] + 1, counts[2], 1);
        int ngFrames = 0;
        {
            Rig rig;
            const QStringList &events = rig.verdicts.events;
            g_image_queue[1]->put(FrameRecord{3, product.stacked.clone()});
            QTRY_COMPARE_WITH_TIMEOUT(events.size(), 2, 30000);
            QCOMPARE(events, (QStringList{"jd_no " + text(counts), "ng"}));

            // Fewer than found: never NG. The worker copies the recipe before it waits for
            // a frame, so the change counts from the next frame or the one after it,
            // depending on whether the worker was waiting already.
            recipe(counts[0] - 1, counts[1] - 1, 0, 1);
            g_image_queue[1]->put(FrameRecord{3, product.stacked.clone()});
            g_image_queue[1]->put(FrameRecord{3, product.stacked.clone()});
            QTRY_COMPARE_WITH_TIMEOUT(events.size(), 6, 30000);
            QVERIFY(events.at(3) == "ng" || events.at(3) == "ok");
            QCOMPARE(events.mid(4), (QStringList{"jd_no " + text(counts), "ok"}));
            ngFrames = events.count("ng");
            // The saver's destructor writes what was queued before it stops.
        }
        const QStringList files = savedFiles();
        QCOMPARE(files.size(), 2 * ngFrames); // raw and drawn image 1 of each NG frame
        for (int i = 0; i < files.size(); ++i)
            QVERIFY2(savedUnder(files.at(i), i < ngFrames ? "2/ng/1/" : "2/ng_result/1/")
                         && files.at(i).endsWith("__1.jpg"),
                     qPrintable(files.join(' ')));
        const cv::Mat written = cv::imread(("../data/image/" + files.at(0)).toStdString());
        QCOMPARE(written.cols, 728);
        QCOMPARE(written.rows, 544);
        // The drawn copy differs from the raw one: the boxes are on it.
        const cv::Mat drawn = cv::imread(("../data/image/" + files.at(ngFrames)).toStdString());
        QVERIFY(cv::norm(written, drawn, cv::NORM_L1) > 0);
    }

    // Products whose dots are known from the generator, judged against the recipe they were
    // made for: a good one passes, one with a dot missing from image 2 fails on image 2
    // alone (its two files in ng/2 and ng_result/2), and the short one passes a recipe that
    // asks one dot less there.
    void knownProductsAgainstTheirRecipe()
    {
        QVERIFY(QDir("../data/image").removeRecursively()); // the files of the cases before
        const BoxImageGenerator generator(2024);
        BoxImageGenerator::Product good, shortOne;
        for (int i = 0; good.stacked.empty() || shortOne.stacked.empty(); ++i) {
            QVERIFY(i < 100);
            BoxImageGenerator::Product p = generator.product(i, false, 7);
            if (p.defect == BoxImageGenerator::None && good.stacked.empty())
                good = p;
            else if (p.defect == BoxImageGenerator::Missing && p.defectImage == 2 && shortOne.stacked.empty())
                shortOne = p;
        }
        auto labelled = [](const BoxImageGenerator::Product &p) {
            return QStringLiteral("%1,%2,%3").arg(p.images[0].dots.size()).arg(p.images[1].dots.size())
                .arg(p.images[2].dots.size());
        };
        QCOMPARE(labelled(good), QStringLiteral("7,7,7"));
        QCOMPARE(labelled(shortOne), QStringLiteral("7,7,6"));

        recipe(7, 7, 7, 1);
        int ngFrames = 0;
        {
            Rig rig;
            const QStringList &events = rig.verdicts.events;
            g_image_queue[1]->put(FrameRecord{3, good.stacked.clone()});
            g_image_queue[1]->put(FrameRecord{3, shortOne.stacked.clone()});
            QTRY_COMPARE_WITH_TIMEOUT(events.size(), 4, 30000);
            QCOMPARE(events, (QStringList{"jd_no 7,7,7", "ok", "jd_no 7,7,6", "ng"}));

            recipe(7, 7, 6, 1); // counts from the next frame or the one after it
            g_image_queue[1]->put(FrameRecord{3, shortOne.stacked.clone()});
            g_image_queue[1]->put(FrameRecord{3, shortOne.stacked.clone()});
            QTRY_COMPARE_WITH_TIMEOUT(events.size(), 8, 30000);
            QCOMPARE(events.mid(6), (QStringList{"jd_no 7,7,6", "ok"}));
            ngFrames = events.count("ng");
        }
        const QStringList files = savedFiles();
        QCOMPARE(files.size(), 2 * ngFrames); // the NG frames' image 2, raw and drawn each
        for (int i = 0; i < files.size(); ++i)
            QVERIFY2(savedUnder(files.at(i), i < ngFrames ? "2/ng/2/" : "2/ng_result/2/"),
                     qPrintable(files.join(' ')));
    }

    // A one-image camera: the same image alone goes through detectOne.
    void oneImageProducts()
    {
        const BoxImageGenerator generator(77);
        const BoxImageGenerator::Product product = generator.product(3, false, 5);
        cv::Mat bgr, drawn;
        cv::cvtColor(product.images[0].image, bgr, cv::COLOR_GRAY2BGR);
        std::vector<Detection> found;
        const int count = g_detector[1].detectOne(bgr, drawn, found);
        recipe(count, 0, 0, 0);
        {
            QMutexLocker locker(&g_sys_conf.lock);
            g_sys_conf.SHOOT[1] = 1;
        }
        Rig rig;
        const QStringList &events = rig.verdicts.events;
        g_image_queue[1]->put(FrameRecord{1, product.images[0].image.clone()});
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 2, 30000);
        QCOMPARE(events, (QStringList{"jd_no " + QString::number(count), "ok"}));
    }
};

QTEST_MAIN(tst_PipelineWithModel)
#include "tst_pipelinewithmodel.moc"
