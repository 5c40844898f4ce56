#include "SimulatedStation.h"

#include "CameraBackends.h"
#include "ConfLineReader.h"
#include "FolderFrameSource.h"
#include "GeneratedFrameSource.h"
#include "LineSimulator.h"
#include "PatternFrameSource.h"
#include "ProductAccount.h"
#include "SimBalluffDeviceManager.h"
#include "SimBaslerTransportLayer.h"
#include "SimHikApi.h"
#include "SysConf.h"

#include <QFile>
#include <QRegExp>

#include <cmath>
#include <cstdio>

namespace {
std::string trimmed(const std::string &s)
{
    return QString::fromStdString(s).trimmed().toStdString();
}
} // namespace

SimulatedStation::Settings SimulatedStation::defaults()
{
    Settings s;
    for (int i = 0; i < 2; ++i) {
        SimCamera::Config c;
        c.vendor = SimCamera::Vendor::Hik;
        c.manufacturer = "Hikrobot";
        c.userId = "255"; // what conf.txt expects of every position by default
        s.cameras.push_back(c);
    }
    return s;
}

bool SimulatedStation::parseCamera(const std::string &value, SimCamera::Config &c)
{
    // vendor|manufacturer|user ID|transport|width|height|pixel format|refusals
    const std::vector<std::string> f = splitString(value, "|");
    if (f.size() < 7)
        return false;
    const std::string vendor = QString::fromStdString(trimmed(f[0])).toUpper().toStdString();
    if (vendor == "HIK")
        c.vendor = SimCamera::Vendor::Hik;
    else if (vendor == "BASLER")
        c.vendor = SimCamera::Vendor::Basler;
    else if (vendor == "BALLUFF")
        c.vendor = SimCamera::Vendor::Balluff;
    else
        return false;
    c.manufacturer = trimmed(f[1]);
    c.userId = trimmed(f[2]);
    const std::string transport = trimmed(f[3]);
    if (transport == "GigE")
        c.transport = SimCamera::Transport::GigE;
    else if (transport == "USB3")
        c.transport = SimCamera::Transport::Usb3;
    else
        return false;
    c.width = std::atoi(f[4].c_str());
    c.height = std::atoi(f[5].c_str());
    if (c.width < 8 || c.height < 8 || c.width > 8192 || c.height > 8192)
        return false;
    const std::string format = trimmed(f[6]);
    if (format == "Mono8")
        c.format = SimCamera::PixelFormat::Mono8;
    else if (format == "BGR8")
        c.format = SimCamera::PixelFormat::Bgr8;
    else if (format == "RGB8")
        c.format = SimCamera::PixelFormat::Rgb8;
    else
        return false;
    if (f.size() > 7) {
        for (const std::string &raw : splitString(f[7], ",")) {
            const std::string token = trimmed(raw);
            if (token.empty())
                continue;
            if (token == "open-fails-once")
                c.profile.openFailures = 1;
            else if (token == "open-fails-always")
                c.profile.openFailures = -1;
            else if (QRegExp("no-Line\\d+").exactMatch(QString::fromStdString(token)))
                c.profile.missingLines.insert(token.substr(3));
            else if (token.rfind("no-", 0) == 0)
                c.profile.refusedFeatures.insert(token.substr(3));
            else
                return false;
        }
    }
    return true;
}

SimulatedStation::Settings SimulatedStation::read(const QString &path, bool *found)
{
    Settings s = defaults();
    QFile file(path);
    if (found)
        *found = false;
    if (!file.open(QIODevice::ReadOnly))
        return s;
    if (found)
        *found = true;
    const QByteArray name = path.toLocal8Bit();
    // "RATE=600   # products per minute": the comment goes, a '#' inside a folder name stays.
    auto withoutComment = [](const QByteArray &value) {
        for (int i = 1; i < value.size(); ++i) {
            if (value[i] == '#' && (value[i - 1] == ' ' || value[i - 1] == '\t'))
                return value.left(i).trimmed();
        }
        return value.trimmed();
    };
    // The whole value must be one finite number within [lo, hi].
    auto number = [&](const QByteArray &key, const QByteArray &value, double lo, double hi,
                      double &out) {
        bool ok = false;
        const double v = value.toDouble(&ok);
        if (ok && std::isfinite(v) && v >= lo && v <= hi) {
            out = v;
            return true;
        }
        std::printf("%s: %s=%s is not a number from %g to %g, keeping %g\n", name.constData(),
                    key.constData(), value.constData(), lo, hi, out);
        return false;
    };
    auto whole = [&](const QByteArray &key, const QByteArray &value, int lo, int hi, int &out) {
        double v = out;
        if (number(key, value, lo, hi, v) && v != std::floor(v)) {
            std::printf("%s: %s=%s is not a whole number, keeping %d\n", name.constData(),
                        key.constData(), value.constData(), out);
            return;
        }
        out = static_cast<int>(v);
    };
    std::vector<SimCamera::Config> cameras;
    ConfLineReader reader(file);
    QByteArray line, key, raw;
    while (reader.nextLine(line)) {
        if (line.trimmed().startsWith('#'))
            continue;
        ConfLineReader::splitKeyValue(line, key, raw);
        key = key.trimmed();
        const QByteArray value = withoutComment(raw);
        const std::string v = value.toStdString();
        if (key == "CAMERA") {
            SimCamera::Config c;
            if (!parseCamera(v, c))
                std::printf("%s: ignored camera line \"%s\"\n", name.constData(), v.c_str());
            else if (cameras.size() >= static_cast<size_t>(kMaxCameras))
                std::printf("%s: ignored camera line \"%s\": the station has %d positions\n",
                            name.constData(), v.c_str(), kMaxCameras);
            else
                cameras.push_back(c);
        } else if (key == "RATE") {
            number(key, value, kMinProductsPerMinute, kMaxProductsPerMinute, s.productsPerMinute);
        } else if (key == "SHOTS") {
            whole(key, value, 1, kMaxShots, s.shots);
        } else if (key == "NG_SHARE") {
            number(key, value, 0, 1, s.ngShare);
        } else if (key == "SOURCE") {
            s.source = v;
        } else if (key == "SEED") {
            double seed = s.seed;
            if (number(key, value, 0, 4294967295.0, seed))
                s.seed = static_cast<unsigned>(seed);
        } else if (key == "DOTS") {
            whole(key, value, 0, kMaxDots, s.dotsPerImage);
        } else {
            std::printf("%s: ignored line \"%s\"\n", name.constData(), line.constData());
        }
    }
    std::fflush(stdout);
    if (!cameras.empty())
        s.cameras = cameras;
    return s;
}

SimulatedStation::SimulatedStation(Settings settings)
    : m_settings(std::move(settings))
{
    std::vector<SimCamera *> hik, basler, balluff, all;
    int serial = 0;
    for (SimCamera::Config c : m_settings.cameras) {
        if (c.serial.empty())
            c.serial = "SIM" + std::to_string(10000 + serial++);
        m_cameras.push_back(std::make_unique<SimCamera>(c));
        SimCamera *camera = m_cameras.back().get();
        all.push_back(camera);
        switch (c.vendor) {
        case SimCamera::Vendor::Hik: hik.push_back(camera); break;
        case SimCamera::Vendor::Basler: basler.push_back(camera); break;
        case SimCamera::Vendor::Balluff: balluff.push_back(camera); break;
        case SimCamera::Vendor::None: break;
        }
    }
    m_hik = std::make_unique<SimHikApi>(hik);
    m_basler = std::make_unique<SimBaslerTransportLayer>(basler);
    m_balluff = std::make_unique<SimBalluffDeviceManager>(balluff);

    const int width = m_settings.cameras.empty() ? 728 : m_settings.cameras.front().width;
    const int height = m_settings.cameras.empty() ? 544 : m_settings.cameras.front().height;
    if (m_settings.source == "pattern") {
        m_source = std::make_shared<PatternFrameSource>(width, height, m_settings.ngShare,
                                                        m_settings.seed);
    } else if (m_settings.source == "generated") {
        auto generated = std::make_shared<GeneratedFrameSource>(m_settings.seed, m_settings.ngShare,
                                                                false, m_settings.dotsPerImage);
        m_generated = generated.get();
        m_source = std::move(generated);
    } else {
        auto folder = std::make_shared<FolderFrameSource>(m_settings.source);
        if (folder->isEmpty()) {
            std::printf("No images in %s: the simulated line shows plain frames\n",
                        m_settings.source.c_str());
            m_source = std::make_shared<PatternFrameSource>(width, height, m_settings.ngShare,
                                                            m_settings.seed);
        } else {
            m_source = folder;
        }
    }
    m_line = std::make_unique<LineSimulator>(all, m_source, m_settings.shots);
}

void SimulatedStation::drawPicturesWhileInspectionKeepsUp(std::vector<const ProductAccount *> positions) const
{
    if (!m_generated)
        return;
    m_generated->restWhile([positions] {
        for (const ProductAccount *a : positions)
            if (a->lastProduct() > a->lastJudged() + 1)
                return true;
        return false;
    });
}

SimulatedStation::~SimulatedStation()
{
    m_line->stop();
    uninstall();
    m_line.reset();
    m_hik.reset();
    m_basler.reset();
    m_balluff.reset();
}

void SimulatedStation::install()
{
    CameraBackends &table = cameraBackends();
    table.hik = m_hik.get();
    table.basler = m_basler.get();
    table.balluff = m_balluff.get();
    m_installed = true;
}

void SimulatedStation::uninstall()
{
    if (!m_installed)
        return;
    CameraBackends &table = cameraBackends();
    if (table.hik == m_hik.get())
        table.hik = nullptr;
    if (table.basler == m_basler.get())
        table.basler = nullptr;
    if (table.balluff == m_balluff.get())
        table.balluff = nullptr;
    m_installed = false;
}

int SimulatedStation::cameraIndexOf(const CameraSlot &slot) const
{
    // The slot's index is into its vendor's device list, which lists that vendor's
    // cameras in the order of camsim.txt.
    const int vendor = slot.vendor;
    const int vendorIndex = vendor == CameraSlot::Basler ? slot.baslerIndex : slot.deviceIndex;
    int seen = 0;
    for (int i = 0; i < cameraCount(); ++i) {
        if (static_cast<int>(m_cameras[i]->vendor()) != vendor)
            continue;
        if (seen++ == vendorIndex)
            return i;
    }
    return -1;
}

SimCamera *SimulatedStation::camera(int index) const
{
    if (index < 0 || index >= cameraCount())
        return nullptr;
    return m_cameras[index].get();
}
