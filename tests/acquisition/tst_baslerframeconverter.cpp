#include "BaslerFrameConverter.h"

#include <QtTest>

#include <opencv2/core.hpp>

#include <vector>

// Every Basler pixel format the station takes arrives as Mono8 with the right grey values.
class tst_BaslerFrameConverter : public QObject
{
    Q_OBJECT

    static cv::Mat convert(int format, const std::vector<uint8_t> &buffer, int width, int height,
                           int stride)
    {
        BaslerGrabResult r;
        r.succeeded = true;
        r.width = width;
        r.height = height;
        r.pixelFormat = format;
        r.buffer = buffer.data();
        r.strideBytes = stride;
        return BaslerFrameConverter::toMono8(r);
    }

private slots:
    void toMono8_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("bytes"); // one row of 4 pixels
        QTest::addColumn<QByteArray>("grey");  // what the station sees, empty: refused
        const auto b = [](std::initializer_list<int> v) {
            QByteArray a;
            for (int x : v)
                a.append(char(x));
            return a;
        };
        QTest::newRow("Mono8") << BaslerGrabResult::kMono8 << b({0, 17, 128, 255}) << b({0, 17, 128, 255});
        // 10 bits 0, 4, 512, 1023 and 12 bits 0, 16, 2048, 4095, little-endian in 16.
        QTest::newRow("Mono10") << BaslerGrabResult::kMono10 << b({0, 0, 4, 0, 0, 2, 255, 3})
                                << b({0, 1, 128, 255});
        QTest::newRow("Mono12") << BaslerGrabResult::kMono12 << b({0, 0, 16, 0, 0, 8, 255, 15})
                                << b({0, 1, 128, 255});
        // The same values packed: 4 x 10 bits in 5 bytes, 2 x 12 bits in 3 bytes.
        QTest::newRow("Mono10p") << BaslerGrabResult::kMono10p << b({0, 16, 0, 0xE0, 0xFF})
                                 << b({0, 1, 128, 255});
        QTest::newRow("Mono12p") << BaslerGrabResult::kMono12p << b({0, 0, 1, 0, 0xF8, 0xFF})
                                 << b({0, 1, 128, 255});
        QTest::newRow("unknown") << 99 << b({1, 2, 3, 4}) << QByteArray();
    }

    void toMono8()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, grey);
        // Two equal rows, the second one after some padding.
        const int stride = bytes.size() + 3;
        std::vector<uint8_t> buffer(2 * stride, 0xAA);
        for (int y = 0; y < 2; ++y)
            std::copy(bytes.begin(), bytes.end(), buffer.begin() + y * stride);
        const cv::Mat out = convert(format, buffer, 4, 2, stride);
        if (grey.isEmpty()) {
            QVERIFY(out.empty());
            return;
        }
        QCOMPARE(out.type(), CV_8UC1);
        for (int y = 0; y < 2; ++y)
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(out.ptr(y)), 4), grey);
    }

    // A Bayer frame of one flat colour comes out as one flat grey, whichever pattern.
    void bayerIsDemosaicked()
    {
        for (int format : {BaslerGrabResult::kBayerRG8, BaslerGrabResult::kBayerBG8,
                           BaslerGrabResult::kBayerGR8, BaslerGrabResult::kBayerGB8}) {
            const cv::Mat out = convert(format, std::vector<uint8_t>(8 * 8, 100), 8, 8, 8);
            QCOMPARE(out.size(), cv::Size(8, 8));
            QCOMPARE(cv::countNonZero(out != 100), 0);
        }
    }
};

QTEST_GUILESS_MAIN(tst_BaslerFrameConverter)
#include "tst_baslerframeconverter.moc"
