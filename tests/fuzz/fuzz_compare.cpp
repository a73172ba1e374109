// The two constant-time comparisons against memcmp's equality verdict, with
// the null-pointer rules, the same buffer passed twice, and the messages of
// the hash-string comparison.
//
// Input: a mode byte, a length byte, a position and a mask (to make the two
// buffers differ in one byte, or not at all when the mask is 0), then bytes.
#include <string>

#include "fuzz_support.h"
#include "keldo_crypto.h"

namespace {

void bytes(fuzz::Reader &r) {
    const uint8_t mode = r.byte();
    const uint32_t pos = r.u16();
    const uint8_t mask = r.byte();
    std::vector<uint8_t> a = r.rest();
    // The second buffer: a copy with at most one byte changed, or, for odd
    // modes, the input's second half against its first.
    std::vector<uint8_t> b = a;
    if ((mode & 1) != 0) {
        const size_t half = a.size() / 2;
        b.assign(a.begin() + std::ptrdiff_t(half), a.end());
        a.resize(half);
        b.resize(half);
    } else if (!b.empty()) {
        b[pos % b.size()] ^= mask;
    }
    const uint64_t len = a.size();
    // Exactly sized copies on the heap: a read past len is a finding.
    std::vector<uint8_t> ha(a), hb(b);
    const uint8_t *pa = ha.empty() ? nullptr : ha.data();
    const uint8_t *pb = hb.empty() ? nullptr : hb.data();

    const std::string before = keldo_crypto_last_error();
    const int32_t want = len == 0 || std::memcmp(pa, pb, len) == 0 ? 0 : 1;
    FUZZ_CHECK(keldo_crypto_secure_compare(pa, pb, len) == want);
    FUZZ_CHECK(keldo_crypto_secure_compare(pb, pa, len) == want);
    FUZZ_CHECK(keldo_crypto_secure_compare(pa, pa, len) == 0);
    FUZZ_CHECK(keldo_crypto_secure_compare(pa, nullptr, len) == (len == 0 ? 0 : 1));
    FUZZ_CHECK(keldo_crypto_secure_compare(nullptr, pb, len) == (len == 0 ? 0 : 1));
    FUZZ_CHECK(keldo_crypto_secure_compare(nullptr, nullptr, len) == 0);
    // Any prefix length compares as memcmp says.
    if (len != 0) {
        const uint64_t n = pos % len;
        const int32_t prefix = n == 0 || std::memcmp(pa, pb, n) == 0 ? 0 : 1;
        FUZZ_CHECK(keldo_crypto_secure_compare(pa, pb, n) == prefix);
    }
    FUZZ_CHECK(before == keldo_crypto_last_error());
}

void hash_strings(fuzz::Reader &r) {
    const size_t split = r.byte();
    const std::vector<uint8_t> raw = r.rest();
    const size_t cut = raw.empty() ? 0 : split % (raw.size() + 1);
    std::string a(raw.begin(), raw.begin() + std::ptrdiff_t(cut));
    std::string b(raw.begin() + std::ptrdiff_t(cut), raw.end());
    a = a.c_str();
    b = b.c_str();
    // Mostly unequal halves; also try each against a copy of itself.
    const std::string copies[][2] = {{a, b}, {a, a}, {b, std::string(b)}};
    for (const auto &pair : copies) {
        const std::string &x = pair[0], &y = pair[1];
        const std::string before = keldo_crypto_last_error();
        const int32_t rc = keldo_verify_password_hash(x.c_str(), y.c_str());
        const std::string after = keldo_crypto_last_error();
        if (x.size() != y.size()) {
            FUZZ_CHECK(rc == 1 && after == "keldo_verify_password_hash: hash length mismatch");
        } else if (std::memcmp(x.data(), y.data(), x.size()) != 0) {
            FUZZ_CHECK(rc == 1 && after == "keldo_verify_password_hash: password hash mismatch");
        } else {
            FUZZ_CHECK(rc == 0 && after == before);
        }
    }
    FUZZ_CHECK(keldo_verify_password_hash(a.c_str(), nullptr) == 1);
    FUZZ_CHECK(std::string(keldo_crypto_last_error()) ==
               "keldo_verify_password_hash: null hash pointer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Reader r(data, size);
    if (r.byte() % 2 == 0)
        bytes(r);
    else
        hash_strings(r);
    return 0;
}
