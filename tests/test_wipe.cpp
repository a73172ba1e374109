// The wiping of working secrets, observed: after a call returns, the stack
// it ran on must hold none of the keyed pads, key blocks, chaining states,
// inner digests or chain values it computed. The region below the caller is
// painted first, the call runs on it, and a scanner whose frame covers the
// same region then searches it for each secret (computed with OpenSSL). A
// control that leaves a secret behind on purpose must be found, or the scan
// proves nothing. Each SHA-256 backend this machine runs is pinned in turn.
//
// Left out where the stack is not plain memory: under AddressSanitizer
// (frames may live on its fake stack) and on Windows (not tried there).
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/backend_select.h"
#include "hash_oracle.h"
#include "token/jwt.h"
#include "keldo_crypto.h"
#include "hash/pbkdf2.h"
#include "hash/hmac.h"
#include "hash/sha256.h"

#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define KELDO_STACK_DEFINED(p, n) ((void)VALGRIND_MAKE_MEM_DEFINED((p), (n)))
#else
#define KELDO_STACK_DEFINED(p, n) ((void)(p), (void)(n))
#endif

#if defined(__SANITIZE_ADDRESS__)
#define KELDO_NO_STACK_SCAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELDO_NO_STACK_SCAN 1
#endif
#endif
#if defined(_WIN32) || !defined(__GNUC__)
#define KELDO_NO_STACK_SCAN 1
#endif

namespace {

using bytes = std::vector<uint8_t>;

constexpr size_t kDepth = 48 * 1024;

#if !defined(KELDO_NO_STACK_SCAN)
__attribute__((noinline)) void paint_stack() {
    unsigned char area[kDepth];
    memset(area, 0xa5, sizeof area);
    __asm__ volatile("" : : "r"(area) : "memory");
}

// Which of the needles the region below the caller still holds. The
// barrier tells the compiler the area may have been written; memcheck is
// told the same, as these bytes are what earlier frames left.
__attribute__((noinline)) std::vector<size_t> stack_holds(const std::vector<bytes> *needles) {
    unsigned char area[kDepth];
    __asm__ volatile("" : : "r"(area) : "memory");
    KELDO_STACK_DEFINED(area, sizeof area);
    std::vector<size_t> found;
    for (size_t i = 0; i < needles->size(); ++i) {
        const bytes &n = (*needles)[i];
        if (std::search(area, area + kDepth, n.begin(), n.end()) != area + kDepth) found.push_back(i);
    }
    return found;
}

// Runs fn a little deeper than its caller, so that its frames fall inside
// the scanner's area rather than among the scanner's own locals above it.
__attribute__((noinline)) void run_deeper(const std::function<void()> *fn) {
    volatile unsigned char gap[512];
    gap[0] = 0;
    (*fn)();
    gap[1] = gap[0];
}

// The control: a frame that keeps a secret and does not wipe it.
__attribute__((noinline)) void leave_behind(const bytes *secret) {
    unsigned char kept[256];
    memcpy(kept, secret->data(), secret->size());
    __asm__ volatile("" : : "r"(kept) : "memory");
}
#endif

// SHA-256 chaining state after one block, in host order as the library keeps
// it, from OpenSSL's block function.
bytes state_after(const bytes &block64) {
    SHA256_CTX c;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    SHA256_Init(&c);
    SHA256_Transform(&c, block64.data());
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    bytes out(32);
    for (int i = 0; i < 8; ++i) {
        const uint32_t w = uint32_t(c.h[i]);
        memcpy(out.data() + 4 * i, &w, 4);
    }
    return out;
}

bytes xor_pad(const bytes &key_block, uint8_t pad) {
    bytes b(64);
    for (size_t i = 0; i < 64; ++i) b[i] = uint8_t(key_block[i] ^ pad);
    return b;
}

bytes first(const bytes &b, size_t n) { return bytes(b.begin(), b.begin() + std::ptrdiff_t(n)); }

// Words of a digest in host order: how a state or a schedule holds it.
bytes host_words(const bytes &digest) {
    bytes out(digest.size());
    for (size_t i = 0; i + 4 <= digest.size(); i += 4) {
        const uint32_t w = (uint32_t(digest[i]) << 24) | (uint32_t(digest[i + 1]) << 16) |
                           (uint32_t(digest[i + 2]) << 8) | digest[i + 3];
        memcpy(out.data() + i, &w, 4);
    }
    return out;
}

// What HMAC under key derives: the 32-byte windows of its key block and
// pads, both keyed states, and the inner digest of msg.
std::vector<bytes> hmac_secrets(const bytes &key, const bytes &msg) {
    bytes block(64, 0);
    if (key.size() > 64) {
        const bytes d = oracle::sha256(key);
        std::copy(d.begin(), d.end(), block.begin());
    } else {
        std::copy(key.begin(), key.end(), block.begin());
    }
    const bytes ipad = xor_pad(block, 0x36), opad = xor_pad(block, 0x5c);
    bytes inner_msg = ipad;
    inner_msg.insert(inner_msg.end(), msg.begin(), msg.end());
    const bytes inner = oracle::sha256(inner_msg);
    const bytes mac = oracle::hmac(key, msg);
    const bytes inner_words = host_words(inner), mac_words = host_words(mac);
    // The inner state's last word alone too: a wipe one word short leaves
    // only that. Not the outer state's: the portable compression's last
    // addition may stay in a callee-saved register that a later call pushes,
    // where no wipe reaches, and the whole outer state is still looked for.
    return {first(block, 32), first(ipad, 32), first(opad, 32), state_after(ipad),
            state_after(opad), inner, inner_words, mac_words,
            bytes(inner_words.end() - 4, inner_words.end())};
}

struct wipe_case {
    const char *what;
    std::function<std::vector<bytes>()> secrets;
    std::function<void()> call;
};

const bytes kKey = oracle::Rng(0x3175e1).bytes(32);
const bytes kLongKey = oracle::Rng(0x3175e2).bytes(100);
const bytes kMessage = oracle::Rng(0x3175e3).bytes(100);
const bytes kPassword = oracle::Rng(0x3175e4).bytes(20);
const bytes kSalt = oracle::Rng(0x3175e5).bytes(16);
const char kSecret[] = "wipe-test secret of the token verifier";
uint8_t g_out[64];

// PBKDF2's block i under kPassword and kSalt, 3 iterations: U2, U3 and T.
std::vector<bytes> pbkdf2_chain(uint32_t i) {
    bytes salted = kSalt;
    for (int k = 3; k >= 0; --k) salted.push_back(uint8_t(i >> (8 * k)));
    const bytes u1 = oracle::hmac(kPassword, salted);
    const bytes u2 = oracle::hmac(kPassword, u1);
    const bytes u3 = oracle::hmac(kPassword, u2);
    bytes t(32);
    for (size_t k = 0; k < 32; ++k) t[k] = uint8_t(u1[k] ^ u2[k] ^ u3[k]);
    // T is the caller's output; the AVX2 chain's register spill of it in
    // host order is beyond what a wipe can reach, so it is not looked for.
    return {u2, u3, t, host_words(u2), host_words(u3)};
}

std::vector<bytes> pbkdf2_secrets(uint32_t blocks) {
    bytes salted = kSalt;
    salted.insert(salted.end(), {0, 0, 0, 1});
    std::vector<bytes> s = hmac_secrets(kPassword, salted);
    for (uint32_t i = 1; i <= blocks; ++i)
        for (const bytes &b : pbkdf2_chain(i)) s.push_back(b);
    return s;
}

// A token whose signature is wrong: the digest the verifier expected is the
// secret a forger wants.
std::string forged_token() {
    std::string t = "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9.eyJzdWIiOiJ4In0.";
    return t + std::string(43, 'B');
}

std::vector<bytes> forged_secrets() {
    const std::string t = forged_token();
    const bytes key(kSecret, kSecret + strlen(kSecret));
    const bytes signing(t.begin(), t.begin() + std::ptrdiff_t(t.rfind('.')));
    std::vector<bytes> s = hmac_secrets(key, signing);
    s.push_back(oracle::hmac(key, signing));
    // The signature as decoded for the comparison.
    s.push_back(bytes{0x04, 0x10, 0x41, 0x04, 0x10, 0x41, 0x04, 0x10, 0x41, 0x04, 0x10, 0x41});
    return s;
}

hmac_sha256_ctx g_ctx;  // outside the scanned region: it holds the keyed states
keldo_jwt_key g_ring[2];  // so do prepared keys
const char kOtherSecret[] = "the ring's other secret, tried first";

// A ring of two keys verifying the forged token: both keys' expected
// signatures, and each key's keyed states, are secrets.
std::vector<bytes> forged_ring_secrets() {
    const std::string t = forged_token();
    const bytes signing(t.begin(), t.begin() + std::ptrdiff_t(t.rfind('.')));
    std::vector<bytes> s = forged_secrets();
    const bytes other(kOtherSecret, kOtherSecret + strlen(kOtherSecret));
    for (const bytes &b : hmac_secrets(other, signing)) s.push_back(b);
    s.push_back(oracle::hmac(other, signing));
    return s;
}

const wipe_case kCases[] = {
    {"HMAC, short key", [] { return hmac_secrets(kKey, kMessage); },
     [] { hmac_sha256(kKey.data(), kKey.size(), kMessage.data(), kMessage.size(), g_out); }},
    {"HMAC, key longer than a block",
     [] {
         std::vector<bytes> s = hmac_secrets(kLongKey, kMessage);
         s.push_back(bytes(kLongKey.begin() + 64, kLongKey.end()));  // the key's last block
         return s;
     },
     [] { hmac_sha256(kLongKey.data(), kLongKey.size(), kMessage.data(), kMessage.size(), g_out); }},
    {"HMAC export", [] { return hmac_secrets(kKey, kMessage); },
     [] { keldo_crypto_hmac_sha256(kKey.data(), kKey.size(), kMessage.data(), kMessage.size(), g_out); }},
    {"streaming HMAC", [] { return hmac_secrets(kKey, kMessage); },
     [] {
         hmac_sha256_ctx c;
         hmac_sha256_init(&c, kKey.data(), kKey.size());
         hmac_sha256_update(&c, kMessage.data(), kMessage.size());
         hmac_sha256_final(&c, g_out);
     }},
    {"streaming HMAC, keying alone", [] { return hmac_secrets(kKey, kMessage); },
     [] { hmac_sha256_init(&g_ctx, kKey.data(), kKey.size()); }},
    {"SHA-256 of a long key",
     [] {
         return std::vector<bytes>{bytes(kLongKey.begin() + 64, kLongKey.end()),
                                   host_words(oracle::sha256(kLongKey))};
     },
     [] { sha256_hash(kLongKey.data(), kLongKey.size(), g_out); }},
    {"PBKDF2, one block", [] { return pbkdf2_secrets(1); },
     [] { pbkdf2_sha256(kPassword.data(), kPassword.size(), kSalt.data(), kSalt.size(), 3, g_out, 32); }},
    {"PBKDF2, two blocks at once", [] { return pbkdf2_secrets(2); },
     [] { pbkdf2_sha256(kPassword.data(), kPassword.size(), kSalt.data(), kSalt.size(), 3, g_out, 64); }},
    {"token verifier, forged signature", forged_secrets,
     [] {
         const std::string t = forged_token();
         keldo_jwt_verify(kSecret, t.c_str(), nullptr, nullptr, nullptr);
     }},
    {"prepared key, init alone", [] { return hmac_secrets(kKey, kMessage); },
     [] { keldo_jwt_key_init(&g_ring[0], kKey.data(), kKey.size()); }},
    {"prepared key of a long secret", [] { return hmac_secrets(kLongKey, kMessage); },
     [] { keldo_jwt_key_init(&g_ring[0], kLongKey.data(), kLongKey.size()); }},
    {"ring verifier, forged signature", forged_ring_secrets,
     [] {
         keldo_jwt_key_init(&g_ring[0], kOtherSecret, strlen(kOtherSecret));
         keldo_jwt_key_init(&g_ring[1], kSecret, strlen(kSecret));
         const std::string t = forged_token();
         keldo_jwt_verify_k(g_ring, 2, t.c_str(), nullptr, nullptr, nullptr, nullptr);
     }},
};

class Wipe : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
#if defined(KELDO_NO_STACK_SCAN)
        GTEST_SKIP() << "the stack is not scanned in this build";
#endif
        previous_ = sha256_backend_name();
        if (sha256_backend_select(GetParam().c_str()) != 0)
            GTEST_SKIP() << GetParam() << " is not supported on this machine";
    }
    void TearDown() override {
        if (!previous_.empty()) {
            ASSERT_EQ(sha256_backend_select(previous_.c_str()), 0);
        }
    }

private:
    std::string previous_;
};

std::vector<std::string> built_in() {
    std::vector<std::string> names;
    for (size_t i = 0; sha256_backend_at(i) != nullptr; ++i) names.emplace_back(sha256_backend_at(i));
    return names;
}

#if !defined(KELDO_NO_STACK_SCAN)
TEST_P(Wipe, TheScanFindsWhatIsLeftBehind) {
    const std::vector<bytes> needles{kKey};
    paint_stack();
    const std::function<void()> keep = [&] { leave_behind(&needles[0]); };
    run_deeper(&keep);
    EXPECT_EQ(stack_holds(&needles), std::vector<size_t>{0});
}

// The key itself: once wiped, not a byte of its states is left in it.
TEST_P(Wipe, AWipedKeyHoldsNothing) {
    keldo_jwt_key key;
    ASSERT_EQ(keldo_jwt_key_init(&key, kKey.data(), kKey.size()), KELDO_OK);
    const std::vector<bytes> states = hmac_secrets(kKey, kMessage);
    auto holds = [&key](const bytes &needle) {
        const auto *p = reinterpret_cast<const uint8_t *>(&key);
        return std::search(p, p + sizeof key, needle.begin(), needle.end()) != p + sizeof key;
    };
    // The keyed states are in the key (which shows the search works) ...
    EXPECT_TRUE(holds(states[3]) && holds(states[4]));
    keldo_jwt_key_wipe(&key);
    // ... and gone after the wipe, with every other byte.
    const auto *p = reinterpret_cast<const uint8_t *>(&key);
    EXPECT_TRUE(std::all_of(p, p + sizeof key, [](uint8_t b) { return b == 0; }));
}

TEST_P(Wipe, NoSecretStaysOnTheStack) {
    for (const wipe_case &c : kCases) {
        const std::vector<bytes> needles = c.secrets();
        paint_stack();
        run_deeper(&c.call);
        const std::vector<size_t> found = stack_holds(&needles);
        for (const size_t i : found) ADD_FAILURE() << c.what << ": secret " << i << " left on the stack";
    }
}
#else
// The suite is still instantiated: each case reports the skip from SetUp.
TEST_P(Wipe, NoSecretStaysOnTheStack) {}
#endif

INSTANTIATE_TEST_SUITE_P(All, Wipe, ::testing::ValuesIn(built_in()),
                         [](const ::testing::TestParamInfo<std::string> &p) { return p.param; });

}  // namespace
