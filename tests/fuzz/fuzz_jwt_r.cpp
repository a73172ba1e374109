// The reentrant token functions on hostile input, against the
// thirteen-interface ones and an independent HMAC: secrets are any bytes,
// the output buffer any size. Every result must be a documented code whose
// text is the message the thirteen write for the same input; outputs are
// written only on success; a minted token is the model's, byte for byte.
//
// Input: a mode byte, a secret (length byte, then the bytes), then the
// mode's own fields (see each mode).
#include <algorithm>
#include <string>

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
    Outputs() {
        std::memset(sub, kFill, sizeof sub);
        std::memset(email, kFill, sizeof email);
        std::memset(&exp, kFill, sizeof exp);
    }
    bool untouched() const {
        const Outputs fresh;
        return std::memcmp(this, &fresh, sizeof fresh) == 0;
    }
};

bool has_nul(const std::string &s) { return s.find('\0') != std::string::npos; }

// Verifies through both interfaces where the thirteen can take the secret,
// and checks what holds for every outcome. Returns the code.
int32_t verify_both(const std::string &secret, const std::string &token) {
    Outputs r;
    const int32_t code = keldo_jwt_verify_r(secret.data(), secret.size(), token.c_str(), r.sub,
                                            r.email, &r.exp);
    const int kind = KELDO_STATUS_KIND(code);
    if (secret.empty()) {
        FUZZ_CHECK(code == KELDO_E_VERIFY_EMPTY_SECRET);
        return code;
    }
    FUZZ_CHECK(code == KELDO_OK || (kind >= KELDO_KIND_MALFORMED &&
                                    kind <= KELDO_KIND_INVALID_CLAIMS));
    const std::string text = keldo_crypto_status_text(code);
    FUZZ_CHECK(code == KELDO_OK || fuzz::is_verify_message(text));
    if (code != KELDO_OK) {
        FUZZ_CHECK(r.untouched());
    } else {
        FUZZ_CHECK(std::memchr(r.sub, 0, sizeof r.sub) != nullptr);
        FUZZ_CHECK(std::memchr(r.email, 0, sizeof r.email) != nullptr);
        // Accepted: the signature is the HMAC of the bytes before the
        // second dot under all the secret's bytes.
        const size_t dot2 = token.find('.', token.find('.') + 1);
        FUZZ_CHECK(dot2 != std::string::npos);
        const auto *t = reinterpret_cast<const uint8_t *>(token.data());
        const fuzz::DecodeModel sig =
            fuzz::model_decode(t + dot2 + 1, token.size() - dot2 - 1, true, 64);
        FUZZ_CHECK(sig.ok && sig.out_len == 32);
        uint8_t mac[32];
        fuzz::ref_hmac(reinterpret_cast<const uint8_t *>(secret.data()), secret.size(), t, dot2,
                       mac);
        FUZZ_CHECK(std::memcmp(mac, sig.bytes.data(), 32) == 0);
    }
    if (!has_nul(secret)) {
        Outputs o;
        const int32_t rc =
            keldo_jwt_verify(secret.c_str(), token.c_str(), o.sub, o.email, &o.exp);
        FUZZ_CHECK((rc == 0) == (code == KELDO_OK));
        if (rc != 0) {
            FUZZ_CHECK(text == keldo_crypto_last_error());
        } else {
            FUZZ_CHECK(std::strcmp(o.sub, r.sub) == 0 && std::strcmp(o.email, r.email) == 0 &&
                       o.exp == r.exp);
        }
    }
    return code;
}

// Mode 0: the rest of the input is the token.
void arbitrary_text(const std::string &secret, fuzz::Reader &r) {
    const std::vector<uint8_t> raw = r.rest();
    std::string token(raw.begin(), raw.end());
    verify_both(secret, token.c_str());
}

// Mode 1: the rest is a payload text, signed here under the secret and
// under a NUL-free stand-in: past the signature the verdict cannot depend on
// which key signed.
void signed_payload(const std::string &secret, fuzz::Reader &r) {
    const std::vector<uint8_t> raw = r.rest();
    const std::string input = std::string(kHeader) + "." + fuzz::model_b64url(std::string(raw.begin(), raw.end()));
    const int32_t code = verify_both(secret, input + "." + fuzz::model_sign(secret, input));
    if (secret.empty()) return;
    const std::string stand_in = "stand-in secret";
    const int32_t plain = verify_both(stand_in, input + "." + fuzz::model_sign(stand_in, input));
    FUZZ_CHECK(code == plain);
    FUZZ_CHECK(code != KELDO_E_BAD_SIGNATURE);
}

std::string text_field(fuzz::Reader &r) {
    const size_t len = r.u16() % 1100;
    const std::vector<uint8_t> raw = r.bytes(len);
    std::string s(raw.begin(), raw.end());
    return s.c_str();
}

// Mode 2: sub, email, ttl and the buffer size, minted.
void minted(const std::string &secret, fuzz::Reader &r) {
    const std::string sub = text_field(r);
    const std::string email = text_field(r);
    const uint32_t ttl = r.u16();
    const uint64_t out_size = r.u16() % (KELDO_JWT_TOKEN_MAX + 64);

    std::vector<char> out(out_size + 16, char(kFill));
    uint64_t size = 0x5A5A;
    const int32_t code = keldo_jwt_mint_r(secret.data(), secret.size(), sub.c_str(),
                                          email.c_str(), ttl, out.data(), out_size, &size);
    const bool untouched = std::all_of(out.begin(), out.end(), [](char c) { return c == char(kFill); });
    if (secret.empty()) {
        FUZZ_CHECK(code == KELDO_E_MINT_EMPTY_SECRET && untouched && size == 0x5A5A);
        return;
    }
    // The thirteen, where they can take the secret: the same verdict and
    // text, or the same token.
    std::string thirteen;
    bool thirteen_ok = false;
    if (!has_nul(secret)) {
        const char *t = keldo_jwt_mint(secret.c_str(), sub.c_str(), email.c_str(), ttl);
        thirteen_ok = t != nullptr;
        if (t != nullptr) thirteen = t;
        else if (code != KELDO_E_TOKEN_BUFFER_TOO_SMALL)
            FUZZ_CHECK(keldo_crypto_status_text(code) == std::string(keldo_crypto_last_error()));
    }
    if (code == KELDO_E_TOKEN_BUFFER_TOO_SMALL) {
        FUZZ_CHECK(untouched && size > out_size && size <= KELDO_JWT_TOKEN_MAX);
        if (!has_nul(secret)) FUZZ_CHECK(thirteen_ok && thirteen.size() + 1 == size);
        return;
    }
    if (code != KELDO_OK) {
        FUZZ_CHECK(code == KELDO_E_MINT_SERIALIZE || code == KELDO_E_CLAIMS_TOO_LONG);
        FUZZ_CHECK(untouched && size == 0x5A5A);
        if (!has_nul(secret)) FUZZ_CHECK(!thirteen_ok);
        return;
    }
    const std::string token(out.data());
    FUZZ_CHECK(size == token.size() + 1 && size <= out_size && size <= KELDO_JWT_TOKEN_MAX);
    for (size_t i = size; i < out.size(); ++i) FUZZ_CHECK(out[i] == char(kFill));
    const size_t dot2 = token.rfind('.');
    FUZZ_CHECK(dot2 != std::string::npos);
    const std::string signing_input = token.substr(0, dot2);
    FUZZ_CHECK(signing_input.compare(0, sizeof kHeader, std::string(kHeader) + ".") == 0);
    FUZZ_CHECK(token.substr(dot2 + 1) == fuzz::model_sign(secret, signing_input));
    if (!has_nul(secret)) FUZZ_CHECK(thirteen_ok && thirteen == token);

    const int32_t verified = verify_both(secret, token);
    if (sub.size() >= 64) FUZZ_CHECK(verified == KELDO_E_INVALID_SUB);
    else if (email.size() >= 128) FUZZ_CHECK(verified == KELDO_E_INVALID_EMAIL);
    else FUZZ_CHECK(verified == KELDO_OK);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    test_platform::set_clock(kNow);
    fuzz::Reader r(data, size);
    const uint8_t mode = r.byte();
    const std::vector<uint8_t> key = r.bytes(r.byte() % 100);
    const std::string secret(key.begin(), key.end());
    switch (mode % 3) {
    case 0: arbitrary_text(secret, r); break;
    case 1: signed_payload(secret, r); break;
    default: minted(secret, r); break;
    }
    return 0;
}
