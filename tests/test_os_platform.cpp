// The platform layer the shipped library links: getrandom on Linux,
// BCryptGenRandom and _time64 on Windows. The clock is checked against the
// C++ library's system clock, the generator by what it writes.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace {

int64_t system_seconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

TEST(OsPlatform, ClockIsUnixTimeInSeconds) {
    const int64_t before = system_seconds();
    const int64_t now = platform_unix_time();
    const int64_t after = system_seconds();
    EXPECT_GE(now, before - 1);
    EXPECT_LE(now, after + 1);
    EXPECT_GT(now, int64_t{1577836800}) << "before 2020: not seconds since 1970";
}

// The library draws 16 bytes at a time. Each request must be filled to its
// last byte: a pattern written first survives in about one byte in 256, at
// every offset alike, and every byte value turns up about equally often.
TEST(OsPlatform, SixteenByteRequestsAreFilledAndUniform) {
    constexpr size_t requests = 65536, n = 16 * requests;
    std::vector<uint8_t> buf(n, 0xa5);
    for (size_t r = 0; r < requests; ++r)
        ASSERT_EQ(platform_random_bytes(buf.data() + 16 * r, 16), 0) << "request " << r;
    std::array<size_t, 256> counts{};
    std::array<size_t, 16> kept{};
    for (size_t i = 0; i < n; ++i) {
        ++counts[buf[i]];
        if (buf[i] == 0xa5) ++kept[i % 16];
    }
    // Expected 4096 of each value (standard deviation 64) and 256 kept at
    // each offset (16): the bounds are 9 deviations away.
    for (size_t v = 0; v < 256; ++v) {
        EXPECT_GT(counts[v], 3500u) << "byte value " << v;
        EXPECT_LT(counts[v], 4700u) << "byte value " << v;
    }
    for (size_t k = 0; k < 16; ++k) EXPECT_LT(kept[k], 400u) << "offset " << k;
}

TEST(OsPlatform, SuccessiveRequestsDiffer) {
    std::array<uint8_t, 32> a{}, b{};
    ASSERT_EQ(platform_random_bytes(a.data(), a.size()), 0);
    ASSERT_EQ(platform_random_bytes(b.data(), b.size()), 0);
    EXPECT_NE(a, b);
}

}  // namespace
