#include "CameraRegistry.h"

#include "BalluffCameraSetup.h"
#include "BaslerCameraSetup.h"
#include "CameraBackends.h"
#include "CaptureThread.h"
#include "CaptureThreadBasler.h"
#include "CaptureThreadHIK.h"
#include "CaptureWorker.h"
#include "ConfLineReader.h"
#include "DebugMode.h"
#include "HikCameraSetup.h"
#include "IdleCaptureWorker.h"
#include "StationQueues.h"
#include "SysConf.h"

#include <QDebug>
#include <QThread>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <utility>

namespace {
constexpr int kMaxBasler = 2;
constexpr int kMaxHik = 4;
constexpr int kMaxBalluff = 4;
constexpr unsigned kHikLayers = HikDeviceInfo::kGigE | HikDeviceInfo::kUsb3;
constexpr int kStopWaitMs = 10000;
constexpr int kWindowsToEjector = 2; // the ejector sits two product windows downstream

// Empties a position's verdict, trigger-wait and shot lists.
void clearProductLists(int p)
{
    if (g_result_list[p])
        g_result_list[p]->clear();
    if (g_result_wait_list[p])
        g_result_wait_list[p]->clear();
    if (g_shooted_list[p])
        g_shooted_list[p]->clear();
}

int userIdValue(const std::string &text)
{
    return ConfLineReader::leadingInt(QByteArray::fromStdString(text));
}

std::string upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

bool startsWith(const std::string &s, const char *prefix)
{
    return s.rfind(prefix, 0) == 0;
}

// As the operator reads them in messages.
const char *vendorTitle(int vendor)
{
    switch (vendor) {
    case CameraSlot::Balluff: return "Balluff";
    case CameraSlot::Basler: return "Basler";
    case CameraSlot::Hik: return "HIK";
    default: return "unknown";
    }
}

// How enumeration says a vendor's user ID.
const char *userIdLabel(int vendor)
{
    return vendor == CameraSlot::Hik      ? "Hikrobot user ID"
           : vendor == CameraSlot::Basler ? "Basler user ID"
                                          : "Balluff user ID";
}

CameraSlot candidateSlot(int vendor, int index, const std::string &id)
{
    CameraSlot c;
    (vendor == CameraSlot::Basler ? c.baslerIndex : c.deviceIndex) = index;
    c.vendor = vendor;
    c.userId = userIdValue(id);
    return c;
}

const char *vendorName(int vendor)
{
    switch (vendor) {
    case CameraSlot::Balluff: return "balluff";
    case CameraSlot::Basler: return "basler";
    case CameraSlot::Hik: return "hik";
    default: return "unknown";
    }
}
} // namespace

CameraRegistry::CameraRegistry(QObject *parent)
    : QObject(parent)
    , m_workerFactory([this](int position, int vendor) -> CaptureWorker * {
        Position &pos = m_positions[position];
        if (vendor == CameraSlot::Hik && cameraBackends().hik)
            return new CaptureThreadHIK(*cameraBackends().hik, pos.hik, false, position);
        if (vendor == CameraSlot::Basler && pos.basler)
            return new CaptureThreadBasler(*pos.basler, false, position);
        if (vendor == CameraSlot::Balluff && pos.balluff && pos.balluffFunctions)
            return new CaptureThread(*pos.balluff, false, *pos.balluffFunctions, position);
        return new IdleCaptureWorker(false, position);
    })
{
}

CameraRegistry::~CameraRegistry()
{
    closeAll();
}

CameraRegistry &CameraRegistry::instance()
{
    static CameraRegistry registry;
    return registry;
}

void CameraRegistry::setWorkerFactory(WorkerFactory factory)
{
    m_workerFactory = std::move(factory);
}

void CameraRegistry::EnumerateCameras(CameraSlot (&positions)[4], bool verbose, const SysConf &conf)
{
    m_slots = positions;
    for (int p = 0; p < 4; ++p)
        m_userIds[p] = conf.USERID[p];
    m_unidentified.clear();
    std::vector<CameraSlot> candidates;
    int baslerCount = 0, hikCount = 0, balluffCount = 0;
    const CameraBackends &backends = cameraBackends();

    if (BaslerTransportLayer *basler = backends.basler) {
        try {
            basler->initialize();
            m_baslerDevices = basler->enumerateDevices();
        } catch (const BaslerError &e) {
            std::cerr << "An exception occurred." << std::endl << e.description() << std::endl;
            m_baslerDevices.clear();
        }
        const int count = std::min<int>(static_cast<int>(m_baslerDevices.size()), kMaxBasler);
        for (int i = 0; i < count; ++i) {
            std::string id;
            if (!readUserId(CameraSlot::Basler, i, id)) {
                m_unidentified.push_back({CameraSlot::Basler, i, m_baslerDevices[i].modelName});
                continue;
            }
            if (verbose)
                std::printf("Basler user ID = %s\n", id.c_str());
            candidates.push_back(candidateSlot(CameraSlot::Basler, i, id));
            ++baslerCount;
        }
    }

    if (HikApi *hik = backends.hik) {
        m_hikDevices.clear();
        if (hik->enumDevices(kHikLayers, m_hikDevices) != HikApi::kOk)
            m_hikDevices.clear();
        const int count = std::min<int>(static_cast<int>(m_hikDevices.size()), kMaxHik);
        for (int i = 0; i < count; ++i) {
            const HikDeviceInfo &info = m_hikDevices[i];
            if (info.layerType != HikDeviceInfo::kGigE && info.layerType != HikDeviceInfo::kUsb3)
                continue;
            if (verbose)
                std::printf("Camera:%d,vendor = %s\n", i, info.manufacturerName.c_str());
            const std::string name = upper(info.manufacturerName);
            const bool hikrobot = startsWith(name, "HIK") || startsWith(name, "U3V");
            if (!hikrobot && !hik->takesAnyMaker())
                continue;
            std::string id;
            if (readUserId(CameraSlot::Hik, i, id)) {
                if (verbose)
                    std::printf("%s user ID = %s\n", hikrobot ? "Hikrobot" : info.manufacturerName.c_str(), id.c_str());
            } else {
                // Its ID counts as 0; unless a position takes it so, it is read again later.
                m_unidentified.push_back({CameraSlot::Hik, i, info.modelName});
            }
            candidates.push_back(candidateSlot(CameraSlot::Hik, i, id));
            ++hikCount;
        }
    }

    if (BalluffDeviceManager *balluff = backends.balluff) {
        balluff->updateDeviceList();
        const int count = std::min(balluff->deviceCount(), kMaxBalluff);
        for (int i = 0; i < count; ++i) {
            BalluffDevice *device = balluff->device(i);
            if (!device)
                continue;
            const std::string manufacturer = device->manufacturer();
            if (verbose)
                std::printf("Camera:%d,vendor = %s\n", i, manufacturer.c_str());
            if (!startsWith(upper(manufacturer), "BALLUFF"))
                continue;
            std::string id;
            if (!readUserId(CameraSlot::Balluff, i, id)) {
                m_unidentified.push_back({CameraSlot::Balluff, i, std::string()});
                continue;
            }
            if (verbose)
                std::printf("Balluff user ID = %s\n", id.c_str());
            candidates.push_back(candidateSlot(CameraSlot::Balluff, i, id));
            ++balluffCount;
        }
    }

    if (verbose) {
        std::printf("Camera Count:\t%d\n", static_cast<int>(candidates.size()));
        if (balluffCount)
            std::printf("Balluff Count:\t%d\n", balluffCount);
        if (hikCount)
            std::printf("Hikvision Count:\t%d\n", hikCount);
        if (baslerCount)
            std::printf("Basler Count:\t%d\n", baslerCount);
    }
    std::fflush(stdout);

    // First free candidate in list order wins: Basler before HIK before Balluff, and a
    // camera never serves two positions.
    std::vector<bool> taken(candidates.size(), false);
    for (int p = 0; p < 4; ++p) {
        positions[p] = CameraSlot();
        for (size_t c = 0; c < candidates.size(); ++c) {
            if (!taken[c] && candidates[c].userId == conf.USERID[p]) {
                taken[c] = true;
                positions[p] = candidates[c];
                positions[p].found = true;
                break;
            }
        }
    }
    // A HIK camera that a position took with ID 0 is that position's.
    auto takenWithIdZero = [&positions](const Unidentified &u) {
        for (const CameraSlot &s : positions)
            if (u.vendor == CameraSlot::Hik && s.found && s.vendor == CameraSlot::Hik
                && s.deviceIndex == u.index)
                return true;
        return false;
    };
    m_unidentified.erase(std::remove_if(m_unidentified.begin(), m_unidentified.end(), takenWithIdZero),
                         m_unidentified.end());
}

bool CameraRegistry::readUserId(int vendor, int index, std::string &id)
{
    const CameraBackends &backends = cameraBackends();
    id.clear();
    switch (vendor) {
    case CameraSlot::Basler: {
        if (!backends.basler || index < 0 || index >= static_cast<int>(m_baslerDevices.size()))
            return false;
        std::unique_ptr<BaslerCamera> camera;
        try {
            camera = backends.basler->createCamera(m_baslerDevices[index]);
            camera->open();
            id = camera->deviceUserId();
            camera->close();
            return true;
        } catch (const BaslerError &e) {
            std::cerr << "An exception occurred." << std::endl << e.description() << std::endl;
            if (camera && camera->isOpen())
                camera->close();
            return false;
        }
    }
    case CameraSlot::Hik: {
        HikApi *hik = backends.hik;
        if (!hik || index < 0 || index >= static_cast<int>(m_hikDevices.size()))
            return false;
        bool read = false;
        HikHandle handle = nullptr;
        if (hik->createHandle(&handle, m_hikDevices[index]) == HikApi::kOk) {
            if (hik->openDevice(handle, HikApi::kAccessExclusive, 0) == HikApi::kOk) {
                read = hik->getDeviceUserId(handle, id) == HikApi::kOk;
                hik->closeDevice(handle);
            }
            hik->destroyHandle(handle);
        }
        if (!read)
            id.clear();
        return read;
    }
    case CameraSlot::Balluff: {
        BalluffDevice *device = backends.balluff ? backends.balluff->device(index) : nullptr;
        if (!device)
            return false;
        const bool wasOpen = device->isOpen();
        try {
            if (!wasOpen)
                device->open();
            id = device->readS("DeviceUserID");
            if (!wasOpen)
                device->close();
            return true;
        } catch (const BalluffError &e) {
            std::printf("An exception occurred.\n%s\n", e.what());
            std::fflush(stdout);
            if (!wasOpen && device->isOpen())
                device->close();
            return false;
        }
    }
    default:
        return false;
    }
}

std::vector<int> CameraRegistry::identifyCameras()
{
    std::vector<int> bound;
    if (!m_slots)
        return bound;
    for (auto it = m_unidentified.begin(); it != m_unidentified.end();) {
        std::string id;
        if (!readUserId(it->vendor, it->index, id)) {
            ++it;
            continue;
        }
        std::printf("%s = %s\n", userIdLabel(it->vendor), id.c_str());
        const CameraSlot camera = candidateSlot(it->vendor, it->index, id);
        it = m_unidentified.erase(it);
        for (int p = 0; p < 4; ++p) {
            if (!m_slots[p].found && m_userIds[p] == camera.userId) {
                m_slots[p] = camera;
                m_slots[p].found = true;
                bound.push_back(p);
                break;
            }
        }
    }
    std::fflush(stdout);
    return bound;
}

QStringList CameraRegistry::unidentifiedCameras() const
{
    QStringList names;
    for (const Unidentified &u : m_unidentified)
        names << QStringLiteral("%1, device %2%3")
                     .arg(QLatin1String(vendorTitle(u.vendor)))
                     .arg(u.index)
                     .arg(u.model.empty() ? QString()
                                          : QStringLiteral(" (model %1)").arg(QString::fromStdString(u.model)));
    return names;
}

QString CameraRegistry::cameraName(int position) const
{
    if (position < 0 || position > 3 || !m_slots)
        return QString();
    return QStringLiteral("%1, user ID %2")
        .arg(QLatin1String(vendorTitle(m_slots[position].vendor)))
        .arg(m_slots[position].userId);
}

QStringList CameraRegistry::rejectRefused(int position) const
{
    QStringList features;
    if (position >= 0 && position < 4)
        for (const std::string &f : m_positions[position].rejectRefused)
            features << QString::fromStdString(f);
    return features;
}

bool CameraRegistry::SetCameraOpen(int position, bool open)
{
    if (position < 0 || position > 3 || !m_slots)
        return false;
    return open ? this->open(position) : close(position);
}

bool CameraRegistry::open(int p)
{
    CameraSlot &slot = m_slots[p];
    if (slot.opened)
        return false;
    if (slot.vendor != CameraSlot::Balluff && slot.vendor != CameraSlot::Basler
        && slot.vendor != CameraSlot::Hik)
        return false;
    qDebug().noquote() << "open for" << vendorName(slot.vendor);
    Position &pos = m_positions[p];
    const bool keepBoxes = std::exchange(pos.keepBoxes, false); // said for this try only
    if (!openVendor(p, slot))
        return false;

    // Unless the line stood still, the boxes of the windows numbered before a close (or a
    // lost camera) have passed the ejector unseen since: their places in the lists must
    // not line up with the boxes that come now, or a pulse meant for one would hit
    // another. The boxes standing between camera and ejector now were never seen.
    if (!keepBoxes)
        clearProductLists(p);
    CaptureWorker *worker = m_workerFactory(p, slot.vendor);
    worker->setCanEject(pos.rejectRefused.empty());
    if (pos.everOpened && !keepBoxes)
        worker->setUnknownBoxesAhead(kWindowsToEjector);
    worker->setQueues(g_image_queue[p], g_result_list[p], g_result_wait_list[p],
                      g_shooted_list[p], g_debug_queue[p]);
    QThread *thread = new QThread;
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, &CaptureWorker::process);
    connect(worker, &CaptureWorker::finished, thread, &QThread::quit);
    connect(worker, &CaptureWorker::finished, worker, &QObject::deleteLater);
    connect(worker, &CaptureWorker::updateStatistics, this, &CameraRegistry::updateStatistics);
    connect(worker, &CaptureWorker::deviceLost, this, &CameraRegistry::cameraLost);
    connect(worker, &CaptureWorker::windowsWithoutFrames, this, &CameraRegistry::windowsWithoutFrames);
    m_positions[p].worker = worker;
    m_positions[p].thread = thread;
    thread->start(QThread::InheritPriority);
    if (!thread->isRunning()) {
        close(p);
        return false;
    }
    qDebug().noquote() << vendorName(slot.vendor) << "pThread OK";
    slot.opened = true;
    pos.everOpened = true;
    return true;
}

bool CameraRegistry::openVendor(int p, const CameraSlot &slot)
{
    const CameraBackends &backends = cameraBackends();
    const SysConf &conf = g_sys_conf;
    Position &pos = m_positions[p];
    pos.rejectRefused.clear();
    switch (slot.vendor) {
    case CameraSlot::Hik: {
        if (!backends.hik || slot.deviceIndex < 0
            || slot.deviceIndex >= static_cast<int>(m_hikDevices.size()))
            return false;
        HikHandle handle = nullptr;
        const HikDeviceInfo &info = m_hikDevices[slot.deviceIndex];
        if (backends.hik->createHandle(&handle, info) != HikApi::kOk)
            return false;
        if (!HikCameraSetup::configureOnOpen(*backends.hik, handle, info, conf.EXPO[p],
                                             conf.GAIN[p], conf.FILTER[p], &pos.rejectRefused)) {
            backends.hik->destroyHandle(handle);
            return false;
        }
        // A back-end that makes product windows out of frames needs their number.
        backends.hik->setShotsPerProduct(handle, std::max(1, conf.SHOOT[p]));
        pos.hik = handle;
        return true;
    }
    case CameraSlot::Basler: {
        if (!backends.basler || slot.baslerIndex < 0
            || slot.baslerIndex >= static_cast<int>(m_baslerDevices.size()))
            return false;
        try {
            pos.basler = backends.basler->createCamera(m_baslerDevices[slot.baslerIndex]);
            pos.basler->setGrabCameraEvents(true);
            pos.basler->open();
            BaslerCameraSetup::configureOnOpen(*pos.basler, conf.EXPO[p], conf.GAIN[p],
                                               conf.FILTER[p], &pos.rejectRefused);
            return true;
        } catch (const BaslerError &e) {
            std::cerr << "An exception occurred." << std::endl << e.description() << std::endl;
            if (pos.basler) {
                pos.basler->close();
                pos.basler->setGrabCameraEvents(false);
                pos.basler.reset();
            }
            return false;
        }
    }
    case CameraSlot::Balluff: {
        BalluffDevice *device = backends.balluff ? backends.balluff->device(slot.deviceIndex) : nullptr;
        if (!device)
            return false;
        try {
            pos.balluffFunctions = BalluffCameraSetup::openAndConfigure(
                *device, conf.EXPO[p], conf.GAIN[p], conf.FILTER[p], &pos.rejectRefused);
            pos.balluff = device;
            return true;
        } catch (const BalluffError &e) {
            std::printf("An exception occurred.\n%s\n", e.what());
            std::fflush(stdout);
            pos.balluffFunctions.reset();
            if (device->isOpen())
                device->close();
            return false;
        }
    }
    default:
        return false;
    }
}

bool CameraRegistry::close(int p)
{
    CameraSlot &slot = m_slots[p];
    Position &pos = m_positions[p];
    if (!slot.opened && !pos.thread)
        return false;
    qDebug().noquote() << "close for" << vendorName(slot.vendor);

    if (CaptureWorker *worker = pos.worker) {
        disconnect(pos.thread, &QThread::started, worker, &CaptureWorker::process);
        disconnect(worker, &CaptureWorker::finished, pos.thread, &QThread::quit);
        disconnect(worker, &CaptureWorker::finished, worker, &QObject::deleteLater);
        disconnect(worker, &CaptureWorker::updateStatistics, this, &CameraRegistry::updateStatistics);
        disconnect(worker, &CaptureWorker::deviceLost, this, &CameraRegistry::cameraLost);
        disconnect(worker, &CaptureWorker::windowsWithoutFrames, this, &CameraRegistry::windowsWithoutFrames);
        worker->requestStop();
    }
    bool stopped = true;
    if (pos.thread) {
        pos.thread->quit();
        stopped = pos.thread->wait(kStopWaitMs);
    }
    releaseVendor(p, slot.vendor);
    if (stopped) {
        delete pos.worker;
        delete pos.thread;
        // Its worker is gone, and the camera must not outlive the back-end that made it.
        pos.basler.reset();
    } else {
        // Never destroy a thread that still runs: leave it, and say so.
        std::printf("Capture thread of camera %d did not stop within %d ms\n", p + 1, kStopWaitMs);
        std::fflush(stdout);
    }
    pos.worker = nullptr;
    pos.thread = nullptr;
    slot.opened = false;
    return true;
}

void CameraRegistry::releaseVendor(int p, int vendor)
{
    Position &pos = m_positions[p];
    const CameraBackends &backends = cameraBackends();
    switch (vendor) {
    case CameraSlot::Balluff:
        if (pos.balluff && pos.balluff->isOpen())
            pos.balluff->close();
        pos.balluffFunctions.reset();
        pos.balluff = nullptr;
        break;
    case CameraSlot::Basler:
        if (pos.basler && pos.basler->isOpen())
            pos.basler->close();
        if (pos.basler)
            pos.basler->setGrabCameraEvents(false);
        break; // the camera object goes with its worker (close)
    case CameraSlot::Hik:
        if (pos.hik && backends.hik) {
            backends.hik->closeDevice(pos.hik);
            backends.hik->destroyHandle(pos.hik);
        }
        pos.hik = nullptr;
        break;
    default:
        break;
    }
}

void CameraRegistry::closeAll()
{
    if (!m_slots)
        return;
    for (int p = 0; p < 4; ++p)
        if (m_slots[p].opened)
            close(p);
}

std::vector<int> CameraRegistry::openedPositions() const
{
    std::vector<int> positions;
    for (int p = 0; m_slots && p < 4; ++p)
        if (m_slots[p].found && m_slots[p].opened)
            positions.push_back(p);
    return positions;
}

void CameraRegistry::clearForWork()
{
    for (int p : openedPositions())
        if (m_positions[p].worker)
            m_positions[p].worker->clearPending();
}

void CameraRegistry::forgetBoxesAhead()
{
    for (int p : openedPositions())
        clearProductLists(p);
}

void CameraRegistry::keepBoxesAhead(int position)
{
    if (position >= 0 && position < 4)
        m_positions[position].keepBoxes = true;
}

void CameraRegistry::setMode(bool freeRun)
{
    if (!m_slots)
        return;
    const CameraBackends &backends = cameraBackends();
    for (int p = 0; p < 4; ++p) {
        const CameraSlot &slot = m_slots[p];
        if (!slot.found || !slot.opened)
            continue;
        Position &pos = m_positions[p];
        try {
            if (slot.vendor == CameraSlot::Hik && pos.hik && backends.hik) {
                freeRun ? HikCameraSetup::setFreeRunMode(*backends.hik, pos.hik)
                        : HikCameraSetup::setTriggeredMode(*backends.hik, pos.hik);
            } else if (slot.vendor == CameraSlot::Basler && pos.basler) {
                freeRun ? BaslerCameraSetup::setFreeRunMode(*pos.basler)
                        : BaslerCameraSetup::setTriggeredMode(*pos.basler);
            } else if (slot.vendor == CameraSlot::Balluff && pos.balluff) {
                freeRun ? BalluffCameraSetup::setFreeRunMode(*pos.balluff)
                        : BalluffCameraSetup::setTriggeredMode(*pos.balluff);
            }
        } catch (const std::exception &e) {
            // A camera that refuses the switch keeps its mode; the others still switch.
            std::printf("An exception occurred.\n%s\n", e.what());
            std::fflush(stdout);
        }
    }
}

void CameraRegistry::EnableDebugMode()
{
    setMode(true);
    g_debug_mode = true;
}

void CameraRegistry::DisableDebugMode()
{
    setMode(false);
    g_debug_mode = false;
}

HikHandle CameraRegistry::hikHandle(int p) const { return (p >= 0 && p < 4) ? m_positions[p].hik : nullptr; }
BaslerCamera *CameraRegistry::baslerCamera(int p) const { return (p >= 0 && p < 4) ? m_positions[p].basler.get() : nullptr; }
BalluffDevice *CameraRegistry::balluffDevice(int p) const { return (p >= 0 && p < 4) ? m_positions[p].balluff : nullptr; }
BalluffFunctionInterface *CameraRegistry::balluffFunctions(int p) const { return (p >= 0 && p < 4) ? m_positions[p].balluffFunctions.get() : nullptr; }
CaptureWorker *CameraRegistry::worker(int p) const { return (p >= 0 && p < 4) ? m_positions[p].worker : nullptr; }
QThread *CameraRegistry::workerThread(int p) const { return (p >= 0 && p < 4) ? m_positions[p].thread : nullptr; }

void EnumerateCameras(CameraSlot (&positions)[4], bool verbose, const SysConf &conf)
{
    CameraRegistry::instance().EnumerateCameras(positions, verbose, conf);
}

bool SetCameraOpen(int position, bool open)
{
    return CameraRegistry::instance().SetCameraOpen(position, open);
}
