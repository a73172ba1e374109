// keldo-crypto's streaming Base64 decoder (base64 -d, base64url -d) against
// a model of coreutils' rules written from them: filter the text, cut it in
// groups of four, decode each group until the first fault. The decoder is
// fed in chunks the input chooses, so every split of a group is tried.
//
// Input: one flag byte (bit 0 URL-safe, bit 1 -i), one byte seeding the
// chunk sizes, then the text.
#include <string>
#include <string_view>
#include <vector>

#include "base64_stream.h"
#include "fuzz_support.h"

namespace {

struct Model {
    bool ok;
    std::string bytes;
};

int sextet(char c, bool url) {
    std::string_view alphabet = url ? fuzz::kUrlAlphabet : fuzz::kStdAlphabet;
    size_t at = alphabet.find(c);
    return c == '\0' || at == std::string_view::npos ? -1 : int(at);
}

Model model(const std::string &raw, bool url, bool ignore_garbage) {
    std::string text;
    for (char c : raw) {
        if (c == '\n') continue;
        if (ignore_garbage && c != '=' && sextet(c, url) < 0) continue;
        text.push_back(c);
    }
    Model m{true, {}};
    for (size_t at = 0; at < text.size(); at += 4) {
        const std::string g = text.substr(at, 4);
        const bool last = at + 4 >= text.size();
        // Bits of the leading characters that are in the alphabet, up to
        // the first one that is not (or the padding).
        uint32_t acc = 0;
        int bits = 0, valid = 0;
        for (char c : g) {
            int v = sextet(c, url);
            if (v < 0) break;
            acc = (acc << 6) | uint32_t(v);
            bits += 6;
            ++valid;
            if (bits >= 8) {
                bits -= 8;
                m.bytes.push_back(char((acc >> bits) & 0xFF));
            }
        }
        bool good;
        if (valid == 4) good = true;
        else if (valid == 3) good = (g.size() == 4 && g[3] == '=') || (url && last && g.size() == 3);
        else if (valid == 2) good = (g.size() == 4 && g[2] == '=' && g[3] == '=') ||
                                    (url && last && g.size() == 2);
        else good = false;
        if (!good) {
            m.ok = false;
            return m;
        }
    }
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Reader r(data, size);
    const uint8_t flags = r.byte();
    uint32_t chunk_seed = r.byte() | 1u;
    const std::vector<uint8_t> rest = r.rest();
    const std::string text(rest.begin(), rest.end());
    const bool url = (flags & 1) != 0, ignore_garbage = (flags & 2) != 0;

    kc::Base64StreamDecoder dec(url, ignore_garbage);
    std::string out;
    bool ok = true;
    size_t at = 0;
    while (at < text.size()) {
        chunk_seed = chunk_seed * 1103515245u + 12345u;
        size_t n = 1 + (chunk_seed >> 16) % 7;
        if (n > text.size() - at) n = text.size() - at;
        const size_t before = out.size();
        const bool fed = dec.feed(text.data() + at, n, out);
        if (!ok) FUZZ_CHECK(!fed && out.size() == before);  // nothing after a fault
        ok = ok && fed;
        at += n;
    }
    if (ok) ok = dec.finish(out);
    else FUZZ_CHECK(!dec.finish(out));

    const Model m = model(text, url, ignore_garbage);
    FUZZ_CHECK(ok == m.ok);
    FUZZ_CHECK(out == m.bytes);
    return 0;
}
