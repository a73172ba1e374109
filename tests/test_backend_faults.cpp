// Planted faults in the backend dispatch. Each SHA-256 and Base64 backend
// this machine runs is wrapped so that it goes wrong in one way only; its
// primitive's self-test must refuse every such variant, and accept the
// wrapper without a fault (or the table would prove nothing). Then tables
// whose first entry is faulty, or needs a feature the processor is said to
// lack: the dispatch must pass over it.
//
// This program defines cpu_features() itself, so the library's probe
// (dispatch.cpp) is not linked in and the tests can hide features from the
// dispatch: it reports this machine's features, read independently of the
// library, minus those hidden.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/backend_select.h"
#include "codec/base64.h"
#include "codec/base64_backend.h"
#include "hash/sha256_backend.h"

#if (defined(__x86_64__) || defined(_M_X64)) && defined(__GNUC__)
#include <cpuid.h>
#elif defined(__aarch64__) && defined(__linux__)
#include <sys/auxv.h>
#endif

namespace {

uint32_t g_hidden = 0;

uint32_t machine_features() {
#if (defined(__x86_64__) || defined(_M_X64)) && defined(__GNUC__)
    __builtin_cpu_init();
    uint32_t f = 0;
    if (__builtin_cpu_supports("ssse3")) f |= cpu_ssse3;
    if (__builtin_cpu_supports("sse4.1")) f |= cpu_sse41;
    if (__builtin_cpu_supports("avx2")) f |= cpu_avx2;
    if (__builtin_cpu_supports("bmi")) f |= cpu_bmi1;
    if (__builtin_cpu_supports("bmi2")) f |= cpu_bmi2;
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512f")) {
        f |= cpu_avx512bw;
        if (__builtin_cpu_supports("avx512vbmi")) f |= cpu_avx512vbmi;
    }
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 && (b & (1u << 29)) != 0) f |= cpu_sha;
    return f;
#elif defined(__aarch64__) && defined(__linux__)
    return (getauxval(AT_HWCAP) & (1ul << 6)) != 0 ? uint32_t(cpu_armv8_sha2) : 0u;
#else
    return 0;
#endif
}

}  // namespace

uint32_t cpu_features() { return machine_features() & ~g_hidden; }

namespace {

struct HideFeatures {
    explicit HideFeatures(uint32_t f) { g_hidden = f; }
    ~HideFeatures() { g_hidden = 0; }
    HideFeatures(const HideFeatures &) = delete;
    HideFeatures &operator=(const HideFeatures &) = delete;
};

// ---- SHA-256 ------------------------------------------------------------------

enum class ShaFault {
    none,
    one_block,      // wrong state after a call of one block
    two_blocks,     // after a call of two
    many_blocks,    // after three or more (the multi-block schedules)
    pair_second,    // the pair entry's second state
    chain_t,        // HMAC chain: the accumulated t
    chain_u,        // HMAC chain: the last u
    chain2_second,  // the interleaved chains: the second t
};

const sha256_backend *g_sha = nullptr;
ShaFault g_sha_fault = ShaFault::none;

void sha_blocks(uint32_t s[8], const uint8_t *d, size_t n) {
    g_sha->blocks(s, d, n);
    if ((g_sha_fault == ShaFault::one_block && n == 1) ||
        (g_sha_fault == ShaFault::two_blocks && n == 2) ||
        (g_sha_fault == ShaFault::many_blocks && n >= 3))
        s[5] ^= 0x10;
}

void sha_pair(uint32_t sa[8], const uint8_t *a, uint32_t sb[8], const uint8_t *b) {
    if (g_sha->pair != nullptr) {
        g_sha->pair(sa, a, sb, b);
    } else {
        g_sha->blocks(sa, a, 1);
        g_sha->blocks(sb, b, 1);
    }
    if (g_sha_fault == ShaFault::pair_second) sb[0] ^= 1;
}

void sha_chain(const uint32_t inner[8], const uint32_t outer[8], uint8_t u[32], uint8_t t[32],
               uint32_t n) {
    g_sha->chain(inner, outer, u, t, n);
    if (g_sha_fault == ShaFault::chain_t) t[31] ^= 1;
    if (g_sha_fault == ShaFault::chain_u) u[0] ^= 0x80;
}

void sha_chain2(const uint32_t inner[8], const uint32_t outer[8], uint8_t u0[32], uint8_t t0[32],
                uint8_t u1[32], uint8_t t1[32], uint32_t n) {
    g_sha->chain2(inner, outer, u0, t0, u1, t1, n);
    if (g_sha_fault == ShaFault::chain2_second) t1[7] ^= 4;
}

sha256_backend planted_sha(const sha256_backend &base) {
    return {"planted", base.needs, sha_blocks, sha_pair,
            base.chain != nullptr ? sha_chain : nullptr,
            base.chain2 != nullptr ? sha_chain2 : nullptr};
}

std::vector<const sha256_backend *> sha_backends_here() {
    std::vector<const sha256_backend *> v;
    const dispatch_point<sha256_backend> &d = sha256_dispatch();
    for (size_t i = 0; i < d.count; ++i)
        if (sha256_backend_runs_here(d.table[i].name)) v.push_back(&d.table[i]);
    return v;
}

struct sha_fault_case {
    const char *what;
    ShaFault fault;
    bool needs_chain;
    bool needs_chain2;
};

const sha_fault_case kShaFaults[] = {
    {"no fault", ShaFault::none, false, false},
    {"one block per call", ShaFault::one_block, false, false},
    {"two blocks per call", ShaFault::two_blocks, false, false},
    {"three or more blocks per call", ShaFault::many_blocks, false, false},
    {"second state of a pair", ShaFault::pair_second, false, false},
    {"HMAC chain's t", ShaFault::chain_t, true, false},
    {"HMAC chain's u", ShaFault::chain_u, true, false},
    {"second of two interleaved chains", ShaFault::chain2_second, false, true},
};

TEST(PlantedFaults, Sha256SelfTestRefusesEachOne) {
    const auto &d = sha256_dispatch();
    for (const sha256_backend *base : sha_backends_here()) {
        for (const sha_fault_case &c : kShaFaults) {
            if ((c.needs_chain && base->chain == nullptr) || (c.needs_chain2 && base->chain2 == nullptr))
                continue;
            g_sha = base;
            g_sha_fault = c.fault;
            const sha256_backend planted = planted_sha(*base);
            EXPECT_EQ(d.self_test(planted), c.fault == ShaFault::none) << base->name << ": " << c.what;
        }
    }
    g_sha_fault = ShaFault::none;
}

// ---- Base64 ---------------------------------------------------------------------

enum class B64Fault {
    none,
    encode_char,           // one character wrong
    encode_url_alphabet,   // base64url written with '+' and '/'
    encode_nothing,        // consumes nothing
    decode_byte,           // one byte wrong
    decode_std_takes_url,  // the standard decoder takes '-' and '_'
    decode_takes_pad,      // '=' decoded as a character
    decode_nothing,        // consumes nothing
    short_encode_char,
    short_decode_takes_pad,
    short_decode_refuses,
    no_decoder,            // a bulk encoder without its decoder
    short_without_bulk,    // a short entry without bulk loops
};

const base64_backend *g_b64 = nullptr;
B64Fault g_b64_fault = B64Fault::none;

// The text with every '=' replaced by 'A', for decoders that take it.
std::vector<unsigned char> without_pad(const unsigned char *in, size_t len) {
    std::vector<unsigned char> v(in, in + len);
    for (unsigned char &c : v)
        if (c == '=') c = 'A';
    return v;
}

size_t b64_encode(const uint8_t *in, size_t len, char *out, int32_t url) {
    if (g_b64_fault == B64Fault::encode_nothing) return 0;
    const size_t done =
        g_b64->encode(in, len, out, g_b64_fault == B64Fault::encode_url_alphabet ? 0 : url);
    if (g_b64_fault == B64Fault::encode_char && done >= 3) out[done / 3 * 4 - 1] = '!';
    return done;
}

size_t b64_decode(const unsigned char *in, size_t len, uint8_t *out, int32_t url) {
    switch (g_b64_fault) {
    case B64Fault::decode_nothing:
        return 0;
    case B64Fault::decode_std_takes_url:
        return g_b64->decode(in, len, out, 1);
    case B64Fault::decode_takes_pad: {
        const std::vector<unsigned char> t = without_pad(in, len);
        return g_b64->decode(t.data(), len, out, url);
    }
    default:
        break;
    }
    const size_t got = g_b64->decode(in, len, out, url);
    if (g_b64_fault == B64Fault::decode_byte && got >= 4) out[got / 4 * 3 - 1] ^= 1;
    return got;
}

void b64_encode_short(const uint8_t *in, size_t len, char *out, int32_t url) {
    g_b64->encode_short(in, len, out, url);
    if (g_b64_fault == B64Fault::short_encode_char) out[1] = '!';
}

bool b64_decode_short(const unsigned char *in, size_t len, uint8_t *out, int32_t url) {
    if (g_b64_fault == B64Fault::short_decode_refuses) return false;
    if (g_b64_fault == B64Fault::short_decode_takes_pad) {
        const std::vector<unsigned char> t = without_pad(in, len);
        return g_b64->decode_short(t.data(), len, out, url);
    }
    return g_b64->decode_short(in, len, out, url);
}

base64_backend planted_b64(const base64_backend &base) {
    base64_backend b{"planted", base.needs, b64_encode, b64_decode,
                     base.encode_short != nullptr ? b64_encode_short : nullptr,
                     base.decode_short != nullptr ? b64_decode_short : nullptr};
    if (g_b64_fault == B64Fault::no_decoder) b.decode = nullptr;
    if (g_b64_fault == B64Fault::short_without_bulk) b.encode = nullptr, b.decode = nullptr;
    return b;
}

struct b64_fault_case {
    const char *what;
    B64Fault fault;
    bool needs_encode_short;
    bool needs_decode_short;
};

const b64_fault_case kB64Faults[] = {
    {"no fault", B64Fault::none, false, false},
    {"a wrong character", B64Fault::encode_char, false, false},
    {"base64url written in the standard alphabet", B64Fault::encode_url_alphabet, false, false},
    {"an encoder that consumes nothing", B64Fault::encode_nothing, false, false},
    {"a wrong byte", B64Fault::decode_byte, false, false},
    {"the standard decoder taking '-' and '_'", B64Fault::decode_std_takes_url, false, false},
    {"'=' decoded as a character", B64Fault::decode_takes_pad, false, false},
    {"a decoder that consumes nothing", B64Fault::decode_nothing, false, false},
    {"a wrong character from the short encoder", B64Fault::short_encode_char, true, false},
    {"'=' taken by the short decoder", B64Fault::short_decode_takes_pad, false, true},
    {"a short decoder that refuses everything", B64Fault::short_decode_refuses, false, true},
    {"an encoder without its decoder", B64Fault::no_decoder, false, false},
    {"a short entry without bulk loops", B64Fault::short_without_bulk, false, true},
};

std::vector<const base64_backend *> b64_backends_here() {
    std::vector<const base64_backend *> v;
    const dispatch_point<base64_backend> &d = base64_dispatch();
    for (size_t i = 0; i < d.count; ++i)
        if (d.table[i].encode != nullptr && base64_backend_runs_here(d.table[i].name))
            v.push_back(&d.table[i]);
    return v;
}

TEST(PlantedFaults, Base64SelfTestRefusesEachOne) {
    const auto &d = base64_dispatch();
    for (const base64_backend *base : b64_backends_here()) {
        for (const b64_fault_case &c : kB64Faults) {
            if ((c.needs_encode_short && base->encode_short == nullptr) ||
                (c.needs_decode_short && base->decode_short == nullptr))
                continue;
            g_b64 = base;
            g_b64_fault = c.fault;
            const base64_backend planted = planted_b64(*base);
            EXPECT_EQ(d.self_test(planted), c.fault == B64Fault::none) << base->name << ": " << c.what;
        }
    }
    g_b64_fault = B64Fault::none;
}

// ---- What the primitives use -----------------------------------------------------

// Which entries the Base64 primitives call, counted through a backend planted
// as the library's choice: handing a short text to the bulk loop, or a long
// one to the scalar code, would only be slower, and no result would change.
struct entry_counts {
    size_t encode, decode, encode_short, decode_short;
};
entry_counts g_count;

size_t count_encode(const uint8_t *in, size_t len, char *out, int32_t url) {
    ++g_count.encode;
    return g_b64->encode(in, len, out, url);
}
size_t count_decode(const unsigned char *in, size_t len, uint8_t *out, int32_t url) {
    ++g_count.decode;
    return g_b64->decode(in, len, out, url);
}
void count_encode_short(const uint8_t *in, size_t len, char *out, int32_t url) {
    ++g_count.encode_short;
    g_b64->encode_short(in, len, out, url);
}
bool count_decode_short(const unsigned char *in, size_t len, uint8_t *out, int32_t url) {
    ++g_count.decode_short;
    return g_b64->decode_short(in, len, out, url);
}

TEST(PlantedFaults, Base64UsesEachFastEntryWhereItApplies) {
    auto &d = base64_dispatch();
    const base64_backend *saved = d.chosen.load();
    std::vector<uint8_t> data(200);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 151 + 7);
    for (const base64_backend *base : b64_backends_here()) {
        g_b64 = base;
        const base64_backend counting{
            "counting", base->needs, count_encode, count_decode,
            base->encode_short != nullptr ? count_encode_short : nullptr,
            base->decode_short != nullptr ? count_decode_short : nullptr};
        d.chosen.store(&counting);
        for (size_t n = 0; n <= data.size(); ++n) {
            for (int32_t url = 0; url < 2; ++url) {
                char text[300];
                g_count = {};
                ASSERT_EQ(base64_encode(data.data(), n, text, sizeof text, url), 0);
                // Whole messages up to 48 bytes go to the short encoder.
                const bool short_in = base->encode_short != nullptr && n <= 48;
                EXPECT_EQ(g_count.encode_short, short_in ? 1u : 0u) << base->name << " " << n;
                EXPECT_EQ(g_count.encode, short_in ? 0u : 1u) << base->name << " " << n;

                const size_t chars = strlen(text);
                uint8_t back[200];
                uint64_t back_len = 0;
                g_count = {};
                ASSERT_EQ(base64_decode_n(text, chars, back, sizeof back, &back_len, url), 0);
                // Up to 64 characters (with the padding left off) the short
                // decoder is asked first; the bulk loop takes what it declines.
                size_t unpadded = chars;
                while (unpadded > 0 && text[unpadded - 1] == '=') --unpadded;
                const bool short_out = base->decode_short != nullptr && unpadded <= 64;
                EXPECT_EQ(g_count.decode_short, short_out ? 1u : 0u) << base->name << " " << chars;
                EXPECT_LE(g_count.decode, 1u);
                if (!short_out) {
                    EXPECT_EQ(g_count.decode, 1u) << base->name << " " << chars;
                }
            }
        }
    }
    d.chosen.store(saved);
}

// ---- The choice -------------------------------------------------------------------

// A faulty first entry is passed over for the next; a sound one is taken.
TEST(PlantedFaults, DispatchPassesOverAFaultyFirstEntry) {
    const auto &real = sha256_dispatch();
    const sha256_backend *portable = &real.table[real.count - 1];
    g_sha = portable;
    for (const ShaFault fault : {ShaFault::none, ShaFault::many_blocks}) {
        g_sha_fault = fault;
        const sha256_backend table[] = {planted_sha(*portable), *portable};
        dispatch_point<sha256_backend> p{table, 2, real.self_test, nullptr};
        EXPECT_EQ(chosen_backend(p), fault == ShaFault::none ? &table[0] : &table[1]);
        EXPECT_EQ(chosen_backend(p), p.chosen.load());  // settled once
    }
    g_sha_fault = ShaFault::none;

    const auto &real64 = base64_dispatch();
    for (const base64_backend *base : b64_backends_here()) {
        g_b64 = base;
        for (const B64Fault fault : {B64Fault::none, B64Fault::decode_takes_pad}) {
            g_b64_fault = fault;
            const base64_backend table[] = {planted_b64(*base), real64.table[real64.count - 1]};
            dispatch_point<base64_backend> p{table, 2, real64.self_test, nullptr};
            EXPECT_EQ(detect_backend(p), fault == B64Fault::none ? &table[0] : &table[1]) << base->name;
        }
    }
    g_b64_fault = B64Fault::none;
}

// A choice already made (a pin, or another thread's detection) stands.
TEST(PlantedFaults, AnEarlierChoiceStands) {
    const auto &real = sha256_dispatch();
    dispatch_point<sha256_backend> p{real.table, real.count, real.self_test, nullptr};
    const sha256_backend *last = &real.table[real.count - 1];
    p.chosen.store(last);
    EXPECT_EQ(detect_backend(p), last);
    EXPECT_EQ(p.chosen.load(), last);
}

// With each backend's features hidden from the probe, that backend is neither
// run, nor chosen, nor pinned; with all hidden, the portable code is chosen.
TEST(PlantedFaults, HiddenFeaturesKeepABackendOut) {
    const auto &sha = sha256_dispatch();
    for (const sha256_backend *b : sha_backends_here()) {
        if (b->needs == 0) continue;
        HideFeatures hide(b->needs);
        EXPECT_FALSE(sha256_backend_features_here(b->name)) << b->name;
        EXPECT_FALSE(sha256_backend_runs_here(b->name)) << b->name;
        EXPECT_EQ(sha256_backend_select(b->name), -1) << b->name;
        dispatch_point<sha256_backend> p{sha.table, sha.count, sha.self_test, nullptr};
        EXPECT_NE(detect_backend(p), b);
    }
    const auto &b64 = base64_dispatch();
    for (const base64_backend *b : b64_backends_here()) {
        HideFeatures hide(b->needs);
        EXPECT_FALSE(base64_backend_features_here(b->name)) << b->name;
        EXPECT_FALSE(base64_backend_runs_here(b->name)) << b->name;
        EXPECT_EQ(base64_backend_select(b->name), -1) << b->name;
        dispatch_point<base64_backend> p{b64.table, b64.count, b64.self_test, nullptr};
        EXPECT_NE(detect_backend(p), b);
    }
    HideFeatures hide_all(~0u);
    dispatch_point<sha256_backend> ps{sha.table, sha.count, sha.self_test, nullptr};
    EXPECT_STREQ(detect_backend(ps)->name, "portable");
    dispatch_point<base64_backend> pb{b64.table, b64.count, b64.self_test, nullptr};
    EXPECT_STREQ(detect_backend(pb)->name, "portable");
}

// Shown again, each backend this machine has runs and is chosen first when
// it heads the table.
TEST(PlantedFaults, FeaturesShownAgainAreUsed) {
    const auto &sha = sha256_dispatch();
    const std::vector<const sha256_backend *> here = sha_backends_here();
    ASSERT_FALSE(here.empty());
    dispatch_point<sha256_backend> p{here.front(), sha.count - size_t(here.front() - sha.table),
                                     sha.self_test, nullptr};
    EXPECT_EQ(detect_backend(p), here.front());
    for (const sha256_backend *b : here) EXPECT_TRUE(sha256_backend_features_here(b->name)) << b->name;
}

}  // namespace
