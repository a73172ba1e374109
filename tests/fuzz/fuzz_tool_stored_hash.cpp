// keldo-crypto's stored password hashes (PHC and Django strings). An
// accepted string holds a 32-byte key and iterations within the bounds, and
// its fields are the canonical Base64 (OpenSSL's encoder) of what was
// parsed, so no two spellings of one hash are both accepted. Refusals say
// why.
//
// Input: the stored string.
#include <openssl/evp.h>

#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "stored_hash.h"

namespace {

std::string openssl_b64(const std::vector<uint8_t> &v, bool pad) {
    std::vector<unsigned char> text(4 * ((v.size() + 2) / 3) + 1);
    int n = EVP_EncodeBlock(text.data(), fuzz::nonnull(v.empty() ? nullptr : v.data()),
                            int(v.size()));
    FUZZ_CHECK(n >= 0);
    std::string s(reinterpret_cast<char *>(text.data()), size_t(n));
    if (!pad)
        while (!s.empty() && s.back() == '=') s.pop_back();
    return s;
}

std::vector<std::string_view> fields(std::string_view s) {
    std::vector<std::string_view> out;
    for (;;) {
        size_t at = s.find('$');
        out.push_back(s.substr(0, at));
        if (at == std::string_view::npos) return out;
        s.remove_prefix(at + 1);
    }
}

uint64_t decimal(std::string_view s) {
    uint64_t v = 0;
    for (char c : s) {
        FUZZ_CHECK(c >= '0' && c <= '9');
        v = v * 10 + uint64_t(c - '0');
    }
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string stored(reinterpret_cast<const char *>(data), size);
    kc::StoredHash st;
    std::string why;
    if (!kc::parse_stored_hash(stored, &st, &why)) {
        FUZZ_CHECK(!why.empty());
        return 0;
    }
    FUZZ_CHECK(st.expected.size() == kc::kStoredKeyBytes);
    FUZZ_CHECK(st.iterations >= 1 && st.iterations <= kc::kMaxStoredIterations);
    const std::vector<std::string_view> f = fields(stored);
    if (st.django) {
        FUZZ_CHECK(f.size() == 4 && f[0] == "pbkdf2_sha256");
        FUZZ_CHECK(decimal(f[1]) == st.iterations);
        FUZZ_CHECK(std::string_view(reinterpret_cast<const char *>(st.salt.data()),
                                    st.salt.size()) == f[2]);
        FUZZ_CHECK(st.hash_text == f[3]);
        FUZZ_CHECK(f[3] == openssl_b64(st.expected, true) ||
                   f[3] == openssl_b64(st.expected, false));
    } else {
        FUZZ_CHECK(f.size() == 5 && f[0].empty() && f[1] == "pbkdf2-sha256");
        FUZZ_CHECK(f[2].starts_with("i=") && decimal(f[2].substr(2)) == st.iterations);
        FUZZ_CHECK(f[3] == openssl_b64(st.salt, false));
        FUZZ_CHECK(f[4] == openssl_b64(st.expected, false));
    }
    return 0;
}
