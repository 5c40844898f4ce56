// arv.h before any Qt header: Qt's keyword macros break it.
#include <arv.h>

#include "GigeSimCamera.h"
#include "PatternFrameSource.h"

#include <QtTest>

#include <map>
#include <set>
#include <thread>

// The simulated GigE Vision camera, reached as a station would: by enumeration and plain
// Aravis over loopback. Runs inside scripts/in-netns.sh (see CMakeLists.txt).
class tst_GigeCamera : public QObject
{
    Q_OBJECT

private:
    // A camera opened over the link, and its stream; closed before the simulated camera stops.
    struct Link
    {
        ArvCamera *camera = nullptr;
        ArvStream *stream = nullptr;
        ~Link()
        {
            if (camera)
                arv_camera_stop_acquisition(camera, nullptr);
            if (stream)
                g_object_unref(stream);
            if (camera)
                g_object_unref(camera);
        }
    };

    static bool open(Link &link, const char *serial)
    {
        arv_update_device_list();
        for (unsigned i = 0; i < arv_get_n_devices(); ++i)
            if (qstrcmp(arv_get_device_serial_nbr(i), serial) == 0)
                link.camera = arv_camera_new(arv_get_device_id(i), nullptr);
        return link.camera != nullptr;
    }

    static bool stream(Link &link)
    {
        GError *error = nullptr;
        link.stream = arv_camera_create_stream(link.camera, nullptr, nullptr, &error);
        const gint payload = link.stream ? arv_camera_get_payload(link.camera, &error) : 0;
        for (int i = 0; i < 32 && payload > 0; ++i)
            arv_stream_push_buffer(link.stream, arv_buffer_new(size_t(payload), nullptr));
        if (link.stream)
            arv_camera_start_acquisition(link.camera, &error);
        const bool ok = link.stream && !error;
        g_clear_error(&error);
        return ok;
    }

    // Booleans as "true" and "false", the rest as strings.
    static void set(ArvCamera *camera, const char *feature, const char *value)
    {
        GError *error = nullptr;
        if (qstrcmp(value, "true") == 0 || qstrcmp(value, "false") == 0)
            arv_camera_set_boolean(camera, feature, qstrcmp(value, "true") == 0, &error);
        else
            arv_camera_set_string(camera, feature, value, &error);
        QVERIFY2(!error, qPrintable(QString("%1=%2: %3").arg(feature, value, error ? error->message : "")));
    }

    static QString get(ArvCamera *camera, const char *feature)
    {
        GError *error = nullptr;
        ArvGcNode *node = arv_device_get_feature(arv_camera_get_device(camera), feature);
        if (ARV_IS_GC_BOOLEAN(node))
            return arv_camera_get_boolean(camera, feature, nullptr) ? "true" : "false";
        const char *value = arv_camera_get_string(camera, feature, &error);
        g_clear_error(&error);
        return QString::fromUtf8(value ? value : "?");
    }

private slots:
    // The line's Line0 trigger gives N frames per product carrying its shots; reject pulses
    // on Line1 sent when a product's first frame arrives (for the product two windows
    // earlier, now at the ejector) eject exactly the products they were meant for.
    void lineTriggerAndEjection_data()
    {
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<int>("shots");
        QTest::addColumn<double>("ppm");
        QTest::addColumn<QString>("activation");
        QTest::addColumn<double>("loss");
        QTest::addColumn<int>("rejectEvery");
        QTest::newRow("Basler, 3 shots, rising edge") << "Basler" << 3 << 240.0 << "RisingEdge" << 0.0 << 3;
        QTest::newRow("Hikrobot, 1 shot, falling edge") << "Hikrobot" << 1 << 300.0 << "FallingEdge" << 0.0 << 2;
        QTest::newRow("Balluff, 5 shots") << "Balluff" << 5 << 150.0 << "RisingEdge" << 0.0 << 1;
        QTest::newRow("lost packets") << "Basler" << 2 << 240.0 << "RisingEdge" << 0.001 << 2;
    }

    void lineTriggerAndEjection()
    {
        QFETCH(QString, vendor);
        QFETCH(int, shots);
        QFETCH(double, ppm);
        QFETCH(QString, activation);
        QFETCH(double, loss);
        QFETCH(int, rejectEvery);
        const int kProducts = 10; // products streamed whole, from the first one seen from its start

        GigeSimCamera::Options o;
        static int row = 0;
        o.serial = "LT" + std::to_string(++row); // a camera of its own per row
        o.vendor = vendor.toStdString();
        o.userId = "left";
        o.shotsPerProduct = shots;
        o.productsPerMinute = ppm;
        o.packetLossRatio = loss;
        o.source = std::make_shared<PatternFrameSource>(o.width, o.height, 0.3, 7);
        GigeSimCamera sim(o);
        std::string error;
        QVERIFY2(sim.start(&error), error.c_str());
        {
            Link link;
            QVERIFY(open(link, o.serial.c_str()));
            ArvCamera *cam = link.camera;
            QCOMPARE(QString(arv_camera_get_vendor_name(cam, nullptr)), vendor);
            QCOMPARE(get(cam, "DeviceUserID"), QString("left"));
            set(cam, "DeviceUserID", "renamed");
            QCOMPARE(get(cam, "DeviceUserID"), QString("renamed"));
            set(cam, "TriggerSelector", "FrameStart");
            set(cam, "TriggerMode", "On");
            set(cam, "TriggerSource", "Line0");
            set(cam, "TriggerActivation", activation.toLatin1().constData());
            set(cam, "LineSelector", "Line1");
            set(cam, "LineMode", "Output");
            set(cam, "LineSource", "UserOutput1");
            set(cam, "UserOutputSelector", "UserOutput1");
            QVERIFY(stream(link));

            // (product, shot) of each whole frame in arrival order; the pulses sent.
            std::vector<std::pair<int64_t, int>> frames;
            std::set<int64_t> pulsed;
            int incomplete = 0;
            int64_t first = -1;
            QElapsedTimer clock;
            clock.start();
            const double periodMs = 60000.0 / ppm;
            while (clock.elapsed() < periodMs * (kProducts + 6) && (first < 0 || frames.back().first < first + kProducts)) {
                ArvBuffer *buffer = arv_stream_timeout_pop_buffer(link.stream, 200000);
                if (!buffer)
                    continue;
                if (arv_buffer_get_status(buffer) != ARV_BUFFER_STATUS_SUCCESS) {
                    ++incomplete;
                    arv_stream_push_buffer(link.stream, buffer);
                    continue;
                }
                size_t size = 0;
                const auto *data = static_cast<const uint8_t *>(arv_buffer_get_data(buffer, &size));
                const cv::Mat row(1, 8, CV_8UC1, const_cast<uint8_t *>(data));
                const int64_t product = PatternFrameSource::productNumberOf(row);
                const int shot = PatternFrameSource::shotNumberOf(row);
                arv_stream_push_buffer(link.stream, buffer);
                if (first < 0 && shot != 0)
                    continue; // came in halfway through a product
                if (first < 0)
                    first = product;
                frames.emplace_back(product, shot);
                // A product's first whole frame (its first shot's, unless that one lost a
                // packet): the product two windows earlier is at the ejector.
                const int64_t meant = product - 2;
                if (meant >= first && meant % rejectEvery == 0 && !pulsed.count(meant)) {
                    arv_camera_set_boolean(cam, "UserOutputValue", TRUE, nullptr);
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    arv_camera_set_boolean(cam, "UserOutputValue", FALSE, nullptr);
                    pulsed.insert(meant);
                }
            }
            QVERIFY2(first >= 0 && frames.back().first >= first + kProducts,
                     qPrintable(QString("%1 whole frames, %2 incomplete").arg(frames.size()).arg(incomplete)));
            const int64_t last = frames.back().first - 1; // the last product streamed whole
            // Every product streamed whole has passed the ejector.
            std::map<int64_t, GigeSimCamera::ProductRecord> judged;
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    for (const auto &r : sim.takeJudged())
                        judged[int64_t(r.product)] = r;
                    return judged.count(last);
                }(),
                int(periodMs * 6));
            if (loss == 0) {
                QCOMPARE(incomplete, 0);
                size_t i = 0;
                for (int64_t p = first; p <= last; ++p)
                    for (int s = 0; s < shots; ++s, ++i)
                        QVERIFY2(i < frames.size() && frames[i] == std::make_pair(p, s),
                                 qPrintable(QString("product %1 shot %2 missing; the camera sent %3 of its frames"
                                                    " (trigger overruns: %4)")
                                                .arg(p).arg(s).arg(judged[p].frames)
                                                .arg(sim.counters().triggerOverruns)));
            } else {
                QVERIFY2(incomplete > 0, "no frame lost a packet");
                for (size_t i = 1; i < frames.size(); ++i) {
                    QVERIFY(frames[i].second < shots);
                    QVERIFY(frames[i] > frames[i - 1]);
                }
            }
            QVERIFY(!pulsed.empty());
            for (int64_t p = first; p <= last; ++p) {
                const GigeSimCamera::ProductRecord &r = judged[p];
                QCOMPARE(r.shots, shots);
                if (loss == 0)
                    QCOMPARE(r.frames, shots);
                QVERIFY2(r.pulses == int(pulsed.count(p)), qPrintable(QString("product %1").arg(p)));
            }
            std::set<int64_t> seen;
            for (const auto &c : sim.takeLineChanges())
                if (c.line == 1 && c.level) {
                    QVERIFY2(pulsed.count(c.atEjector), qPrintable(QString("pulse at %1").arg(c.atEjector)));
                    seen.insert(c.atEjector);
                }
            QCOMPARE(seen, pulsed);
            const GigeSimCamera::Counters c = sim.counters();
            QCOMPARE(c.strayPulses, 0ull);
            QCOMPARE(c.rejectPulses, uint64_t(pulsed.size()));
        }
        sim.stop();
    }

    // Values behind a selector are kept per selector; LineStatus follows an output's source;
    // TriggerSoftware fires a frame only when the selected trigger's source is Software.
    void selectorsAndSoftwareTrigger()
    {
        GigeSimCamera::Options o;
        o.serial = "SEL1";
        o.productsPerMinute = 0; // no line: only the station's triggers
        GigeSimCamera sim(o);
        std::string error;
        QVERIFY2(sim.start(&error), error.c_str());
        {
            Link link;
            QVERIFY(open(link, o.serial.c_str()));
            ArvCamera *cam = link.camera;
            struct Selected
            {
                const char *selector;
                std::vector<const char *> selectors;
                const char *feature;
                std::vector<const char *> values; // one per selector value
            };
            const std::vector<Selected> table = {
                {"TriggerSelector", {"FrameStart", "FrameBurstStart"}, "TriggerMode", {"On", "Off"}},
                {"TriggerSelector", {"FrameStart", "FrameBurstStart"}, "TriggerSource", {"Software", "Line0"}},
                {"TriggerSelector", {"FrameStart", "FrameBurstStart"}, "TriggerActivation", {"FallingEdge", "RisingEdge"}},
                {"LineSelector", {"Line0", "Line1", "Line2", "Line3", "Line4"}, "LineMode", {"Input", "Output", "Input", "Output", "Output"}},
                {"LineSelector", {"Line0", "Line1", "Line2", "Line3", "Line4"}, "LineSource", {"Off", "UserOutput3", "UserOutput0", "ExposureActive", "UserOutput2"}},
                {"LineSelector", {"Line0", "Line1", "Line2", "Line3", "Line4"}, "LineInverter", {"false", "false", "true", "false", "false"}},
                {"UserOutputSelector", {"UserOutput0", "UserOutput1", "UserOutput2", "UserOutput3"}, "UserOutputValue", {"false", "false", "true", "false"}},
            };
            for (const Selected &s : table)
                for (size_t i = 0; i < s.selectors.size(); ++i) {
                    set(cam, s.selector, s.selectors[i]);
                    set(cam, s.feature, s.values[i]);
                }
            for (const Selected &s : table)
                for (size_t i = 0; i < s.selectors.size(); ++i) {
                    set(cam, s.selector, s.selectors[i]);
                    QCOMPARE(get(cam, s.feature), QString(s.values[i]));
                }
            // Line4 drives UserOutput2 (true); Line2, an inverted input, reads high; Line1
            // follows UserOutput3 (false).
            auto status = [cam](const char *line) {
                arv_camera_set_string(cam, "LineSelector", line, nullptr);
                return get(cam, "LineStatus");
            };
            QTRY_COMPARE(status("Line4"), QString("true"));
            QCOMPARE(status("Line2"), QString("true"));
            QCOMPARE(status("Line1"), QString("false"));

            // FrameStart is on with the Software source (set above).
            set(cam, "TriggerSelector", "FrameStart");
            QVERIFY(stream(link));
            auto framesWithin = [&](int ms) {
                int n = 0;
                QElapsedTimer t;
                t.start();
                while (t.elapsed() < ms)
                    if (ArvBuffer *b = arv_stream_timeout_pop_buffer(link.stream, 20000)) {
                        n += arv_buffer_get_status(b) == ARV_BUFFER_STATUS_SUCCESS;
                        arv_stream_push_buffer(link.stream, b);
                    }
                return n;
            };
            QCOMPARE(framesWithin(300), 0);
            for (int i = 0; i < 3; ++i) {
                arv_camera_execute_command(cam, "TriggerSoftware", nullptr);
                QCOMPARE(framesWithin(150), 1);
            }
            // The trigger listens to Line0 now: software triggers fire nothing.
            set(cam, "TriggerSource", "Line0");
            arv_camera_execute_command(cam, "TriggerSoftware", nullptr);
            QCOMPARE(framesWithin(300), 0);
            QCOMPARE(sim.counters().softwareTriggers, 3ull);
        }
        sim.stop();
    }
};

QTEST_GUILESS_MAIN(tst_GigeCamera)
#include "tst_gigecamera.moc"
