// Token verification on hostile text, on payloads signed here with OpenSSL
// (so the JSON and claim stages are reached), and on minted tokens mutated
// byte by byte. Every refusal must be a documented message with the outputs
// left as documented; every acceptance must carry the HMAC of exactly the
// bytes before the second dot, computed independently.
//
// Input: a mode byte, then the mode's own fields (see each mode).
#include <string>

#include "fuzz_support.h"
#include "keldo_crypto.h"
#include "test_platform.h"

namespace {

constexpr int64_t kNow = 1700000000;
constexpr char kHeader[] = "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9";
constexpr uint8_t kFill = 0x5A;

const char *pick_secret(uint8_t b) {
    switch (b % 3) {
    case 0: return "fuzzing secret";
    case 1: return "";
    default:  // longer than a block: hashed first
        return "a signing secret that is longer than the sixty-four bytes of one "
               "SHA-256 block";
    }
}

struct Outputs {
    char sub[64];
    char email[128];
    int64_t exp;
    Outputs() {
        std::memset(sub, kFill, sizeof sub);
        std::memset(email, kFill, sizeof email);
        std::memset(&exp, kFill, sizeof exp);
    }
    static bool untouched(const void *p, size_t n) {
        const auto *b = static_cast<const uint8_t *>(p);
        for (size_t i = 0; i < n; ++i)
            if (b[i] != kFill) return false;
        return true;
    }
    static bool terminated(const char *s, size_t n) { return std::memchr(s, 0, n) != nullptr; }
};

// Verifies and checks what holds for every outcome. Returns the result.
int32_t verify_checked(const char *secret, const std::string &token, Outputs &o) {
    const std::string before = keldo_crypto_last_error();
    const int32_t rc = keldo_jwt_verify(secret, token.c_str(), o.sub, o.email, &o.exp);
    const std::string message = keldo_crypto_last_error();
    FUZZ_CHECK(rc == 0 || rc == -1);
    if (rc == -1) {
        FUZZ_CHECK(fuzz::is_verify_message(message));
        const bool after_sub = message == "jwt_verify: missing 'email' claim" ||
                               message == "jwt_verify: invalid 'email' claim";
        if (after_sub)
            FUZZ_CHECK(Outputs::terminated(o.sub, sizeof o.sub));
        else
            FUZZ_CHECK(Outputs::untouched(o.sub, sizeof o.sub));
        FUZZ_CHECK(Outputs::untouched(o.email, sizeof o.email));
        FUZZ_CHECK(Outputs::untouched(&o.exp, sizeof o.exp));
        return rc;
    }

    FUZZ_CHECK(message == before);
    FUZZ_CHECK(Outputs::terminated(o.sub, sizeof o.sub));
    FUZZ_CHECK(Outputs::terminated(o.email, sizeof o.email));
    FUZZ_CHECK(o.exp >= kNow);
    // Accepted: exactly two dots, and the signature segment decodes to the
    // HMAC of the bytes before the second one.
    const size_t dot1 = token.find('.');
    FUZZ_CHECK(dot1 != std::string::npos);
    const size_t dot2 = token.find('.', dot1 + 1);
    FUZZ_CHECK(dot2 != std::string::npos);
    FUZZ_CHECK(token.find('.', dot2 + 1) == std::string::npos);
    FUZZ_CHECK(dot2 - dot1 - 1 <= 2047);
    const auto *t = reinterpret_cast<const uint8_t *>(token.data());
    const fuzz::DecodeModel sig = fuzz::model_decode(t + dot2 + 1, token.size() - dot2 - 1,
                                                     true, 64);
    FUZZ_CHECK(sig.ok && sig.out_len == 32);
    uint8_t mac[32];
    fuzz::ref_hmac(reinterpret_cast<const uint8_t *>(secret), std::strlen(secret), t, dot2,
                   mac);
    FUZZ_CHECK(std::memcmp(mac, sig.bytes.data(), 32) == 0);
    return rc;
}

// Mode 0: the input is the token. Byte 1 picks the secret.
void arbitrary_text(fuzz::Reader &r) {
    const char *secret = pick_secret(r.byte());
    const std::vector<uint8_t> raw = r.rest();
    std::string token(raw.begin(), raw.end());
    token = token.c_str();
    Outputs o;
    verify_checked(secret, token, o);
}

// Other accepted spellings of one signature segment (trailing '=', line
// breaks and spaces, the standard alphabet): all must get the same verdict.
std::string respell(const std::string &sig, uint8_t how) {
    std::string s = sig;
    switch (how % 4) {
    case 0: s += "=="; break;
    case 1: s += "\r\n "; break;
    case 2:
        for (char &c : s) c = c == '-' ? '+' : c == '_' ? '/' : c;
        break;
    default: s += "=\n"; break;
    }
    return s;
}

// Mode 1: the input is a payload text, signed here. Byte 1 picks the secret
// and the header, byte 2 a second spelling of the signature.
void signed_payload(fuzz::Reader &r) {
    const uint8_t choice = r.byte();
    const uint8_t how = r.byte();
    const char *secret = pick_secret(choice);
    const char *header = (choice / 3) % 3 == 0 ? kHeader
                         : (choice / 3) % 3 == 1 ? ""
                                                 : "eyJhbGciOiJub25lIn0";  // alg none
    const std::vector<uint8_t> raw = r.rest();
    const std::string payload = fuzz::model_b64url(std::string(raw.begin(), raw.end()));
    const std::string signing_input = std::string(header) + "." + payload;
    const std::string sig = fuzz::model_sign(secret, signing_input);

    Outputs o;
    const int32_t rc = verify_checked(secret, signing_input + "." + sig, o);
    const std::string message = keldo_crypto_last_error();
    if (payload.size() > 2047) FUZZ_CHECK(rc == -1 && message == "jwt_verify: payload segment too long");
    if (rc == -1) FUZZ_CHECK(message != "jwt_verify: signature verification failed");

    Outputs o2;
    const int32_t rc2 = verify_checked(secret, signing_input + "." + respell(sig, how), o2);
    FUZZ_CHECK(rc2 == rc);
    if (rc == -1) FUZZ_CHECK(message == keldo_crypto_last_error());
}

// ---- Mode 2: minted, then mutated -----------------------------------------

// RFC 3629 UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool valid_utf8(const std::string &s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = uint8_t(s[i]);
        size_t n = 0;
        uint32_t cp = 0, min = 0;
        if (c < 0x80) { ++i; continue; }
        if ((c & 0xE0) == 0xC0) { n = 1; cp = c & 0x1Fu; min = 0x80; }
        else if ((c & 0xF0) == 0xE0) { n = 2; cp = c & 0x0Fu; min = 0x800; }
        else if ((c & 0xF8) == 0xF0) { n = 3; cp = c & 0x07u; min = 0x10000; }
        else return false;
        for (size_t k = 1; k <= n; ++k) {
            if (i + k >= s.size()) return false;
            const auto cc = uint8_t(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3Fu);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

// A JSON string as the JSON library's writer spells it without options:
// quote, backslash and controls escaped (short forms where JSON has them),
// everything else as its own bytes.
std::string json_string(const std::string &s) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (char ch : s) {
        const auto c = uint8_t(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 15];
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

std::string text_field(fuzz::Reader &r) {
    const size_t len = r.u16() % 1100;
    const std::vector<uint8_t> raw = r.bytes(len);
    std::string s(raw.begin(), raw.end());
    return s.c_str();
}

void minted(fuzz::Reader &r) {
    const char *secret = pick_secret(r.byte());
    const std::string sub = text_field(r);
    const std::string email = text_field(r);
    const uint32_t ttl = r.u16();

    test_platform::set_clock(kNow);
    const char *minted_token = keldo_jwt_mint(secret, sub.c_str(), email.c_str(), ttl);
    const std::string json = "{\"sub\":" + json_string(sub) + ",\"email\":" +
                             json_string(email) + ",\"iss\":\"keldo\",\"exp\":" +
                             std::to_string(kNow + ttl) + ",\"nbf\":" + std::to_string(kNow) +
                             "}";
    if (minted_token == nullptr) {
        const std::string message = keldo_crypto_last_error();
        FUZZ_CHECK(fuzz::is_mint_message(message));
        if (!valid_utf8(sub) || !valid_utf8(email))
            FUZZ_CHECK(message == "jwt_mint: failed to serialize payload JSON");
        else
            FUZZ_CHECK(json.size() > 1535 &&
                       message == "jwt_mint: failed to base64url encode payload");
        return;
    }
    FUZZ_CHECK(valid_utf8(sub) && valid_utf8(email) && json.size() <= 1535);
    const std::string token = minted_token;
    const std::string signing_input = std::string(kHeader) + "." + fuzz::model_b64url(json);
    FUZZ_CHECK(token == signing_input + "." + fuzz::model_sign(secret, signing_input));

    {
        Outputs o;
        const int32_t rc = verify_checked(secret, token, o);
        if (sub.size() >= 64) {
            FUZZ_CHECK(rc == -1 &&
                       std::string(keldo_crypto_last_error()) == "jwt_verify: invalid 'sub' claim");
        } else if (email.size() >= 128) {
            FUZZ_CHECK(rc == -1 && std::string(keldo_crypto_last_error()) ==
                                       "jwt_verify: invalid 'email' claim");
        } else {
            FUZZ_CHECK(rc == 0);
            FUZZ_CHECK(sub == o.sub && email == o.email && o.exp == kNow + ttl);
        }
    }

    // Byte mutations: replace, insert or delete at input-chosen positions.
    std::string mutated = token;
    const int count = 1 + r.byte() % 8;
    for (int i = 0; i < count && !mutated.empty(); ++i) {
        const uint8_t op = r.byte();
        const size_t pos = r.u16() % (mutated.size() + 1);
        const char value = char(r.byte());
        switch (op % 3) {
        case 0:
            if (pos < mutated.size()) mutated[pos] = value;
            break;
        case 1: mutated.insert(pos, 1, value); break;
        default:
            if (pos < mutated.size()) mutated.erase(pos, 1);
            break;
        }
    }
    mutated = mutated.c_str();
    Outputs o;
    if (verify_checked(secret, mutated, o) == 0)
        FUZZ_CHECK(mutated.compare(0, signing_input.size() + 1, signing_input + ".") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    test_platform::set_clock(kNow);
    fuzz::Reader r(data, size);
    switch (r.byte() % 3) {
    case 0: arbitrary_text(r); break;
    case 1: signed_payload(r); break;
    default: minted(r); break;
    }
    return 0;
}
