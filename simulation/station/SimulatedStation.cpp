#include "SimulatedStation.h"

#include "CameraBackends.h"
#include "ConfLineReader.h"
#include "FolderFrameSource.h"
#include "GeneratedFrameSource.h"
#include "LineSimulator.h"
#include "PatternFrameSource.h"
#include "SimBalluffDeviceManager.h"
#include "SimBaslerTransportLayer.h"
#include "SimHikApi.h"
#include "SysConf.h"

#include <QFile>
#include <QRegExp>

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
    std::vector<SimCamera::Config> cameras;
    ConfLineReader reader(file);
    QByteArray line, key, value;
    while (reader.nextLine(line)) {
        if (line.startsWith('#'))
            continue;
        ConfLineReader::splitKeyValue(line, key, value);
        const std::string v = value.toStdString();
        if (key == "CAMERA") {
            SimCamera::Config c;
            if (parseCamera(v, c))
                cameras.push_back(c);
            else
                std::printf("%s: ignored camera line \"%s\"\n", qPrintable(path), v.c_str());
        } else if (key == "RATE") {
            s.productsPerMinute = std::atof(v.c_str());
        } else if (key == "SHOTS") {
            s.shots = std::max(1, ConfLineReader::leadingInt(value));
        } else if (key == "NG_SHARE") {
            s.ngShare = std::min(1.0, std::max(0.0, std::atof(v.c_str())));
        } else if (key == "SOURCE") {
            s.source = trimmed(v);
        } else if (key == "SEED") {
            s.seed = static_cast<unsigned>(ConfLineReader::leadingInt(value));
        } else if (key == "DOTS") {
            s.dotsPerImage = std::max(0, std::min(10, ConfLineReader::leadingInt(value)));
        } else {
            std::printf("%s: ignored line \"%s\"\n", qPrintable(path), line.constData());
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
        m_source = std::make_shared<GeneratedFrameSource>(m_settings.seed, m_settings.ngShare,
                                                          false, m_settings.dotsPerImage);
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

SimCamera *SimulatedStation::camera(int index) const
{
    if (index < 0 || index >= cameraCount())
        return nullptr;
    return m_cameras[index].get();
}
