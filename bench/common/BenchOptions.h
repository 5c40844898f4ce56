#pragma once

#include <cstdio>
#include <cstring>
#include <initializer_list>

// Whether a benchmark's command line is pairs of "--name value", every name one it knows.
// If not, it prints the usage: a mistyped option would otherwise run minutes of the
// defaults and print figures that look like the ones asked for.
inline bool optionsKnown(int argc, char *const argv[], std::initializer_list<const char *> names, const char *usage)
{
    for (int i = 1; i < argc; i += 2) {
        bool known = false;
        for (const char *name : names)
            known = known || std::strcmp(argv[i], name) == 0;
        if (!known || i + 1 == argc) {
            std::fprintf(stderr, "usage: %s\n", usage);
            return false;
        }
    }
    return true;
}
