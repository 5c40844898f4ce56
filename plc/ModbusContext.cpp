#include "ModbusContext.h"

#include <utility>

ModbusContext &ModbusContext::operator=(ModbusContext &&other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

void ModbusContext::reset(modbus_t *ctx)
{
    if (m_ctx && m_ctx != ctx) {
        // A context that never connected (or whose socket was handed back) has no line
        // to close; closing it would touch a descriptor it doesn't own.
        if (modbus_get_socket(m_ctx) >= 0)
            modbus_close(m_ctx);
        modbus_free(m_ctx);
    }
    m_ctx = ctx;
}

modbus_t *ModbusContext::release()
{
    return std::exchange(m_ctx, nullptr);
}
