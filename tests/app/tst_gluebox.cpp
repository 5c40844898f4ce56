#include "Gluebox.h"
#include "TempStation.h"

#include "CameraRegistry.h"
#include "CameraSlot.h"
#include "MatMetaType.h"
#include "Rotation.h"
#include "StationFonts.h"
#include "StationQueues.h"
#include "StdoutCapture.h"
#include "db_label.h"

#include <QDirIterator>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLCDNumber>
#include <QLabel>
#include <QMetaMethod>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <opencv2/core.hpp>

#include <memory>

// The main window as the operator sees it: its form, and what the threads' reports and
// the operator's taps do to it. One window, in a station folder with one simulated camera
// at 1# that stays closed, so that nothing but the test drives the display.
class tst_Gluebox : public QObject
{
    Q_OBJECT

private:
    struct FormWidget
    {
        const char *name;
        const char *className;
        const char *parent;
        QRect geometry;
    };

    template <typename T = QWidget>
    T *widget(const QString &name) const
    {
        return m_window->findChild<T *>(name);
    }

    QStringList logLines() const
    {
        QStringList lines;
        for (const QList<QVariant> &args : *m_log)
            lines << args.at(0).toString();
        return lines;
    }

    // The work thread's verdict signal, with or without the product number it carries.
    static void emitVerdict(QObject *work, const QByteArray &signal, int cam)
    {
        const QMetaObject *meta = work->metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            if (meta->method(i).name() == signal) {
                QVERIFY(meta->method(i).invoke(work, Qt::DirectConnection, Q_ARG(int, cam),
                                               Q_ARG(qulonglong, 0)));
                return;
            }
        }
        QFAIL(signal.constData());
    }

    static QColor centreColour(const QLabel *label)
    {
        const QImage image = label->pixmap(Qt::ReturnByValue).toImage();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    }

    QTemporaryDir m_station;
    QString m_previousDir;
    std::unique_ptr<Gluebox> m_window;
    std::unique_ptr<QSignalSpy> m_log;

private slots:
    void initTestCase()
    {
        qRegisterMetaType<cv::Mat>("cv::Mat");
        StationFonts::install();
        QVERIFY(m_station.isValid());
        QVERIFY(TempStation::copyTree(QStringLiteral(GLUEBOX_SOURCE_DIR "/station"), m_station.path()));
        auto write = [this](const QString &path, const QByteArray &text) {
            QFile f(m_station.filePath(path));
            return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
        };
        QFile conf(m_station.filePath("conf/conf.txt"));
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QByteArray settings = conf.readAll();
        conf.close();
        settings.replace("AUTO_OPEN=1", "AUTO_OPEN=0").replace("AUTO_WORK=1", "AUTO_WORK=0");
        QVERIFY(write("conf/conf.txt", settings));
        QVERIFY(write("conf/camsim.txt", "CAMERA=HIK|Hikrobot|255|GigE|728|544|Mono8|\nRATE=60\n"));
        QVERIFY(write("conf/rotate.txt", "1,3,0,1,0,3,0,3,"));

        m_previousDir = QDir::currentPath();
        QDir::setCurrent(m_station.filePath("bin"));
        qputenv("GLUEBOX_PLC_PORT", m_station.filePath("no-plc").toLocal8Bit());
        m_window = std::make_unique<Gluebox>();
        m_log = std::make_unique<QSignalSpy>(m_window.get(), &Gluebox::sengMsgToClog);
        QVERIFY(m_window->m_work_threads[0]);
    }

    void cleanupTestCase()
    {
        m_log.reset();
        m_window.reset();
        QDir::setCurrent(m_previousDir);
    }

    void init() { m_log->clear(); }

    void startUpWithoutPlc()
    {
        // Start-up goes on without a PLC; automatic work then stays off.
        QCOMPARE(widget<QLabel>("label_plc")->text(), QStringLiteral("PLC断开"));
        QCOMPARE(widget<QLabel>("label_plc")->styleSheet(),
                 QStringLiteral("background-color: rgb(255, 255, 0);"));
        QCOMPARE(widget<QLabel>("label_role")->text(), QStringLiteral("未登录"));
        QVERIFY(!widget("checkBox_debug")->isEnabled());
        QVERIFY(widget("label_reslut_1")->isHidden());
        m_window->handleTimeout(); // the clock runs, nothing is polled
        QVERIFY(widget<QLabel>("label_run_stat")->text().startsWith(QStringLiteral("运行0天")));
        QCOMPARE(widget<QLabel>("label_plc")->text(), QStringLiteral("PLC断开"));
    }

    void form_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        static const FormWidget widgets[] = {
            {"toolButton_4", "QToolButton", "centralWidget", {0, 9, 49, 49}},
            {"label_title_6", "QLabel", "centralWidget", {48, 15, 192, 20}},
            {"label_title_7", "QLabel", "centralWidget", {48, 38, 192, 20}},
            {"label_title", "QLabel", "centralWidget", {410, 10, 291, 49}},
            {"label_17", "QLabel", "centralWidget", {832, 9, 128, 20}},
            {"label_18", "QLabel", "centralWidget", {952, 9, 56, 20}},
            {"label_cur_time", "QLabel", "centralWidget", {864, 28, 152, 29}},
            {"groupBox_op", "QGroupBox", "centralWidget", {8, 76, 136, 212}},
            {"btn_start", "QToolButton", "groupBox_op", {8, 23, 57, 92}},
            {"btn_pause", "QToolButton", "groupBox_op", {76, 23, 57, 92}},
            {"btn_lock", "QToolButton", "groupBox_op", {8, 115, 57, 92}},
            {"btn_setup", "QToolButton", "groupBox_op", {72, 115, 57, 92}},
            {"groupBox_dev", "QGroupBox", "centralWidget", {8, 307, 136, 404}},
            {"toolButton_cam_1", "QToolButton", "groupBox_dev", {8, 28, 56, 68}},
            {"cam_status_1", "QLabel", "groupBox_dev", {8, 115, 56, 29}},
            {"cam_work_1", "QLabel", "groupBox_dev", {8, 148, 56, 29}},
            {"toolButton_cam_2", "QToolButton", "groupBox_dev", {76, 28, 56, 68}},
            {"cam_status_2", "QLabel", "groupBox_dev", {76, 115, 56, 29}},
            {"cam_work_2", "QLabel", "groupBox_dev", {76, 148, 56, 29}},
            {"toolButton_cam_3", "QToolButton", "groupBox_dev", {8, 970, 56, 68}},
            {"cam_status_3", "QLabel", "groupBox_dev", {8, 1062, 56, 29}},
            {"cam_work_3", "QLabel", "groupBox_dev", {8, 1095, 56, 29}},
            {"toolButton_cam_4", "QToolButton", "groupBox_dev", {76, 970, 56, 68}},
            {"cam_status_4", "QLabel", "groupBox_dev", {76, 1062, 56, 29}},
            {"cam_work_4", "QLabel", "groupBox_dev", {76, 1095, 56, 29}},
            {"checkBox_debug", "QCheckBox", "groupBox_dev", {8, 345, 65, 20}},
            {"checkBox_unkick", "QCheckBox", "groupBox_dev", {8, 374, 56, 20}},
            {"label_title_2", "QLabel", "centralWidget", {16, 499, 120, 135}},
            {"image_label_11", "db_label", "centralWidget", {150, 86, 431, 471}},
            {"rotate_1", "QToolButton", "centralWidget", {550, 90, 20, 20}},
            {"label", "QLabel", "centralWidget", {152, 564, 80, 30}},
            {"lcdNumber_total_1", "QLCDNumber", "centralWidget", {250, 570, 109, 30}},
            {"label_2", "QLabel", "centralWidget", {380, 567, 80, 30}},
            {"lcdNumber_ok_1", "QLCDNumber", "centralWidget", {460, 570, 109, 30}},
            {"label_4", "QLabel", "centralWidget", {150, 610, 80, 30}},
            {"lcdNumber_kick_1", "QLCDNumber", "centralWidget", {250, 610, 109, 30}},
            {"label_ng_1", "db_label", "centralWidget", {380, 610, 80, 30}},
            {"lcdNumber_ng_1", "QLCDNumber", "centralWidget", {460, 610, 109, 30}},
            {"groupBox_a", "QGroupBox", "centralWidget", {150, 650, 432, 57}},
            {"label_speed_1", "QLabel", "groupBox_a", {8, 28, 52, 20}},
            {"label_cap_speed_1", "QLabel", "groupBox_a", {60, 28, 52, 20}},
            {"label_dots_1", "QLabel", "groupBox_a", {128, 28, 56, 20}},
            {"label_jd_no_1", "QLabel", "groupBox_a", {184, 28, 48, 20}},
            {"label_time_1", "QLabel", "groupBox_a", {240, 28, 56, 20}},
            {"label_timecost_1", "QLabel", "groupBox_a", {296, 28, 40, 19}},
            {"label_reslut_1", "QLabel", "groupBox_a", {360, 19, 64, 29}},
            {"image_label_21", "db_label", "centralWidget", {586, 86, 431, 471}},
            {"rotate_2", "QToolButton", "centralWidget", {990, 90, 20, 20}},
            {"label_6", "QLabel", "centralWidget", {580, 570, 80, 30}},
            {"lcdNumber_total_2", "QLCDNumber", "centralWidget", {670, 570, 109, 30}},
            {"label_10", "QLabel", "centralWidget", {800, 570, 80, 30}},
            {"lcdNumber_ok_2", "QLCDNumber", "centralWidget", {900, 570, 109, 30}},
            {"label_11", "QLabel", "centralWidget", {580, 610, 80, 30}},
            {"lcdNumber_kick_2", "QLCDNumber", "centralWidget", {670, 610, 109, 30}},
            {"label_ng_2", "db_label", "centralWidget", {800, 610, 80, 30}},
            {"lcdNumber_ng_2", "QLCDNumber", "centralWidget", {900, 610, 109, 30}},
            {"groupBox_b", "QGroupBox", "centralWidget", {580, 650, 432, 57}},
            {"label_speed_2", "QLabel", "groupBox_b", {8, 28, 52, 20}},
            {"label_cap_speed_2", "QLabel", "groupBox_b", {60, 28, 52, 20}},
            {"label_dots_2", "QLabel", "groupBox_b", {128, 28, 56, 20}},
            {"label_jd_no_2", "QLabel", "groupBox_b", {184, 28, 48, 20}},
            {"label_time_2", "QLabel", "groupBox_b", {240, 28, 56, 20}},
            {"label_timecost_2", "QLabel", "groupBox_b", {296, 28, 40, 19}},
            {"label_reslut_2", "QLabel", "groupBox_b", {360, 19, 64, 29}},
            {"image_label_31", "db_label", "centralWidget", {10, 1210, 321, 251}},
            {"rotate_3", "QToolButton", "centralWidget", {300, 1214, 20, 20}},
            {"label_13", "QLabel", "centralWidget", {1100, 1210, 80, 30}},
            {"lcdNumber_total_3", "QLCDNumber", "centralWidget", {1190, 1210, 109, 30}},
            {"label_14", "QLabel", "centralWidget", {1310, 1210, 80, 30}},
            {"lcdNumber_ok_3", "QLCDNumber", "centralWidget", {1400, 1210, 109, 30}},
            {"label_15", "QLabel", "centralWidget", {1100, 1250, 80, 30}},
            {"lcdNumber_kick_3", "QLCDNumber", "centralWidget", {1190, 1250, 109, 30}},
            {"label_ng_3", "db_label", "centralWidget", {1310, 1250, 80, 30}},
            {"lcdNumber_ng_3", "QLCDNumber", "centralWidget", {1400, 1250, 109, 30}},
            {"groupBox_11", "QGroupBox", "centralWidget", {1100, 1290, 432, 57}},
            {"label_speed_3", "QLabel", "groupBox_11", {8, 28, 52, 20}},
            {"label_cap_speed_3", "QLabel", "groupBox_11", {60, 28, 52, 20}},
            {"label_dots_3", "QLabel", "groupBox_11", {128, 28, 56, 20}},
            {"label_jd_no_3", "QLabel", "groupBox_11", {184, 28, 48, 20}},
            {"label_time_3", "QLabel", "groupBox_11", {240, 28, 56, 20}},
            {"label_timecost_3", "QLabel", "groupBox_11", {296, 28, 40, 19}},
            {"label_reslut_3", "QLabel", "groupBox_11", {360, 19, 64, 29}},
            {"image_label_41", "db_label", "centralWidget", {540, 1210, 321, 251}},
            {"rotate_4", "QToolButton", "centralWidget", {830, 1214, 20, 20}},
            {"label_16", "QLabel", "centralWidget", {1540, 1210, 80, 30}},
            {"lcdNumber_total_4", "QLCDNumber", "centralWidget", {1630, 1210, 109, 30}},
            {"label_19", "QLabel", "centralWidget", {1750, 1210, 80, 30}},
            {"lcdNumber_ok_4", "QLCDNumber", "centralWidget", {1840, 1210, 109, 30}},
            {"label_20", "QLabel", "centralWidget", {1540, 1250, 80, 30}},
            {"lcdNumber_kick_4", "QLCDNumber", "centralWidget", {1630, 1250, 109, 30}},
            {"label_ng_4", "db_label", "centralWidget", {1750, 1250, 80, 30}},
            {"lcdNumber_ng_4", "QLCDNumber", "centralWidget", {1840, 1250, 109, 30}},
            {"groupBox_13", "QGroupBox", "centralWidget", {1540, 1290, 432, 57}},
            {"label_speed_4", "QLabel", "groupBox_13", {8, 28, 52, 20}},
            {"label_cap_speed_4", "QLabel", "groupBox_13", {60, 28, 52, 20}},
            {"label_dots_4", "QLabel", "groupBox_13", {128, 28, 56, 20}},
            {"label_jd_no_4", "QLabel", "groupBox_13", {184, 28, 48, 20}},
            {"label_time_4", "QLabel", "groupBox_13", {240, 28, 56, 20}},
            {"label_timecost_4", "QLabel", "groupBox_13", {296, 28, 40, 19}},
            {"label_reslut_4", "QLabel", "groupBox_13", {360, 19, 64, 29}},
            {"image_label_12", "db_label", "centralWidget", {360, 900, 161, 251}},
            {"image_label_22", "db_label", "centralWidget", {900, 900, 161, 251}},
            {"image_label_32", "db_label", "centralWidget", {360, 1210, 161, 251}},
            {"image_label_42", "db_label", "centralWidget", {900, 1210, 161, 251}},
            {"pushButton_Clear_Pic", "QPushButton", "centralWidget", {1030, 820, 71, 51}},
            {"groupBox_status", "QGroupBox", "centralWidget", {8, 715, 1011, 50}},
            {"label_12", "QLabel", "groupBox_status", {8, 9, 72, 29}},
            {"label_role", "QLabel", "groupBox_status", {80, 9, 64, 29}},
            {"label_8", "QLabel", "groupBox_status", {152, 9, 32, 29}},
            {"lcdNumber_total_no_last", "QLCDNumber", "groupBox_status", {184, 4, 136, 39}},
            {"label_5", "QLabel", "groupBox_status", {328, 9, 32, 29}},
            {"lcdNumber_total_no", "QLCDNumber", "groupBox_status", {360, 4, 136, 39}},
            {"pushButton_clear", "QPushButton", "groupBox_status", {504, 4, 40, 39}},
            {"toolButton_plc", "QToolButton", "groupBox_status", {552, 4, 40, 39}},
            {"label_plc", "QLabel", "groupBox_status", {600, 9, 64, 28}},
            {"pushButton_reset", "QPushButton", "groupBox_status", {670, 5, 40, 39}},
            {"toolButton_alarm", "QToolButton", "groupBox_status", {710, 4, 32, 39}},
            {"label_alarm", "db_label", "groupBox_status", {740, 9, 51, 29}},
            {"label_run_stat", "QLabel", "groupBox_status", {800, 15, 200, 19}},

        };
        for (const FormWidget &w : widgets)
            QTest::newRow(w.name) << w.className << w.parent << w.geometry;
    }

    void form()
    {
        QFETCH(QString, className);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        const QWidget *w = widget(QTest::currentDataTag());
        QVERIFY(w);
        QCOMPARE(w->metaObject()->className(), className);
        QCOMPARE(w->parentWidget()->objectName(), parent);
        QCOMPARE(w->geometry(), geometry);
        if (const auto *lcd = qobject_cast<const QLCDNumber *>(w))
            QCOMPARE(lcd->digitCount(), w->objectName().startsWith("lcdNumber_total_no") ? 8 : 10);
        // Every picture a style names is there.
        const QRegularExpressionMatch url =
            QRegularExpression(R"(url\((:/[^)]+)\))").match(w->styleSheet());
        if (url.hasMatch())
            QVERIFY2(!QPixmap(url.captured(1)).isNull(), qPrintable(url.captured(1)));
    }

    void window()
    {
        QCOMPARE(m_window->objectName(), QStringLiteral("GlueboxClass"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Gluebox"));
        QCOMPARE(m_window->size(), QSize(1024, 768));
        QCOMPARE(widget<QLabel>("label_title")->text(), QStringLiteral("小盒胶点检测系统"));
        const QStringList pictures{"start", "pause", "lock", "unlock", "setup", "plc",
                                   "alarm", "rotate", "keyboard", "exit", "logo", "logo_wide",
                                   "cam1", "cam2", "cam3", "cam4", "cam1_no", "cam2_no",
                                   "cam3_no", "cam4_no", "cam1_yes", "cam2_yes", "cam3_yes",
                                   "cam4_yes"};
        for (const QString &name : pictures)
            QVERIFY2(!QPixmap(":/Gluebox/Resources/" + name + ".png").isNull(), qPrintable(name));
        // A found camera's status label turns green; the closed one keeps its picture.
        QCOMPARE(widget("cam_status_1")->styleSheet(),
                 QStringLiteral("background-color: rgb(0, 170, 0);"));
        QCOMPARE(widget("cam_status_2")->styleSheet(),
                 QStringLiteral("background-color: rgb(255, 255, 0);"));
        QVERIFY(widget("toolButton_cam_1")->styleSheet().contains("cam1_no.png"));
        // An open camera: its work label green, its button's picture the open one.
        g_cameras[1].opened = true;
        m_window->showCameraStates();
        g_cameras[1].opened = false;
        QCOMPARE(widget("cam_work_2")->styleSheet(),
                 QStringLiteral("background-color: rgb(0, 170, 0);"));
        QCOMPARE(widget("toolButton_cam_2")->styleSheet(),
                 QStringLiteral("border-image: url(:/Gluebox/Resources/cam2_yes.png);"));
        QCOMPARE(widget("cam_work_1")->styleSheet(),
                 QStringLiteral("background-color: rgb(255, 255, 0);"));
        // The form's Windows faces resolve to installed ones that have the Chinese glyphs.
        for (const char *name : {"label_title", "label", "groupBox_op"}) {
            const QFontInfo info(widget(name)->font());
            if (!QFontDatabase().writingSystems(info.family())
                     .contains(QFontDatabase::SimplifiedChinese))
                QSKIP(qPrintable("no Chinese font installed; " + info.family() + " stands in"));
        }
    }

    void slotsBound()
    {
        const QMetaObject *meta = m_window->metaObject();
        int bound = 0;
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QString name = QString::fromLatin1(meta->method(i).name());
            if (!name.startsWith("on_"))
                continue;
            const int cut = name.lastIndexOf('_');
            const QObject *sender = widget<QObject>(name.mid(3, cut - 3));
            QVERIFY2(sender, qPrintable(name));
            const QByteArray signal = QMetaObject::normalizedSignature(
                qPrintable(name.mid(cut + 1) + meta->method(i).methodSignature().mid(name.size())));
            QVERIFY2(sender->metaObject()->indexOfSignal(signal) >= 0, qPrintable(name));
            ++bound;
        }
        QVERIFY(bound > 0);
    }

    void notify_data()
    {
        QTest::addColumn<int>("num");
        QTest::addColumn<int>("cnt");
        QTest::addColumn<int>("type");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QSize>("shown");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("colour 2448x2048 to 1#") << 0 << 0 << CV_8UC3 << QSize(2448, 2048)
                                                << QSize(431, 471) << QColor(30, 20, 200);
        QTest::newRow("three images to 2#") << 1 << 0 << CV_8UC3 << QSize(728, 1632)
                                            << QSize(431, 471) << QColor(30, 20, 200);
        QTest::newRow("grey to 2#'s second label") << 1 << 1 << CV_8UC1 << QSize(728, 544)
                                                   << QSize(161, 251) << QColor(77, 77, 77);
        QTest::newRow("four channels to 4#, off screen") << 3 << 0 << CV_8UC4 << QSize(64, 48)
                                                         << QSize(321, 251) << QColor(30, 20, 200);
        QTest::newRow("unsupported type") << 2 << 1 << CV_16UC1 << QSize(100, 100)
                                          << QSize(161, 251) << QColor();
        QTest::newRow("empty frame") << 2 << 0 << CV_8UC1 << QSize(0, 0) << QSize(0, 0) << QColor();
    }

    void notify()
    {
        QFETCH(int, num);
        QFETCH(int, cnt);
        QFETCH(int, type);
        QFETCH(QSize, frame);
        QFETCH(QSize, shown);
        QFETCH(QColor, colour);
        // Blue 200, green 20, red 30 in OpenCV's channel order; grey 77.
        const cv::Mat m(frame.height(), frame.width(), type,
                        type == CV_8UC1 ? cv::Scalar(77) : cv::Scalar(200, 20, 30, 255));
        const cv::Mat original = m.clone();
        m_window->OnNotifyHub(num, cnt, m);

        const QLabel *label = m_window->m_image_label[num][cnt];
        const QPixmap picture = label->pixmap(Qt::ReturnByValue);
        QCOMPARE(picture.isNull(), !colour.isValid());
        if (colour.isValid()) {
            QCOMPARE(picture.size(), shown);
            QCOMPARE(centreColour(label), colour);
        }
        const cv::Mat &last = m_window->m_last_image[num][cnt];
        QCOMPARE(QSize(last.cols, last.rows), shown);
        QCOMPARE(last.type(), type);
        // The sender's frame is left as it was.
        if (!m.empty())
            QCOMPARE(cv::norm(m, original, cv::NORM_INF), 0.0);
    }

    // What the threads of a found position send reaches the screen.
    void threadSignals()
    {
        WorkThread *work = m_window->m_work_threads[0].get();
        emit work->display_timecost(0, 37);
        emit work->display_jd_no(0, QStringLiteral("5,5,4"));
        emit work->notify(0, 1, cv::Mat(544, 728, CV_8UC3, cv::Scalar(0, 0, 255)));
        emit m_window->m_debug_threads[0]->notify(0, 0, cv::Mat(544, 728, CV_8UC1, cv::Scalar(9)));
        emit CameraRegistry::instance().updateStatistics(QStringLiteral("9.5"), 0);
        QCOMPARE(widget<QLabel>("label_timecost_1")->text(), QStringLiteral("37ms"));
        QCOMPARE(widget<QLabel>("label_jd_no_1")->text(), QStringLiteral("5,5,4"));
        QCOMPARE(centreColour(widget<QLabel>("image_label_12")), QColor(255, 0, 0));
        QCOMPARE(centreColour(widget<QLabel>("image_label_11")), QColor(9, 9, 9));
        QCOMPARE(widget<QLabel>("label_cap_speed_1")->text(), QStringLiteral("9.5个/秒"));
    }

    void counters()
    {
        m_window->OnDisplayCheckNumberHub(2, 999);
        QCOMPARE(widget<QLCDNumber>("lcdNumber_total_3")->intValue(), 1);
        m_window->OnDisplayCheckNumberHub(2, 0);
        QCOMPARE(widget<QLCDNumber>("lcdNumber_total_3")->intValue(), 2);

        QObject *work = m_window->m_work_threads[0].get();
        const int waiting = g_result_list[0]->size();
        for (int k = 0; k < 5; ++k)
            emitVerdict(work, "event_ng", 0);
        QCOMPARE(widget<QLCDNumber>("lcdNumber_ng_1")->intValue(), 5);
        // The work thread has put them into the list; the window only shows them.
        QCOMPARE(g_result_list[0]->size(), waiting);
        const QLabel *result = widget<QLabel>("label_reslut_1");
        QCOMPARE(result->text(), QStringLiteral("NG"));
        QCOMPARE(result->styleSheet(), QStringLiteral("background-color: rgb(255, 0, 0);"));

        emitVerdict(work, "event_ok", 0);
        QCOMPARE(widget<QLCDNumber>("lcdNumber_ok_1")->intValue(), 1);
        QCOMPARE(widget<QLCDNumber>("lcdNumber_ng_1")->intValue(), 5);
        QCOMPARE(result->text(), QStringLiteral("OK"));
        QCOMPARE(result->styleSheet(), QStringLiteral("background-color: rgb(0, 255, 0);"));
        QCOMPARE(widget<QLCDNumber>("lcdNumber_ok_2")->intValue(), 0);
    }

    void fullScreen_data()
    {
        QTest::addColumn<int>("num");
        QTest::addColumn<int>("cnt");
        QTest::addColumn<QRect>("label");
        QTest::addColumn<QRect>("rotate");
        QTest::newRow("image_label_11") << 0 << 0 << QRect(150, 86, 431, 471) << QRect(550, 90, 0, 0);
        QTest::newRow("image_label_12") << 0 << 1 << QRect(10, 230, 231, 401) << QRect(550, 90, 0, 0);
        QTest::newRow("image_label_21") << 1 << 0 << QRect(586, 86, 431, 471) << QRect(990, 90, 0, 0);
        QTest::newRow("image_label_22") << 1 << 1 << QRect(900, 90, 161, 251) << QRect(990, 90, 0, 0);
        QTest::newRow("image_label_31") << 2 << 0 << QRect(800, 230, 231, 401) << QRect(125, 230, 0, 0);
        QTest::newRow("image_label_32") << 2 << 1 << QRect(1040, 230, 231, 401) << QRect(125, 230, 0, 0);
        QTest::newRow("image_label_41") << 3 << 0 << QRect(732, 420, 321, 261) << QRect(1030, 430, 0, 0);
        QTest::newRow("image_label_42") << 3 << 1 << QRect(900, 420, 161, 251) << QRect(1030, 430, 0, 0);
    }

    // A double tap on an image label enlarges it to the screen, the next one puts it back.
    void fullScreen()
    {
        QFETCH(int, num);
        QFETCH(int, cnt);
        QFETCH(QRect, label);
        QFETCH(QRect, rotate);
        auto *image = widget<db_label>(QTest::currentDataTag());
        const QWidget *button = widget(QStringLiteral("rotate_%1").arg(num + 1));
        m_window->OnNotifyHub(num, cnt, cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(128)));

        emit image->QlabelDoubleClick();
        QCOMPARE(image->geometry(), QRect(0, 0, 1024, 768));
        QCOMPARE(button->geometry(), QRect(1000, 10, 20, 20));
        QCOMPARE(image->pixmap(Qt::ReturnByValue).size(), QSize(1024, 768));
        QCOMPARE(m_window->m_last_image[num][cnt].cols, 1024);

        emit image->QlabelDoubleClick();
        QCOMPARE(image->geometry(), label);
        QCOMPARE(button->geometry(), rotate);
        QCOMPARE(image->pixmap(Qt::ReturnByValue).size(), label.size());
        QCOMPARE(logLines(),
                 QStringList({QStringLiteral("Set the picture of camera %1 to full screen.").arg(num),
                              QStringLiteral("Cancel the picture of camera %1 to full screen.").arg(num)}));
    }

    void rotation_data()
    {
        QTest::addColumn<int>("num");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QByteArray>("file");
        // rotate.txt of the station: 1# enabled with code 3, 2# disabled with code 1.
        QTest::newRow("enabled, 3 to 0") << 0 << 0 << "Start to rotate picture 0 degrees of camera 0."
                                        << QByteArray("1,0,0,1,0,3,0,3,");
        QTest::newRow("enabled, 0 to 1") << 0 << 1 << "Start to rotate picture 90 degrees of camera 0."
                                        << QByteArray("1,1,0,1,0,3,0,3,");
        QTest::newRow("disabled") << 1 << 1 << "Start to rotate picture 180 degrees of camera 1."
                                  << QByteArray("1,1,0,1,0,3,0,3,");
    }

    void rotation()
    {
        QFETCH(int, num);
        QFETCH(int, code);
        QFETCH(QString, line);
        QFETCH(QByteArray, file);
        widget<QToolButton>(QStringLiteral("rotate_%1").arg(num + 1))->click();
        QCOMPARE(g_rotate[num].load(), code);
        QCOMPARE(logLines(), QStringList(line));
        QFile rotateFile("../conf/rotate.txt");
        QVERIFY(rotateFile.open(QIODevice::ReadOnly));
        QCOMPARE(rotateFile.readAll(), file);
    }

    void ngFolder_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<bool>("opener");
        QTest::addColumn<QString>("printed");
        QTest::newRow("no NG image today") << false << true
                                           << "No NG images of camera 2 today: %1 does not exist\n";
        QTest::newRow("no file manager") << true << false << "No file manager to show %1\n";
        QTest::newRow("opened") << true << true << "";
    }

    // A double tap on "2#NG次数" opens the day's NG images of 2# with the desktop's opener.
    void ngFolder()
    {
        QFETCH(bool, folder);
        QFETCH(bool, opener);
        QFETCH(QString, printed);
        const QString ngFolder =
            QFileInfo("../data/image/" + QDate::currentDate().toString("yyyy-MM-dd") + "/2/ng_result")
                .absoluteFilePath();
        QVERIFY(folder ? QDir().mkpath(ngFolder) : QDir(ngFolder).removeRecursively());
        // A stand-in opener that notes what it was asked to open.
        QTemporaryDir bin;
        const QString opened = bin.filePath("opened");
        if (opener) {
            QFile script(bin.filePath("xdg-open"));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\necho \"$1\" > " + opened.toLocal8Bit() + "\n");
            script.close();
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit());
        StdoutCapture out;
        emit widget<db_label>("label_ng_2")->QlabelDoubleClick();
        qputenv("PATH", path);

        QCOMPARE(logLines(), QStringList("Double click NG."));
        QCOMPARE(QString::fromLocal8Bit(out.text()), printed.arg(ngFolder));
        if (printed.isEmpty()) {
            QTRY_VERIFY(QFile::exists(opened));
            QFile note(opened);
            QVERIFY(note.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromLocal8Bit(note.readAll()).trimmed(), ngFolder);
        }
    }
};

QTEST_MAIN(tst_Gluebox)
#include "tst_gluebox.moc"
