// camsim.txt: whatever the file holds, the simulated station gets one to four cameras of
// a usable size and a line whose rate, shots, NG share and dot count lie within bounds.
#include "FuzzSupport.h"

#include "SimulatedStation.h"
#include "StationPaths.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::enterStation();
    Fuzz::write(StationPaths::cameraSimFile(), data, size);
    bool found = false;
    const SimulatedStation::Settings s = SimulatedStation::read(StationPaths::cameraSimFile(), &found);
    FUZZ_CHECK(found);
    FUZZ_CHECK(!s.cameras.empty() && s.cameras.size() <= size_t(SimulatedStation::kMaxCameras));
    for (const SimCamera::Config &c : s.cameras) {
        FUZZ_CHECK(c.vendor != SimCamera::Vendor::None);
        FUZZ_CHECK(c.width >= 8 && c.width <= 8192 && c.height >= 8 && c.height <= 8192);
    }
    FUZZ_CHECK(std::isfinite(s.productsPerMinute));
    FUZZ_CHECK(s.productsPerMinute >= SimulatedStation::kMinProductsPerMinute
               && s.productsPerMinute <= SimulatedStation::kMaxProductsPerMinute);
    FUZZ_CHECK(s.shots >= 1 && s.shots <= SimulatedStation::kMaxShots);
    FUZZ_CHECK(s.ngShare >= 0 && s.ngShare <= 1);
    FUZZ_CHECK(s.dotsPerImage >= 0 && s.dotsPerImage <= SimulatedStation::kMaxDots);
    return 0;
}
