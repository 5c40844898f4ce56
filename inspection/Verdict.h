#pragma once

#include <cstdint>

// A product's verdict on its way from the inspection worker to the camera's reject
// output, with the number of the product it was made for, so that it can only ever
// be applied to that product.
struct Verdict
{
    uint64_t product = 0; // 0: no product number (never matches a product)
    bool good = true;
};
