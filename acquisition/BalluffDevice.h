#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

// The Balluff mvIMPACT Acquire operations the station uses, in the SDK's call shape:
// devices from a device manager, GenICam properties written by name, failures raised as
// errors that name the failed operation, one any-edge line event plus a line-level read.

class BalluffError : public std::runtime_error
{
public:
    BalluffError(const std::string &operation, int code, const std::string &text)
        : std::runtime_error(operation + ": " + text)
        , m_operation(operation)
        , m_code(code)
    {
    }
    const std::string &operation() const { return m_operation; }
    int code() const { return m_code; }

private:
    std::string m_operation;
    int m_code;
};

class BalluffFunctionInterface;

class BalluffDevice
{
public:
    static constexpr int kInterfaceLayoutGenICam = 2;
    static constexpr int kStartStopUserControlled = 1;

    virtual ~BalluffDevice() = default;

    virtual std::string manufacturer() const = 0;
    virtual int interfaceLayout() const = 0;
    virtual void setInterfaceLayout(int layout) = 0;
    virtual int acquisitionStartStopBehaviour() const = 0;
    virtual void open() = 0; // raises "mvIMPACT::acquire::Device::open"
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // GenICam properties (search base "Base"). Refused writes raise BalluffError naming
    // the operation.
    virtual void writeS(const std::string &name, const std::string &value) = 0;
    virtual void writeInt64(const std::string &name, int64_t value) = 0;
    virtual void writeDouble(const std::string &name, double value) = 0;
    virtual void writeBool(const std::string &name, bool value) = 0;
    virtual std::string readS(const std::string &name) = 0;
    virtual bool readBool(const std::string &name) = 0;

    // The Line5 any-edge event: the callback runs once per edge on the SDK's thread.
    virtual void registerLineEventCallback(std::function<void()> callback) = 0;
    virtual void deregisterLineEventCallback() = 0;

    virtual std::unique_ptr<BalluffFunctionInterface> createFunctionInterface() = 0;
    // Statistics "FramesPerSecond" as text.
    virtual std::string framesPerSecond() = 0;
};

class BalluffDeviceManager
{
public:
    virtual ~BalluffDeviceManager() = default;
    virtual void updateDeviceList() = 0;
    virtual int deviceCount() const = 0;
    // Owned by the manager; null outside 0..deviceCount()-1.
    virtual BalluffDevice *device(int index) = 0;
};
