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
