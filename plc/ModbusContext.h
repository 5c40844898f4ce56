#pragma once

#include <modbus/modbus.h>

// Sole owner of a libmodbus context: closes the line (when a socket is open) and frees
// the context when it goes out of scope. Movable, not copyable.
class ModbusContext
{
public:
    ModbusContext() = default;
    explicit ModbusContext(modbus_t *ctx) : m_ctx(ctx) {}
    ~ModbusContext() { reset(); }
    ModbusContext(const ModbusContext &) = delete;
    ModbusContext &operator=(const ModbusContext &) = delete;
    ModbusContext(ModbusContext &&other) noexcept : m_ctx(other.release()) {}
    ModbusContext &operator=(ModbusContext &&other) noexcept;

    modbus_t *get() const { return m_ctx; }
    explicit operator bool() const { return m_ctx != nullptr; }

    // Closes and frees the current context, then owns ctx.
    void reset(modbus_t *ctx = nullptr);
    // Gives up ownership without closing anything.
    modbus_t *release();

private:
    modbus_t *m_ctx = nullptr;
};
