// Prepared keys and key rings on hostile input, against the one-secret
// function: a ring's verdict must be what trying each secret in turn with
// keldo_jwt_verify_r gives when only a bad signature moves on (the first
// other answer wins, at its position), and a prepared key mints the
// one-secret function's token, byte for byte.
//
// Input: a key count byte (1 to 5 keys), each key's secret (length byte,
// 1 to 64 bytes), a mode byte, then the mode's fields (see each mode).
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "keldo_crypto.h"
#include "test_platform.h"

namespace {

constexpr int64_t kNow = 1700000000;
constexpr uint8_t kFill = 0x5A;
constexpr char kHeader[] = "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9";

struct Outputs {
    char sub[64];
    char email[128];
    int64_t exp;
    uint32_t index;
    Outputs() { std::memset(this, kFill, sizeof *this); }
    bool untouched() const {
        const Outputs fresh;
        return std::memcmp(this, &fresh, sizeof fresh) == 0;
    }
};

void check_ring(const std::vector<std::string> &secrets, const std::vector<keldo_jwt_key> &keys,
                const std::string &token) {
    Outputs got;
    const int32_t code = keldo_jwt_verify_k(keys.data(), uint32_t(keys.size()), token.c_str(),
                                            got.sub, got.email, &got.exp, &got.index);
    // The model: each secret in turn, moving on after a bad signature only.
    int32_t want = KELDO_E_BAD_SIGNATURE;
    Outputs model;
    for (size_t i = 0; i < secrets.size(); ++i) {
        Outputs o;
        const int32_t rc = keldo_jwt_verify_r(secrets[i].data(), secrets[i].size(), token.c_str(),
                                              o.sub, o.email, &o.exp);
        if (rc == KELDO_E_BAD_SIGNATURE) continue;
        want = rc;
        model = o;
        if (rc == KELDO_OK) model.index = uint32_t(i);
        break;
    }
    FUZZ_CHECK(code == want);
    if (code == KELDO_OK) {
        FUZZ_CHECK(std::memcmp(&got, &model, sizeof got) == 0);
    } else {
        FUZZ_CHECK(got.untouched());
    }
}

// Mode 0: the rest of the input is the token.
void arbitrary_text(const std::vector<std::string> &secrets,
                    const std::vector<keldo_jwt_key> &keys, fuzz::Reader &r) {
    const std::vector<uint8_t> raw = r.rest();
    check_ring(secrets, keys, std::string(raw.begin(), raw.end()).c_str());
}

// Mode 1: a signer byte (a ring position, or past the ring: a foreign
// secret), then a payload text signed with it.
void signed_payload(const std::vector<std::string> &secrets,
                    const std::vector<keldo_jwt_key> &keys, fuzz::Reader &r) {
    const size_t signer = r.byte() % (secrets.size() + 1);
    const std::vector<uint8_t> raw = r.rest();
    const std::string input =
        std::string(kHeader) + "." + fuzz::model_b64url(std::string(raw.begin(), raw.end()));
    const std::string secret = signer < secrets.size() ? secrets[signer] : "a foreign secret";
    check_ring(secrets, keys, input + "." + fuzz::model_sign(secret, input));
}

// Mode 2: a key position, then sub and email, minted under that key.
void minted(const std::vector<std::string> &secrets, const std::vector<keldo_jwt_key> &keys,
            fuzz::Reader &r) {
    const size_t i = r.byte() % secrets.size();
    const std::vector<uint8_t> sub = r.bytes(r.byte());
    const std::vector<uint8_t> email = r.bytes(r.byte());
    const std::string s(sub.begin(), sub.end()), e(email.begin(), email.end());
    char a[KELDO_JWT_TOKEN_MAX], b[KELDO_JWT_TOKEN_MAX];
    uint64_t na = 0, nb = 0;
    const int32_t ra = keldo_jwt_mint_r(secrets[i].data(), secrets[i].size(), s.c_str(),
                                        e.c_str(), 600, a, sizeof a, &na);
    const int32_t rb = keldo_jwt_mint_k(&keys[i], s.c_str(), e.c_str(), 600, b, sizeof b, &nb);
    FUZZ_CHECK(ra == rb);
    if (ra != KELDO_OK) return;
    FUZZ_CHECK(na == nb && std::strcmp(a, b) == 0);
    check_ring(secrets, keys, b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    test_platform::set_clock(kNow);
    fuzz::Reader r(data, size);
    const size_t count = 1 + r.byte() % 5;
    std::vector<std::string> secrets;
    std::vector<keldo_jwt_key> keys(count);
    for (size_t i = 0; i < count; ++i) {
        const std::vector<uint8_t> k = r.bytes(1 + r.byte() % 64);
        // A short input leaves the last secrets empty: the init refuses them.
        std::string secret(k.begin(), k.end());
        const int32_t rc = keldo_jwt_key_init(&keys[i], secret.data(), secret.size());
        FUZZ_CHECK(rc == (secret.empty() ? KELDO_E_KEY_EMPTY_SECRET : KELDO_OK));
        if (rc != KELDO_OK) {
            // A refused key is refused by the ring, before the token.
            FUZZ_CHECK(keldo_jwt_verify_k(keys.data(), uint32_t(i + 1), "x", nullptr, nullptr,
                                          nullptr, nullptr) == KELDO_E_KEY_NOT_INITIALISED);
            return 0;
        }
        secrets.push_back(secret);
    }
    switch (r.byte() % 3) {
    case 0: arbitrary_text(secrets, keys, r); break;
    case 1: signed_payload(secrets, keys, r); break;
    default: minted(secrets, keys, r); break;
    }
    for (keldo_jwt_key &k : keys) keldo_jwt_key_wipe(&k);
    return 0;
}
