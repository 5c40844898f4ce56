#pragma once

#include "CameraSlot.h"
#include "SimCamera.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

class FrameSource;
class GeneratedFrameSource;
class ProductAccount;
class LineSimulator;
class SimBalluffDeviceManager;
class SimBaslerTransportLayer;
class SimHikApi;

// The Linux build's cameras: simulated devices of the three vendors, their back-ends
// installed in the registry's table, and the line that drives them. Configured by
// "../conf/camsim.txt"; without it, two HIK cameras with the default user ID.
class SimulatedStation
{
public:
    struct Settings
    {
        std::vector<SimCamera::Config> cameras;
        double productsPerMinute = 600;
        int shots = 3;
        double ngShare = 0.05;
        std::string source = "generated"; // "generated", "pattern" or a folder of images
        unsigned seed = 1;
        int dotsPerImage = 0;             // generated products: 0 = vary per product
    };

    // What read() accepts; a value outside is reported and the default kept. Faster
    // lines or more shots only pile up frames the station could never inspect in time.
    static constexpr int kMaxCameras = 4;
    static constexpr double kMinProductsPerMinute = 1;
    static constexpr double kMaxProductsPerMinute = 1500;
    static constexpr int kMaxShots = 10;
    static constexpr int kMaxDots = 10;

    static Settings defaults();
    // Reads the file on top of the defaults. A file without CAMERA lines keeps the
    // default cameras. Unknown keys, malformed or surplus CAMERA lines and values out of
    // range are reported and skipped. A value may be followed by a blank and a # comment.
    static Settings read(const QString &path, bool *found = nullptr);
    static bool parseCamera(const std::string &value, SimCamera::Config &config);

    explicit SimulatedStation(Settings settings);
    ~SimulatedStation(); // removes its back-ends from the registry's table
    SimulatedStation(const SimulatedStation &) = delete;
    SimulatedStation &operator=(const SimulatedStation &) = delete;

    void install();
    void uninstall();

    const Settings &settings() const { return m_settings; }
    int cameraCount() const { return static_cast<int>(m_cameras.size()); }
    SimCamera *camera(int index) const;
    // The index of the camera bound to a position's slot, or -1.
    int cameraIndexOf(const CameraSlot &slot) const;
    LineSimulator &line() const { return *m_line; }
    // Where the line's pictures come from.
    const FrameSource &source() const { return *m_source; }
    // Generated pictures are drawn only while inspection at these positions keeps up
    // (no more than one closed window without its verdict). Their drawing runs at idle
    // priority, but on a machine shared with other programs an idle thread still spends
    // its process's share of the CPU, which inspection then lacks.
    void drawPicturesWhileInspectionKeepsUp(std::vector<const ProductAccount *> positions) const;
    SimHikApi &hik() const { return *m_hik; }
    SimBaslerTransportLayer &basler() const { return *m_basler; }
    SimBalluffDeviceManager &balluff() const { return *m_balluff; }

private:
    Settings m_settings;
    std::vector<std::unique_ptr<SimCamera>> m_cameras;
    std::unique_ptr<SimHikApi> m_hik;
    std::unique_ptr<SimBaslerTransportLayer> m_basler;
    std::unique_ptr<SimBalluffDeviceManager> m_balluff;
    std::shared_ptr<FrameSource> m_source;
    GeneratedFrameSource *m_generated = nullptr; // m_source, when it is one
    std::unique_ptr<LineSimulator> m_line;
    bool m_installed = false;
};
