#pragma once

#include "BalluffDevice.h"
#include "BalluffFunctionInterface.h"
#include "BaslerCamera.h"
#include "BaslerTransportLayer.h"
#include "CameraSlot.h"
#include "HikApi.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CaptureWorker;
class QThread;
struct SysConf;

// Finds the cameras of the three vendors, binds them to positions by user ID, and opens
// and closes the camera of a position together with its capture worker and thread.
// Everything here runs on the GUI thread.
class CameraRegistry : public QObject
{
    Q_OBJECT
public:
    // Makes the capture worker for a freshly opened position.
    using WorkerFactory = std::function<CaptureWorker *(int position, int vendor)>;

    explicit CameraRegistry(QObject *parent = nullptr);
    ~CameraRegistry() override;

    // The process-wide registry, serving g_cameras and the back-ends table.
    static CameraRegistry &instance();

    void setWorkerFactory(WorkerFactory factory);

    // Fills slots from the connected cameras and conf's USERID1..4. A camera whose user ID
    // could not be read (its open failed) is kept as unidentified, for identifyCameras().
    void EnumerateCameras(CameraSlot (&positions)[4], bool verbose, const SysConf &conf);
    // Reads again the user IDs of the cameras that enumeration saw but could not identify,
    // and binds each that answers to the first position without a camera whose USERID it
    // has. Returns those positions; the others stay unidentified.
    std::vector<int> identifyCameras();
    // "Balluff, device 0", "HIK, device 1 (model MV-CA013)": the cameras still unidentified.
    QStringList unidentifiedCameras() const;
    // "Balluff, user ID 3": the camera of a found position.
    QString cameraName(int position) const;
    // The reject output's features that the position's camera refused at its last open
    // ("Line4"); empty when it can eject.
    QStringList rejectRefused(int position) const;
    // Opens (open = true) or closes the camera of a position; see g_cameras.
    bool SetCameraOpen(int position, bool open);
    void EnableDebugMode();
    void DisableDebugMode();

    // Closes every open position (shutdown).
    void closeAll();

    // Positions whose camera is present and open.
    std::vector<int> openedPositions() const;
    // Before work starts: the frames of a window that a stop cut short are dropped. The
    // verdict, trigger-wait and shot lists stay: the line stood still meanwhile, and the
    // boxes past the camera are still on their way to the ejector.
    void clearForWork();
    // The line has stood still since the position's camera last saw a window (it was
    // closed while the station paused): at its next open, the boxes between camera and
    // ejector keep their numbers and verdicts. Otherwise an open after an earlier one
    // empties the lists, and MISMATCHACT decides for the unseen boxes at the ejector.
    void keepBoxesAhead(int position);
    // The boxes between the cameras and the ejector were taken off the line: every open
    // position's verdict, trigger-wait and shot lists are emptied.
    void forgetBoxesAhead();

    // The vendor objects of an open position, for its capture worker.
    HikHandle hikHandle(int position) const;
    BaslerCamera *baslerCamera(int position) const;
    BalluffDevice *balluffDevice(int position) const;
    BalluffFunctionInterface *balluffFunctions(int position) const;
    CaptureWorker *worker(int position) const;
    QThread *workerThread(int position) const;

signals:
    // Frames per second of a position, forwarded from its capture worker.
    void updateStatistics(const QString &text, int position);
    // An open position's camera is gone (its worker's deviceLost); it stays open, for a
    // close and reopen (the camera button, or the PLC's reconnect request) to bring it back.
    void cameraLost(int position);
    // Forwarded from the position's capture worker.
    void windowsWithoutFrames(int position, qulonglong firstProduct);

private:
    struct Position
    {
        HikHandle hik = nullptr;
        std::unique_ptr<BaslerCamera> basler;
        BalluffDevice *balluff = nullptr;
        std::unique_ptr<BalluffFunctionInterface> balluffFunctions;
        CaptureWorker *worker = nullptr;
        QThread *thread = nullptr;
        std::vector<std::string> rejectRefused;
        bool everOpened = false;
        bool keepBoxes = false;
    };
    struct Unidentified
    {
        int vendor = CameraSlot::None;
        int index = 0;     // in its vendor's device list
        std::string model; // may be empty
    };

    // Opens a listed camera just long enough to read its user ID; false when it can't.
    bool readUserId(int vendor, int index, std::string &id);
    bool open(int position);
    bool close(int position);
    bool openVendor(int position, const CameraSlot &slot);
    void releaseVendor(int position, int vendor);
    void setMode(bool freeRun);

    CameraSlot *m_slots = nullptr;
    std::vector<HikDeviceInfo> m_hikDevices;
    std::vector<BaslerDeviceInfo> m_baslerDevices;
    Position m_positions[4];
    std::vector<Unidentified> m_unidentified;
    int m_userIds[4] = {};
    WorkerFactory m_workerFactory;
};

// The station's calls, on the process-wide registry and g_cameras.
void EnumerateCameras(CameraSlot (&positions)[4], bool verbose, const SysConf &conf);
bool SetCameraOpen(int position, bool open);
