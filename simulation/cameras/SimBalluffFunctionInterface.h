#pragma once

#include "BalluffFunctionInterface.h"

#include <opencv2/core/mat.hpp>

#include <mutex>
#include <vector>

class SimCamera;

// A request queue of a few buffers over a simulated camera (not owned).
class SimBalluffFunctionInterface : public BalluffFunctionInterface
{
public:
    static constexpr int kRequests = 8;

    explicit SimBalluffFunctionInterface(SimCamera *camera);
    ~SimBalluffFunctionInterface() override;

    int imageRequestSingle() override;
    int imageRequestWaitFor(int timeoutMs) override;
    bool isRequestNrValid(int requestNr) const override;
    int requestCount() const override { return kRequests; }
    void updateRequests() override {}
    BalluffRequest request(int requestNr) const override;
    int imageRequestUnlock(int requestNr) override;
    int imageRequestReset() override;
    int acquisitionStart() override;
    int acquisitionStop() override;
    std::string errorText(int code) const override;

private:
    enum class State { Free, Queued, Ready, Locked };
    struct Slot
    {
        State state = State::Free;
        cv::Mat image;
        int result = -1;
    };

    SimCamera *m_camera;
    mutable std::mutex m_mutex; // guards m_slots
    std::vector<Slot> m_slots;
};
