// The backend dispatch: the feature probe against the compiler runtime's
// own (an independent reading of CPUID and XGETBV), and the first choice of
// each primitive being the best backend the processor runs. Under
// `qemu-x86_64 -cpu max` (AVX2 and BMI2, no SHA extensions, no AVX-512) this
// is where the AVX2 SHA-256 backend is seen to be chosen.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/backend_select.h"
#include "platform/dispatch.h"

namespace {

// Every backend in each table either runs here or needs a feature this
// machine lacks: one that has its features and still fails its self-test
// is a broken backend, which the dispatch would skip silently.
TEST(Dispatch, EveryBackendWithItsFeaturesPassesItsSelfTest) {
    size_t sha256_here = 0, base64_here = 0;
    for (size_t i = 0; sha256_backend_at(i) != nullptr; ++i) {
        const char *name = sha256_backend_at(i);
        EXPECT_EQ(sha256_backend_features_here(name), sha256_backend_runs_here(name)) << name;
        if (sha256_backend_runs_here(name)) ++sha256_here;
    }
    for (size_t i = 0; base64_backend_at(i) != nullptr; ++i) {
        const char *name = base64_backend_at(i);
        EXPECT_EQ(base64_backend_features_here(name), base64_backend_runs_here(name)) << name;
        if (base64_backend_runs_here(name)) ++base64_here;
    }
    // The reference runs everywhere.
    EXPECT_TRUE(sha256_backend_runs_here("portable"));
    EXPECT_TRUE(base64_backend_runs_here("portable"));
    std::printf("backends here: %zu SHA-256, %zu Base64\n", sha256_here, base64_here);
    EXPECT_FALSE(sha256_backend_runs_here("no-such-backend"));
    EXPECT_FALSE(base64_backend_runs_here(nullptr));
}

// The x86-64 decoding of CPUID and XCR0, fed processors and operating
// systems this machine is not (bit positions from the Intel SDM, vol. 2A,
// CPUID; XCR0 bits 1-2 SSE/AVX state, 5-7 opmask and ZMM state). A vector
// feature counts only when the OS saves its registers.
struct cpuid_case {
    const char *what;
    x86_cpuid_words words;
    uint32_t want;
};

constexpr uint32_t kSsse3 = 1u << 9, kSse41 = 1u << 19, kOsxsave = 1u << 27, kAvx = 1u << 28;
constexpr uint32_t kBmi1 = 1u << 3, kAvx2 = 1u << 5, kBmi2 = 1u << 8, kAvx512f = 1u << 16,
                   kSha = 1u << 29, kAvx512bw = 1u << 30;
constexpr uint32_t kVbmi = 1u << 1;
constexpr uint32_t kAllLeaf1 = kSsse3 | kSse41 | kOsxsave | kAvx;
constexpr uint32_t kAllLeaf7 = kBmi1 | kAvx2 | kBmi2 | kAvx512f | kSha | kAvx512bw;
constexpr uint32_t kEverything = cpu_ssse3 | cpu_sse41 | cpu_sha | cpu_avx2 | cpu_bmi1 | cpu_bmi2 |
                                 cpu_avx512bw | cpu_avx512vbmi;

const cpuid_case kCpuidCases[] = {
    {"nothing", {0, 0, 0, 0, 0}, 0},
    {"SSSE3 alone", {kSsse3, 1, 0, 0, 0}, cpu_ssse3},
    {"SSE4.1 alone", {kSse41, 1, 0, 0, 0}, cpu_sse41},
    {"everything, all states saved", {kAllLeaf1, 7, kAllLeaf7, kVbmi, 0xe7}, kEverything},
    {"leaf 7 not offered: its words are not read", {kAllLeaf1, 6, kAllLeaf7, kVbmi, 0xe7},
     cpu_ssse3 | cpu_sse41},
    {"SHA extensions", {kSsse3 | kSse41, 7, kSha, 0, 0}, cpu_ssse3 | cpu_sse41 | cpu_sha},
    {"BMI1 and BMI2 need no OS state", {0, 7, kBmi1 | kBmi2, 0, 0}, cpu_bmi1 | cpu_bmi2},
    {"AVX2 without OSXSAVE", {kAvx, 7, kAvx2, 0, 0x7}, 0},
    {"AVX2 without AVX", {kOsxsave, 7, kAvx2, 0, 0x7}, 0},
    {"AVX2, YMM state not saved", {kOsxsave | kAvx, 7, kAvx2, 0, 0x3}, 0},
    {"AVX2, SSE state not saved", {kOsxsave | kAvx, 7, kAvx2, 0, 0x5}, 0},
    {"AVX2, states saved", {kOsxsave | kAvx, 7, kAvx2, 0, 0x7}, cpu_avx2},
    {"AVX-512, opmask state not saved", {kOsxsave | kAvx, 7, kAvx512f | kAvx512bw, kVbmi, 0xc7}, 0},
    {"AVX-512, upper ZMM state not saved", {kOsxsave | kAvx, 7, kAvx512f | kAvx512bw, kVbmi, 0xa7},
     0},
    {"AVX-512, high ZMM state not saved", {kOsxsave | kAvx, 7, kAvx512f | kAvx512bw, kVbmi, 0x67},
     0},
    {"AVX-512 states without YMM", {kOsxsave | kAvx, 7, kAvx512f | kAvx512bw, kVbmi, 0xe3}, 0},
    {"AVX-512BW and VBMI", {kOsxsave | kAvx, 7, kAvx512f | kAvx512bw, kVbmi, 0xe7},
     cpu_avx512bw | cpu_avx512vbmi},
    {"AVX-512BW without F", {kOsxsave | kAvx, 7, kAvx512bw, kVbmi, 0xe7}, 0},
    {"AVX-512F without BW", {kOsxsave | kAvx, 7, kAvx512f, kVbmi, 0xe7}, 0},
    {"AVX-512BW without VBMI", {kOsxsave | kAvx, 7, kAvx512f | kAvx512bw, 0, 0xe7}, cpu_avx512bw},
    {"XCR0 ignored without OSXSAVE", {kAvx, 7, kAvx2 | kAvx512f | kAvx512bw, kVbmi, 0xe7}, 0},
};

TEST(Dispatch, CpuidDecoding) {
    for (const cpuid_case &c : kCpuidCases)
        EXPECT_EQ(x86_features_from(c.words), c.want) << c.what;
}

#if (defined(__x86_64__) || defined(_M_X64)) && defined(__GNUC__) && !defined(__clang__)
bool pinned(const char *variable) {
    const char *v = std::getenv(variable);
    return v != nullptr && *v != '\0';
}

struct feature_case {
    const char *gcc_name;
    uint32_t bit;
};

TEST(Dispatch, ProbeAgreesWithTheCompilerRuntime) {
    __builtin_cpu_init();
    const uint32_t f = cpu_features();
    const feature_case cases[] = {
        {"ssse3", cpu_ssse3},   {"sse4.1", cpu_sse41}, {"sha", cpu_sha},
        {"avx2", cpu_avx2},     {"bmi", cpu_bmi1},     {"bmi2", cpu_bmi2},
        {"avx512vbmi", cpu_avx512vbmi},
    };
    for (const feature_case &c : cases) {
        bool expected = false;
        const std::string name = c.gcc_name;
        // __builtin_cpu_supports needs a literal.
        if (name == "ssse3") expected = __builtin_cpu_supports("ssse3");
        if (name == "sse4.1") expected = __builtin_cpu_supports("sse4.1");
        if (name == "sha") expected = __builtin_cpu_supports("sha");
        if (name == "avx2") expected = __builtin_cpu_supports("avx2");
        if (name == "bmi") expected = __builtin_cpu_supports("bmi");
        if (name == "bmi2") expected = __builtin_cpu_supports("bmi2");
        if (name == "avx512vbmi")
            expected = __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw");
        EXPECT_EQ((f & c.bit) != 0, expected) << c.gcc_name;
    }
}

// Best first: SHA extensions, then AVX2 with BMI1/BMI2, then portable.
TEST(Dispatch, Sha256ChoosesTheBestBackendThisProcessorRuns) {
    if (pinned("KELDO_TEST_SHA256_BACKEND")) GTEST_SKIP() << "backend pinned";
    __builtin_cpu_init();
    const char *want = "portable";
    if (__builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1"))
        want = "shani";
    else if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
             __builtin_cpu_supports("bmi2"))
        want = "avx2";
    EXPECT_STREQ(sha256_backend_name(), want);
}

TEST(Dispatch, Base64ChoosesTheBestBackendThisProcessorRuns) {
    if (pinned("KELDO_TEST_BASE64_BACKEND")) GTEST_SKIP() << "backend pinned";
    __builtin_cpu_init();
    const char *want = "portable";
    if (__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw"))
        want = "avx512vbmi";
    else if (__builtin_cpu_supports("avx2"))
        want = "avx2";
    else if (__builtin_cpu_supports("ssse3"))
        want = "ssse3";
    EXPECT_STREQ(base64_backend_name(), want);
}
#endif

}  // namespace
