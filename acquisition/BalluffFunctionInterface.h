#pragma once

#include <cstdint>
#include <string>

struct BalluffRequest
{
    static constexpr int kResultOk = 0;
    static constexpr int kPixelMono8 = 1;
    static constexpr int kPixelRgbPacked = 9;
    static constexpr int kPixelBgrPacked = 22;

    int result = -1;
    int pixelFormat = kPixelMono8;
    int width = 0;
    int height = 0;
    int linePitch = 0;
    const uint8_t *buffer = nullptr;
};

// The request queue of one Balluff device. Calls return 0 or a negative SDK error code.
class BalluffFunctionInterface
{
public:
    static constexpr int kErrorNoFreeRequest = -2118;

    virtual ~BalluffFunctionInterface() = default;

    virtual int imageRequestSingle() = 0;
    // Number of a finished request, or a negative value when none came in timeoutMs.
    virtual int imageRequestWaitFor(int timeoutMs) = 0;
    virtual bool isRequestNrValid(int requestNr) const = 0;
    virtual int requestCount() const = 0;
    virtual void updateRequests() = 0;
    virtual BalluffRequest request(int requestNr) const = 0;
    virtual int imageRequestUnlock(int requestNr) = 0;
    virtual int imageRequestReset() = 0;
    virtual int acquisitionStart() = 0;
    virtual int acquisitionStop() = 0;
    virtual std::string errorText(int code) const = 0;
};
