#pragma once

#include <cstdio>
#include <string>

// How the simulated cameras record written values: integers in decimal, booleans as
// true/false, floats in their shortest exact-enough decimal form (10000.0 -> "10000").
namespace SimFeatureValue {
inline std::string fromBool(bool v) { return v ? "true" : "false"; }
inline std::string fromDouble(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}
} // namespace SimFeatureValue
