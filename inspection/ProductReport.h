#pragma once

#include <QDateTime>

#include <cstdint>
#include <string>
#include <vector>

// What the inspection of one numbered product came to, for whoever follows the line from
// outside (the plant's broker). Made on the inspection thread after the verdict is in the
// verdict list.
struct ProductReport
{
    enum class Verdict { Good, Bad, None }; // None: MISMATCHACT left it to the ejector

    int camera = 0;             // position, from 0
    uint64_t product = 0;
    std::vector<int> dots;      // per image; empty when it was not inspected
    Verdict verdict = Verdict::None;
    bool inspected = false;     // false: judged by MISMATCHACT (see why)
    std::string why;
    int inspectMs = 0;          // the network's time for the product
    QDateTime time;             // when the verdict was given
};
