// The reentrant functions called from several threads at once give what
// they give alone: hashing, HMAC, PBKDF2, the codec, UUIDs and verification
// of valid tokens. Run under ThreadSanitizer by scripts/ci/60-tsan.sh.
//
// Left out on purpose: the two process-wide buffers that the library
// documents as unsynchronised, the last-error text (written by every failing
// call) and the token buffer of keldo_jwt_mint. Every call made from the
// worker threads here succeeds, and tokens are minted before they start.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "keldo_crypto.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 20;

std::vector<uint8_t> bytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = uint8_t(seed >> 16);
    }
    return v;
}

// Runs body(thread index) on kThreads threads released at the same moment.
template <typename F>
void run_together(F body) {
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
            body(t);
        });
    go.store(true, std::memory_order_release);
    for (std::thread &th : threads) th.join();
}

// Must run before anything else in this process hashes: the compression
// backend is chosen at first use, here by several threads at once.
TEST(Threads, FirstUseOfHashingFromSeveralThreads) {
    const std::vector<uint8_t> msg = bytes(1000, 1);
    uint8_t want[32];
    unsigned int n = 0;
    ASSERT_EQ(EVP_Digest(msg.data(), msg.size(), want, &n, EVP_sha256(), nullptr), 1);
    std::atomic<int> wrong{0};
    run_together([&](int) {
        uint8_t got[32];
        if (keldo_crypto_sha256(msg.data(), msg.size(), got) != 0 ||
            std::memcmp(got, want, 32) != 0)
            ++wrong;
    });
    EXPECT_EQ(wrong.load(), 0);
}

struct Expected {
    std::vector<std::vector<uint8_t>> messages, keys;
    std::vector<std::vector<uint8_t>> sha, hmac, pbkdf2;
    std::vector<std::string> b64, b64url;
};

// Every result computed once, on this thread alone.
Expected compute_alone() {
    Expected e;
    for (size_t i = 0; i < 12; ++i) {
        e.messages.push_back(bytes(i * 37, uint32_t(100 + i)));
        e.keys.push_back(bytes(i * 11, uint32_t(200 + i)));
        const auto &m = e.messages.back();
        const auto &k = e.keys.back();
        std::vector<uint8_t> d(32), h(32), p(48);
        keldo_crypto_sha256(m.data(), m.size(), d.data());
        keldo_crypto_hmac_sha256(k.data(), k.size(), m.data(), m.size(), h.data());
        keldo_crypto_pbkdf2_sha256(k.data(), k.size(), m.data(), m.size(), 20, p.data(),
                                   p.size());
        e.sha.push_back(d);
        e.hmac.push_back(h);
        e.pbkdf2.push_back(p);
        std::string s(4 * (m.size() / 3 + 1) + 1, '\0'), u(s.size(), '\0');
        keldo_crypto_base64_encode(m.data(), m.size(), s.data(), s.size());
        keldo_crypto_base64url_encode(m.data(), m.size(), u.data(), u.size());
        e.b64.push_back(s.c_str());
        e.b64url.push_back(u.c_str());
    }
    return e;
}

// Recomputes everything and counts the results that differ.
int recompute(const Expected &e) {
    int wrong = 0;
    for (size_t i = 0; i < e.messages.size(); ++i) {
        const auto &m = e.messages[i];
        const auto &k = e.keys[i];
        std::vector<uint8_t> d(32), h(32), p(48);
        wrong += keldo_crypto_sha256(m.data(), m.size(), d.data()) != 0 || d != e.sha[i];
        wrong += keldo_crypto_hmac_sha256(k.data(), k.size(), m.data(), m.size(), h.data()) != 0 ||
                 h != e.hmac[i];
        wrong += keldo_crypto_pbkdf2_sha256(k.data(), k.size(), m.data(), m.size(), 20,
                                            p.data(), p.size()) != 0 ||
                 p != e.pbkdf2[i];
        std::string s(e.b64[i].size() + 1, '\0'), u(e.b64url[i].size() + 1, '\0');
        wrong += keldo_crypto_base64_encode(m.data(), m.size(), s.data(), s.size()) != 0 ||
                 s.c_str() != e.b64[i];
        wrong += keldo_crypto_base64url_encode(m.data(), m.size(), u.data(), u.size()) != 0 ||
                 u.c_str() != e.b64url[i];
        std::vector<uint8_t> back(m.size() + 1);
        uint64_t len = 0;
        wrong += keldo_crypto_base64_decode(e.b64[i].c_str(), back.data(), back.size(), &len) != 0 ||
                 len != m.size() || !std::equal(m.begin(), m.end(), back.begin());
        len = 0;
        wrong += keldo_crypto_base64url_decode(e.b64url[i].c_str(), back.data(), back.size(),
                                               &len) != 0 ||
                 len != m.size() || !std::equal(m.begin(), m.end(), back.begin());
    }
    return wrong;
}

TEST(Threads, HashingHmacPbkdf2AndCodecAgreeWithTheSingleThreadedResults) {
    const Expected e = compute_alone();
    ASSERT_EQ(recompute(e), 0);
    std::atomic<int> wrong{0};
    run_together([&](int) {
        for (int r = 0; r < kRounds; ++r) wrong += recompute(e);
    });
    EXPECT_EQ(wrong.load(), 0);
}

TEST(Threads, UuidsAreWellFormedAndDistinctAcrossThreads) {
    constexpr int kPerThread = 500;
    std::vector<std::vector<std::string>> made(kThreads);
    std::atomic<int> failed{0};
    run_together([&](int t) {
        char out[37];
        for (int i = 0; i < kPerThread; ++i) {
            if (keldo_crypto_uuid_generate(out) != 0) {
                ++failed;
                continue;
            }
            made[size_t(t)].emplace_back(out);
        }
    });
    EXPECT_EQ(failed.load(), 0);
    std::set<std::string> all;
    for (const auto &list : made)
        for (const std::string &u : list) {
            ASSERT_EQ(u.size(), 36u);
            EXPECT_EQ(u[8], '-');
            EXPECT_EQ(u[14], '4');  // version 4
            EXPECT_NE(std::string("89ab").find(u[19]), std::string::npos);  // variant 10
            all.insert(u);
        }
    EXPECT_EQ(all.size(), size_t(kThreads * kPerThread));
}

TEST(Threads, ValidTokensVerifyTheSameOnEveryThread) {
    struct Minted {
        std::string secret, sub, email, token;
        int64_t exp;
    };
    std::vector<Minted> tokens;
    for (int i = 0; i < 8; ++i) {
        const std::string n = std::to_string(i);
        Minted m{"secret-" + n, "user-" + n, 'u' + n + "@example.org", "", 0};
        const char *t = keldo_jwt_mint(m.secret.c_str(), m.sub.c_str(), m.email.c_str(),
                                       3600 + uint32_t(i));
        ASSERT_NE(t, nullptr);
        m.token = t;
        ASSERT_EQ(keldo_jwt_verify(m.secret.c_str(), t, nullptr, nullptr, &m.exp), 0);
        tokens.push_back(m);
    }
    std::atomic<int> wrong{0};
    run_together([&](int t) {
        for (int r = 0; r < kRounds; ++r)
            for (size_t i = 0; i < tokens.size(); ++i) {
                const Minted &m = tokens[(i + size_t(t)) % tokens.size()];
                char sub[64], email[128];
                int64_t exp = 0;
                if (keldo_jwt_verify(m.secret.c_str(), m.token.c_str(), sub, email, &exp) != 0 ||
                    m.sub != sub || m.email != email || exp != m.exp)
                    ++wrong;
            }
    });
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
