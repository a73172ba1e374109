#include "stored_hash.h"

#include "keldo_crypto.h"

namespace kc {

namespace {

bool b64_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '+' || c == '/';
}

// Standard Base64 of len bytes, padded or not.
std::string b64(const uint8_t *data, size_t len, bool pad) {
    std::string text((len + 2) / 3 * 4 + 1, '\0');
    if (keldo_crypto_base64_encode(data, len, text.data(), text.size()) != 0) return {};
    text.resize(text.find('\0'));
    if (!pad)
        while (!text.empty() && text.back() == '=') text.pop_back();
    return text;
}

// Decodes a field of unpadded (or, when padded, optionally padded) standard
// Base64.
// The library's decoder is lenient about its end; the field is checked for
// the alphabet first and re-encoded after, so only one spelling of each
// value is accepted.
bool b64_field(std::string_view field, bool padded, std::vector<uint8_t> &out) {
    if (field.empty() || field.size() > kMaxStoredField) return false;
    size_t body = field.size();
    if (padded)
        while (body > 0 && field[body - 1] == '=') --body;
    if (field.size() - body > 2) return false;
    for (size_t i = 0; i < body; ++i)
        if (!b64_char(field[i])) return false;
    if (padded && field.size() != body && field.size() % 4 != 0) return false;
    std::string text(field);
    out.assign(field.size(), 0);
    uint64_t n = 0;
    if (keldo_crypto_base64_decode(text.c_str(), out.data(), out.size(), &n) != 0) return false;
    out.resize(size_t(n));
    return b64(out.data(), out.size(), field.size() != body) == field;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    for (;;) {
        size_t at = s.find(sep);
        parts.push_back(s.substr(0, at));
        if (at == std::string_view::npos) return parts;
        s.remove_prefix(at + 1);
    }
}

// 1 to kMaxStoredIterations in decimal digits only.
bool parse_iterations(std::string_view text, uint32_t *out) {
    if (text.empty() || text.size() > 9) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v < 1 || v > kMaxStoredIterations) return false;
    *out = uint32_t(v);
    return true;
}

bool refuse(std::string *why, const char *text) {
    *why = text;
    return false;
}

}  // namespace

bool parse_stored_hash(std::string_view stored, StoredHash *st, std::string *why) {
    *st = StoredHash{};
    const std::vector<std::string_view> f = split(stored, '$');
    if (stored.starts_with("$pbkdf2-sha256$")) {
        if (f.size() != 5 || !f[2].starts_with("i=") ||
            !parse_iterations(f[2].substr(2), &st->iterations))
            return refuse(why, "not a valid $pbkdf2-sha256$i=N$SALT$HASH string");
        if (!b64_field(f[3], false, st->salt) || !b64_field(f[4], false, st->expected))
            return refuse(why, "salt or hash of the $pbkdf2-sha256$ string is not unpadded Base64");
        if (st->expected.size() != kStoredKeyBytes)
            return refuse(why, "hash of the $pbkdf2-sha256$ string is not 32 bytes");
        return true;
    }
    if (stored.starts_with("pbkdf2_sha256$")) {
        st->django = true;
        if (f.size() != 4 || !parse_iterations(f[1], &st->iterations) || f[2].empty() ||
            f[2].size() > kMaxStoredField)
            return refuse(why, "not a valid pbkdf2_sha256$N$SALT$HASH string");
        st->salt.assign(f[2].begin(), f[2].end());
        if (!b64_field(f[3], true, st->expected) || st->expected.size() != kStoredKeyBytes)
            return refuse(why, "hash of the pbkdf2_sha256$ string is not Base64 of 32 bytes");
        st->hash_text = f[3];
        return true;
    }
    return refuse(why, "unrecognised hash; expected $pbkdf2-sha256$i=N$SALT$HASH or "
                       "pbkdf2_sha256$N$SALT$HASH");
}

}  // namespace kc
