// The number writer against the C++ library's own shortest form, where the library has one:
// the bytes must be the same for every kind of double.

#include "out.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

namespace {

std::string plainForm(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// x carries the value; the expected object is built from the library's form.
void expectSameBytes(double value) {
    Out out;
    out.trusted = true;
    out.x = value;
    out.y = 0;
    out.width = 0;
    out.height = 0;
    EXPECT_EQ(encodeOut(out),
              "{\"trusted\":true,\"x\":" + plainForm(value) + ",\"y\":0,\"width\":0,\"height\":0}");
}

TEST(NumberForm, MatchesToCharsOnEveryKindOfDouble) {
    std::mt19937_64 random(7331);
    for (int round = 0; round < 200000; ++round) {
        const std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        switch (round % 4) {
        case 0: // any bit pattern
            break;
        case 1: // integers of every size, including beyond 2^53
            value = std::ldexp(static_cast<double>(bits >> 11), static_cast<int>(bits % 80));
            break;
        case 2: // short decimals near the layout boundaries
            value = static_cast<double>(bits % 100000) *
                    std::pow(10.0, static_cast<int>(bits % 41) - 20);
            break;
        case 3: // screen-like coordinates
            value = static_cast<double>(static_cast<std::int64_t>(bits % 2000000) - 1000000) / 64;
            break;
        }
        if (!std::isfinite(value)) continue;
        expectSameBytes(value);
        if (HasFailure()) return;
    }
}

} // namespace
