#include "BalluffCameraSetup.h"
#include "BalluffFunctionInterface.h"
#include "BaslerCameraSetup.h"
#include "FolderFrameSource.h"
#include "GeneratedFrameSource.h"
#include "HikCameraSetup.h"
#include "LineSimulator.h"
#include "PatternFrameSource.h"
#include "SimBalluffDeviceManager.h"
#include "SimBalluffFunctionInterface.h"
#include "SimBaslerTransportLayer.h"
#include "SimCamera.h"
#include "SimHikApi.h"
#include "SimulatedStation.h"

#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <map>
#include <mutex>
#include <set>
#include <thread>

// The simulated cameras and the line that drives them, through each vendor's face.
class tst_SimulatedLine : public QObject
{
    Q_OBJECT

private:
    static std::unique_ptr<SimulatedStation> station(const QStringList &cameras, int shots = 3,
                                                     double ngShare = 0.0)
    {
        SimulatedStation::Settings s;
        s.source = "pattern";
        s.shots = shots;
        s.ngShare = ngShare;
        s.seed = 3;
        s.cameras.clear();
        for (const QString &c : cameras) {
            SimCamera::Config config;
            if (!SimulatedStation::parseCamera(c.toStdString(), config))
                qFatal("bad camera line");
            s.cameras.push_back(config);
        }
        return std::make_unique<SimulatedStation>(s);
    }

    struct HikRecorder
    {
        std::mutex mutex;
        std::vector<std::string> events;
        std::vector<uint64_t> framesAtEvent;
        std::vector<std::thread::id> threads;
        SimCamera *camera = nullptr;
        int exceptions = 0;
    };

    static void onHikEvent(const HikEventInfo &info, void *user)
    {
        auto *r = static_cast<HikRecorder *>(user);
        std::lock_guard<std::mutex> lock(r->mutex);
        r->events.push_back(info.eventName);
        r->framesAtEvent.push_back(r->camera->framesDelivered());
        r->threads.push_back(std::this_thread::get_id());
    }

    static void onHikException(unsigned, void *user)
    {
        auto *r = static_cast<HikRecorder *>(user);
        std::lock_guard<std::mutex> lock(r->mutex);
        ++r->exceptions;
        r->threads.push_back(std::this_thread::get_id());
    }

    // Opens the first HIK camera of a station for triggered grabbing with events on.
    static HikHandle openHik(SimulatedStation &st, HikRecorder &rec)
    {
        HikApi &api = st.hik();
        std::vector<HikDeviceInfo> list;
        api.enumDevices(HikDeviceInfo::kGigE | HikDeviceInfo::kUsb3, list);
        HikHandle h = nullptr;
        if (list.empty() || api.createHandle(&h, list[0]) != 0)
            return nullptr;
        rec.camera = st.camera(0);
        HikCameraSetup::configureOnOpen(api, h, list[0], 2000, 0, 500);
        for (const char *e : {"Line0FallingEdge", "Line0RisingEdge"}) {
            api.setEnumValueByString(h, "EventSelector", e);
            api.setEnumValueByString(h, "EventNotification", "On");
            api.registerEventCallback(h, e, onHikEvent, &rec);
        }
        api.registerExceptionCallback(h, onHikException, &rec);
        api.startGrabbing(h);
        return h;
    }

    static bool grab(HikApi &api, HikHandle h, cv::Mat &frame, unsigned timeoutMs = 1000)
    {
        static std::vector<unsigned char> buffer(1 << 22);
        HikFrameInfo info;
        if (api.getOneFrameTimeout(h, buffer.data(), unsigned(buffer.size()), info, timeoutMs) != 0)
            return false;
        frame = cv::Mat(info.height, info.width, CV_8UC1, buffer.data()).clone();
        return true;
    }

private slots:
    void steppedEdgesAndFramesInOrderOnTheCallbackThread()
    {
        auto st = station({"HIK|Hikrobot|1|GigE|64|48|Mono8|"});
        HikRecorder rec;
        HikHandle h = openHik(*st, rec);
        QVERIFY(h);
        LineSimulator &line = st->line();
        line.runProduct();
        QVERIFY(line.settle(5000));
        line.runProduct();
        QVERIFY(line.settle(5000));

        QCOMPARE(rec.events, (std::vector<std::string>{"Line0RisingEdge", "Line0FallingEdge",
                                                       "Line0RisingEdge", "Line0FallingEdge"}));
        // Each product's frames are exposed before its window falls.
        QCOMPARE(rec.framesAtEvent.at(1), uint64_t(3));
        QCOMPARE(rec.framesAtEvent.at(3), uint64_t(6));
        for (const auto &id : rec.threads) {
            QVERIFY(id != std::this_thread::get_id());
            QVERIFY(id == rec.threads.front());
        }
        for (int i = 0; i < 6; ++i) {
            cv::Mat frame;
            QVERIFY(grab(st->hik(), h, frame));
            QCOMPARE(frame.cols, 64);
            QCOMPARE(int(PatternFrameSource::productNumberOf(frame)), i / 3);
            QCOMPARE(PatternFrameSource::shotNumberOf(frame), i % 3);
        }
        cv::Mat none;
        QVERIFY(!grab(st->hik(), h, none, 50));
        st->hik().destroyHandle(h);
    }

    void triggersAreIgnoredUnlessTriggeredOnTheTriggerLine()
    {
        auto st = st_untriggered();
        SimCamera *cam = st->camera(0);
        QVERIFY(cam->open());
        cam->startGrabbing();
        st->line().runProduct();
        QCOMPARE(cam->framesDelivered(), uint64_t(0)); // never configured
        cam->writeFeature("TriggerMode", "1");
        cam->writeFeature("TriggerSource", "1"); // another line
        st->line().runProduct();
        QCOMPARE(cam->framesDelivered(), uint64_t(0));
        cam->writeFeature("TriggerSource", "2");
        st->line().runProduct();
        QCOMPARE(cam->framesDelivered(), uint64_t(3));
        cam->stopGrabbing();
        st->line().runProduct();
        QCOMPARE(cam->framesDelivered(), uint64_t(3));
    }

    void freeRunDeliversItsRate()
    {
        auto st = station({"HIK|Hikrobot|1|GigE|64|48|Mono8|"});
        HikRecorder rec;
        HikHandle h = openHik(*st, rec);
        HikCameraSetup::setFreeRunMode(st->hik(), h);
        st->hik().setFrameRate(h, 40.0f);
        QElapsedTimer clock;
        clock.start();
        int frames = 0;
        while (clock.elapsed() < 1000) {
            cv::Mat f;
            if (grab(st->hik(), h, f, 200))
                ++frames;
        }
        // 40 frames a second, give or take a loaded machine.
        QVERIFY2(frames >= 15 && frames <= 45, qPrintable(QString::number(frames)));
        HikCameraSetup::setTriggeredMode(st->hik(), h);
        QThread::msleep(100);
        cv::Mat f;
        while (grab(st->hik(), h, f, 10)) {
        }
        QVERIFY(!grab(st->hik(), h, f, 300));
        st->hik().destroyHandle(h);
    }

    // The line's counts, and its account of the station: each product carries the number
    // the station gave its window and at the ejector is compared with the station's
    // decision for that number. Stand-in station: wrong on products 5, 6 and 9 (the
    // model's errors), blind to one window (of a product like the one before it, which a
    // number taken for the wrong product would pass as paired right); the ejector goes
    // against the station's decision for products 8 and 9 (the pairing broken, which 9's
    // wrong verdict does not count beside).
    void ejectionBookkeeping()
    {
        auto st = station({"HIK|Hikrobot|1|GigE|32|24|Mono8|"}, 1, 0.5);
        SimCamera *cam = st->camera(0);
        LineSimulator &line = st->line();
        const int products = 40;
        std::vector<char> ng(products), decidedGood(products);
        uint64_t lastNumber = 100; // the callback thread's only
        std::map<uint64_t, int> productOf;
        int closed = 0, blind = -1;
        cam->setEdgeListener([&](const std::string &, bool rising) {
            if (rising)
                return;
            const int product = closed++;
            if (blind < 0 && product >= 15 && ng[product] == ng[product - 1])
                blind = product;
            else
                productOf[++lastNumber] = product;
        });
        LineSimulator::StationView view;
        view.lastProduct = [&] { return lastNumber; };
        view.outcome = [&](uint64_t number) {
            LineSimulator::StationOutcome o;
            const auto it = productOf.find(number);
            if (it == productOf.end())
                return o;
            o.known = o.judged = true;
            o.good = decidedGood[it->second];
            o.rejected = !o.good;
            return o;
        };
        line.watchStation(0, view);
        int expectCorrect = 0, expectMissed = 0, expectWrong = 0, ngCount = 0;
        cam->pulseOutput("Line1"); // nothing at the ejector yet
        ++expectWrong;
        for (int j = 0; j < products; ++j) {
            line.beginProduct();
            ng[j] = line.currentProductIsNg(0);
            decidedGood[j] = (j == 5 || j == 6 || j == 9) ? ng[j] : !ng[j];
            ngCount += ng[j];
            if (j >= 2) {
                const bool isNg = ng[j - 2];
                bool eject = !decidedGood[j - 2];
                if (j == 10 || j == 11)
                    eject = !eject;
                if (eject) {
                    cam->pulseOutput("Line1");
                    if (j % 2 == 0)
                        cam->pulseOutput("Line1"); // a double pulse is still one ejection
                }
                cam->pulseOutput("Line2"); // not the reject output: ignored
                if (isNg && eject) ++expectCorrect;
                else if (isNg) ++expectMissed;
                else if (eject) ++expectWrong;
            }
            line.endProduct();
        }
        QVERIFY(line.settle(5000));
        line.finish();
        QVERIFY(line.settle(5000)); // the comparisons run on the callback thread
        const LineSimulator::Counters c = line.counters(0);
        QCOMPARE(c.products, products);
        QCOMPARE(c.ngProducts, ngCount);
        QVERIFY(ngCount > 5 && ngCount < 35);
        QCOMPARE(c.judged, products - 2);
        QCOMPARE(c.correctEjections, expectCorrect);
        QCOMPARE(c.missedEjections, expectMissed);
        QCOMPARE(c.wrongEjections, expectWrong);
        QVERIFY(blind >= 15 && blind < products - 2);
        QCOMPARE(c.judgedWrong, 2);
        QCOMPARE(c.pairedWrong, 3);
        cam->setEdgeListener(nullptr);
    }

    void baslerFaceEventsAndOutputs()
    {
        auto st = station({"BASLER|Basler|1|GigE|64|48|Mono8|"});
        auto infos = st->basler().enumerateDevices();
        auto camera = st->basler().createCamera(infos.at(0));
        struct Handler : BaslerCameraEventHandler
        {
            std::mutex m;
            std::vector<intptr_t> ids;
            void onCameraEvent(BaslerCamera &, intptr_t id, const std::string &) override
            {
                std::lock_guard<std::mutex> l(m);
                ids.push_back(id);
            }
        } handler;
        camera->setGrabCameraEvents(true);
        camera->open();
        BaslerCameraSetup::configureOnOpen(*camera, 2000, 0, 500);
        camera->registerCameraEventHandler(&handler, "EventLine1RisingEdgeData", 200);
        camera->registerCameraEventHandler(&handler, "EventLine1FallingEdgeData", 300);
        st->line().runProduct(); // events not switched on yet
        QVERIFY(st->line().settle(5000));
        camera->setEnumString("EventSelector", "Line1RisingEdge");
        camera->setEnum("EventNotification", 2);
        camera->setEnumString("EventSelector", "Line1FallingEdge");
        camera->setEnum("EventNotification", 2);
        camera->startGrabbing();
        st->line().runProduct();
        QVERIFY(st->line().settle(5000));
        QCOMPARE(handler.ids, (std::vector<intptr_t>{200, 300}));
        int frames = 0;
        struct Images : BaslerImageEventHandler
        {
            int *count;
            void onImageGrabbed(BaslerCamera &, const BaslerGrabResult &r) override
            {
                *count += r.succeeded && r.pixelFormat == BaslerGrabResult::kMono8;
            }
        } images;
        images.count = &frames;
        camera->registerImageEventHandler(&images);
        while (camera->retrieveResult(50)) {
        }
        QCOMPARE(frames, 3);

        // UserOutput3 drives Line4 (bad), UserOutput1 Line2 (good); false then true pulses.
        SimCamera *sim = st->camera(0);
        sim->clearRecords();
        camera->setEnum("UserOutputSelector", 3);
        camera->setBool("UserOutputValue", false);
        camera->setBool("UserOutputValue", true);
        camera->setEnum("UserOutputSelector", 1);
        camera->setBool("UserOutputValue", false);
        camera->setBool("UserOutputValue", true);
        QCOMPARE(sim->pulses(), (std::vector<std::string>{"Line4", "Line2"}));
        sim->unplug();
        QVERIFY_EXCEPTION_THROWN(camera->retrieveResult(50), BaslerError);
        camera->deregisterCameraEventHandler(&handler);
        camera->deregisterImageEventHandler(&images);
    }

    void balluffFaceEventsOutputsAndRequests()
    {
        auto st = station({"BALLUFF|Balluff|1|GigE|64|48|BGR8|"});
        BalluffDevice *device = st->balluff().device(0);
        QVERIFY(device);
        auto functions = BalluffCameraSetup::openAndConfigure(*device, 2000, 0, 500);
        std::mutex m;
        std::vector<bool> levels;
        device->registerLineEventCallback([&] {
            device->writeS("LineSelector", "Line5");
            const bool high = device->readBool("LineStatus");
            std::lock_guard<std::mutex> l(m);
            levels.push_back(high);
        });
        device->writeS("EventSelector", "Line5AnyEdge");
        device->writeS("EventNotification", "On");

        int queued = 0;
        while (functions->imageRequestSingle() == 0)
            ++queued;
        QCOMPARE(queued, SimBalluffFunctionInterface::kRequests);
        QCOMPARE(functions->imageRequestSingle(), BalluffFunctionInterface::kErrorNoFreeRequest);
        QCOMPARE(functions->acquisitionStart(), 0);
        st->line().runProduct();
        QVERIFY(st->line().settle(5000));
        QCOMPARE(levels, (std::vector<bool>{true, false}));
        const int nr = functions->imageRequestWaitFor(1000);
        QVERIFY(functions->isRequestNrValid(nr));
        const BalluffRequest r = functions->request(nr);
        QCOMPARE(r.result, BalluffRequest::kResultOk);
        QCOMPARE(r.pixelFormat, BalluffRequest::kPixelBgrPacked);
        QCOMPARE(r.width, 64);
        QCOMPARE(r.linePitch, 64 * 3);
        QCOMPARE(functions->imageRequestUnlock(nr), 0);

        // Each change of a user output starts its timer: one pulse per toggle.
        SimCamera *sim = st->camera(0);
        sim->clearRecords();
        device->writeS("UserOutputSelector", "UserOutput1");
        device->writeBool("UserOutputValue", !device->readBool("UserOutputValue"));
        device->writeBool("UserOutputValue", !device->readBool("UserOutputValue"));
        device->writeS("UserOutputSelector", "UserOutput0");
        device->writeBool("UserOutputValue", true);
        QCOMPARE(sim->pulses(), (std::vector<std::string>{"Line1", "Line1", "Line0"}));

        bool raised = false;
        try {
            device->writeS("LineSelector", "Line5");
            sim->unplug();
            device->writeS("TriggerMode", "On");
        } catch (const BalluffError &e) {
            raised = e.operation() == "mvIMPACT::acquire::Property::writeS";
        }
        QVERIFY(raised);
        functions->acquisitionStop();
        device->deregisterLineEventCallback();
    }

    void unplugReachesTheExceptionCallbackAndEndsGrabbing()
    {
        auto st = station({"HIK|Hikrobot|1|GigE|64|48|Mono8|"});
        HikRecorder rec;
        HikHandle h = openHik(*st, rec);
        st->camera(0)->unplug();
        QVERIFY(st->camera(0)->waitIdle(5000));
        QCOMPARE(rec.exceptions, 1);
        cv::Mat f;
        QVERIFY(!grab(st->hik(), h, f, 100));
        QVERIFY(st->hik().setEnumValue(h, "TriggerMode", 1) != 0);
        st->line().runProduct(); // an unplugged camera sees nothing
        QVERIFY(st->line().settle(5000));
        QVERIFY(rec.events.empty());

        // Plugged in again, it has restarted: opened anew and set up from scratch.
        QVERIFY(!st->camera(0)->feature("TriggerMode").empty());
        st->camera(0)->plugIn();
        QVERIFY(!st->camera(0)->isOpen());
        QVERIFY(st->camera(0)->feature("TriggerMode").empty());
        QCOMPARE(st->hik().openDevice(h, HikApi::kAccessExclusive, 0), HikApi::kOk);
        QCOMPARE(st->hik().setEnumValue(h, "TriggerMode", 1), HikApi::kOk);
        st->hik().destroyHandle(h);
    }

    void realTimeLineRunsAndStops()
    {
        auto st = station({"HIK|Hikrobot|1|GigE|32|24|Mono8|", "HIK|Hikrobot|2|GigE|32|24|Mono8|"});
        LineSimulator &line = st->line();
        line.start(6000); // 100 products a second
        QTRY_VERIFY_WITH_TIMEOUT(line.counters(1).products >= 10, 10000);
        line.stop();
        QVERIFY(!line.isRunning());
        const int products = line.counters(0).products;
        QThread::msleep(100);
        QCOMPARE(line.counters(0).products, products);
        QCOMPARE(line.counters(1).products, products);
    }

    // A stop asked at any moment lets the product in the window be shot and its window
    // close: none is left half seen, without a number, when the line starts again.
    void stopFinishesTheWindow()
    {
        auto st = station({"HIK|Hikrobot|1|GigE|32|24|Mono8|"}, 2);
        HikRecorder rec;
        HikHandle h = openHik(*st, rec);
        QVERIFY(h);
        LineSimulator &line = st->line();
        for (int delayMs : {0, 3, 7, 12, 25, 41}) {
            line.start(1200); // 50 ms a product, the window open for 30 of them
            QThread::msleep(100 + delayMs);
            line.stop();
        }
        QVERIFY(line.settle(2000));
        std::lock_guard<std::mutex> lock(rec.mutex);
        QCOMPARE(int(rec.events.size()), 2 * line.counters(0).products);
        for (size_t i = 0; i < rec.events.size(); ++i) {
            QCOMPARE(rec.events[i], std::string(i % 2 ? "Line0FallingEdge" : "Line0RisingEdge"));
            if (i % 2) // both shots of the product came before its window closed
                QCOMPARE(rec.framesAtEvent[i], uint64_t(i + 1));
        }
        st->hik().destroyHandle(h);
    }

    void folderSourceCutsStackedProducts()
    {
        QTemporaryDir dir;
        cv::Mat good(90, 40, CV_8UC1);
        for (int r = 0; r < 90; ++r)
            good.row(r).setTo(r / 30 * 50); // three bands: 0, 50, 100
        QVERIFY(cv::imwrite(dir.filePath("a_good.png").toStdString(), good));
        QVERIFY(cv::imwrite(dir.filePath("ng_missing.png").toStdString(), good));
        QFile junk(dir.filePath("b_broken.png"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a picture");
        junk.close();
        FolderFrameSource source(dir.path().toStdString());
        FrameSource::Product p = source.next(0, 3);
        QCOMPARE(int(p.frames.size()), 3);
        QVERIFY(!p.ng);
        QCOMPARE(p.frames[1].rows, 30);
        QCOMPARE(int(p.frames[2].at<uint8_t>(0, 0)), 100);
        p = source.next(0, 3); // the broken file is skipped
        QVERIFY(p.ng);
        QCOMPARE(p.label, std::string("ng_missing.png"));
        p = source.next(0, 3); // and round again
        QVERIFY(!p.ng);
        QVERIFY(FolderFrameSource(dir.filePath("none").toStdString()).isEmpty());
        // A picture whose header claims more than the limit is never decoded; a JPEG's
        // size sits behind its other segments.
        cv::Mat jpeg(90, 40, CV_8UC3, cv::Scalar(1, 2, 3));
        QVERIFY(cv::imwrite(dir.filePath("c.jpg").toStdString(), jpeg));
        QVERIFY(cv::imwrite(dir.filePath("d.bmp").toStdString(), jpeg));
        QVERIFY(cv::imwrite(dir.filePath("e.png").toStdString(), jpeg));
        for (const char *name : {"a_good.png", "ng_missing.png"})
            QVERIFY(QFile::remove(dir.filePath(name)));
        for (const long long limit : {90LL * 40 - 1, 90LL * 40}) {
            FolderFrameSource limited(dir.path().toStdString(), limit);
            const bool fits = limit == 90 * 40;
            QCOMPARE(limited.next(0, 3).label, std::string(fits ? "c.jpg" : ""));
            QCOMPARE(limited.next(0, 3).label, std::string(fits ? "d.bmp" : ""));
            QCOMPARE(limited.next(0, 3).label, std::string(fits ? "e.png" : ""));
        }
    }

    void generatedSourceKeepsItsNgShare()
    {
        GeneratedFrameSource source(11, 0.3, false, 4);
        int ng = 0;
        for (int i = 0; i < 100; ++i) {
            const FrameSource::Product p = source.next(0, 3);
            QCOMPARE(int(p.frames.size()), 3);
            QCOMPARE(p.frames[0].size(), cv::Size(728, 544));
            QCOMPARE(p.label == "good", !p.ng);
            ng += p.ng;
        }
        QVERIFY2(ng >= 15 && ng <= 45, qPrintable(QString::number(ng)));
    }

    // Drawing goes on as the line runs: given time to draw, every product shown is a new
    // one, far beyond the pool's few, each of the kind the generator made it, and the tally
    // counts them.
    void generatedSourceShowsNewProducts()
    {
        const BoxImageGenerator generator(11);
        // A stand-in that draws in no time: the index in a pixel, the generator's own defect.
        auto draw = [&generator](int index) {
            BoxImageGenerator::Product p;
            p.defect = generator.productDefect(index, &p.defectImage);
            for (auto &image : p.images)
                image.image = cv::Mat(1, 1, CV_32S, cv::Scalar(index));
            return p;
        };
        GeneratedFrameSource source(11, 0.5, false, 4, 2, draw); // one new and one shown per kind
        std::set<int> seen;
        int ng = 0;
        for (int i = 0; i < 40; ++i) {
            QTRY_VERIFY([&] {
                const GeneratedFrameSource::Tally t = source.tally();
                return t.drawn[0] > t.distinct[0] && t.drawn[1] > t.distinct[1];
            }());
            const FrameSource::Product p = source.next(0, 3);
            const int index = p.frames.at(0).at<int>(0, 0);
            QVERIFY2(seen.insert(index).second, qPrintable(QString::number(index)));
            QCOMPARE(p.ng, generator.productDefect(index) != BoxImageGenerator::None);
            ng += p.ng;
        }
        QVERIFY(ng > 5 && ng < 35);
        const GeneratedFrameSource::Tally t = source.tally();
        QCOMPARE(t.shown, uint64_t(40));
        QCOMPARE(t.distinct[0], uint64_t(40 - ng));
        QCOMPARE(t.distinct[1], uint64_t(ng));
    }

private:
    static std::unique_ptr<SimulatedStation> st_untriggered()
    {
        return station({"HIK|Hikrobot|1|GigE|64|48|Mono8|"});
    }
};

QTEST_GUILESS_MAIN(tst_SimulatedLine)
#include "tst_simulatedline.moc"
