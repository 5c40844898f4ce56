#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// The Basler pylon operations the station uses, in the SDK's call shape: a camera object
// with named parameters; plain writes raise BaslerError when the camera refuses them,
// "try" writes return false instead; frames and line events reach handler objects.

class BaslerError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
    const char *description() const { return what(); }
};

struct BaslerGrabResult
{
    static constexpr int kMono8 = 1;
    static constexpr int kRgb8 = 2;
    static constexpr int kBgr8 = 3;
    static constexpr int kMono10 = 4;  // 16 bits per pixel, little-endian, low 10 used
    static constexpr int kMono12 = 5;  // 16 bits per pixel, little-endian, low 12 used
    static constexpr int kMono10p = 6; // 4 pixels in 5 bytes, least significant bits first
    static constexpr int kMono12p = 7; // 2 pixels in 3 bytes, least significant bits first
    static constexpr int kBayerRG8 = 8;
    static constexpr int kBayerBG8 = 9;
    static constexpr int kBayerGR8 = 10;
    static constexpr int kBayerGB8 = 11;

    bool succeeded = false;
    int width = 0;
    int height = 0;
    int pixelFormat = kMono8;
    const uint8_t *buffer = nullptr;
    int strideBytes = 0;
};

class BaslerCamera;

// Receives every grabbed frame, during BaslerCamera::retrieveResult.
class BaslerImageEventHandler
{
public:
    virtual ~BaslerImageEventHandler() = default;
    virtual void onImageGrabbed(BaslerCamera &camera, const BaslerGrabResult &result) = 0;
};

// Receives camera events (line edges) with the id given at registration, on an SDK thread.
class BaslerCameraEventHandler
{
public:
    virtual ~BaslerCameraEventHandler() = default;
    virtual void onCameraEvent(BaslerCamera &camera, intptr_t userProvidedId,
                               const std::string &nodeName) = 0;
};

class BaslerCamera
{
public:
    virtual ~BaslerCamera() = default;

    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual std::string deviceUserId() = 0;

    virtual void setEnum(const std::string &name, int64_t value) = 0;
    virtual void setEnumString(const std::string &name, const std::string &entry) = 0;
    virtual void setInt(const std::string &name, int64_t value) = 0;
    virtual void setFloat(const std::string &name, double value) = 0;
    virtual void setBool(const std::string &name, bool value) = 0;
    // A float node looked up by name in the camera's node map.
    virtual void setFloatNode(const std::string &name, double value) = 0;

    virtual bool trySetEnum(const std::string &name, int64_t value) = 0;
    virtual bool trySetFloat(const std::string &name, double value) = 0;
    virtual bool trySetBool(const std::string &name, bool value) = 0;
    // Whether the enumeration would accept the value, without writing it.
    virtual bool canSetEnum(const std::string &name, int64_t value) = 0;

    // The instant camera's own switch for delivering camera events (not a camera
    // feature); the registry turns it on before opening.
    virtual void setGrabCameraEvents(bool enabled) = 0;

    // Handlers stay owned by the caller and must outlive the camera's use of them.
    virtual void registerImageEventHandler(BaslerImageEventHandler *handler) = 0;
    virtual void deregisterImageEventHandler(BaslerImageEventHandler *handler) = 0;
    virtual void registerCameraEventHandler(BaslerCameraEventHandler *handler,
                                            const std::string &eventDataNode,
                                            intptr_t userProvidedId) = 0;
    virtual void deregisterCameraEventHandler(BaslerCameraEventHandler *handler) = 0;

    // One-by-one grabbing driven by the caller's loop.
    virtual void startGrabbing() = 0;
    virtual void stopGrabbing() = 0;
    virtual bool isGrabbing() const = 0;
    // Waits up to timeoutMs for one frame and hands it to the image handlers; false on
    // timeout (no error raised).
    virtual bool retrieveResult(int timeoutMs) = 0;
};
