#pragma once

#include <net/if.h>

#include <cstring>

// GigE Vision discovery broadcasts on every interface: a test that enumerates or starts a
// GigE Vision camera runs only where loopback is the one interface (scripts/in-netns.sh).
inline bool loopbackOnly()
{
    struct if_nameindex *interfaces = if_nameindex();
    if (!interfaces)
        return false;
    bool onlyLo = true;
    int n = 0;
    for (struct if_nameindex *i = interfaces; i->if_index != 0; ++i, ++n)
        onlyLo = onlyLo && std::strcmp(i->if_name, "lo") == 0;
    if_freenameindex(interfaces);
    return onlyLo && n == 1;
}
