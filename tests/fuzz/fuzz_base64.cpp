// Base64 and base64url: the decoders against a model of the leniency rules,
// with exactly sized, guarded output buffers; the encoders against the model,
// OpenSSL and their own decoders.
//
// Input: one flag byte (bit 0 alphabet, bits 1-2 how the capacity is chosen),
// one capacity byte, then the text to decode / the bytes to encode.
#include <openssl/evp.h>

#include <string>

#include "codec/base64.h"
#include "fuzz_support.h"
#include "keldo_crypto.h"

namespace {

using fuzz::Guarded;

// The capacity to offer for a result of `need` bytes: exact, one short,
// somewhat larger, or whatever the input says.
uint64_t pick_capacity(uint8_t flags, uint8_t param, uint64_t need) {
    switch ((flags >> 1) & 3) {
    case 0: return need;
    case 1: return need > 0 ? need - 1 : 0;
    case 2: return need + param % 8;
    default: return param;
    }
}

// Checks one decoder call against the model: result, output bytes, the
// untouched rest of the buffer and out_len.
void check_decode(int32_t rc, const fuzz::DecodeModel &m, const Guarded &out,
                  uint64_t out_len, uint64_t sentinel) {
    if (m.ok) {
        FUZZ_CHECK(rc == 0);
        FUZZ_CHECK(out_len == m.out_len);
        FUZZ_CHECK(m.bytes.size() == m.out_len);
    } else {
        FUZZ_CHECK(rc == -1);
        FUZZ_CHECK(out_len == sentinel);
    }
    FUZZ_CHECK(m.bytes.empty() ||
               std::memcmp(out.data(), m.bytes.data(), m.bytes.size()) == 0);
    FUZZ_CHECK(out.untouched_from(m.bytes.size()));
}

void decode_text(const std::vector<uint8_t> &raw, bool url, uint8_t flags,
                 uint8_t param) {
    // The exports read up to the first NUL, as a C caller's text ends there.
    std::string text(raw.begin(), raw.end());
    text = text.c_str();
    const auto *t = reinterpret_cast<const uint8_t *>(text.data());
    const uint64_t full = fuzz::model_decode(t, text.size(), url, UINT64_MAX).out_len;
    const uint64_t cap = pick_capacity(flags, param, full);
    const fuzz::DecodeModel m = fuzz::model_decode(t, text.size(), url, cap);

    const std::string before = keldo_crypto_last_error();
    Guarded out(cap);
    constexpr uint64_t kSentinel = 0xDEADBEEFCAFEF00Dull;
    uint64_t out_len = kSentinel;
    int32_t rc = url ? keldo_crypto_base64url_decode(text.c_str(), out.data(), cap, &out_len)
                     : keldo_crypto_base64_decode(text.c_str(), out.data(), cap, &out_len);
    check_decode(rc, m, out, out_len, kSentinel);
    const std::string after = keldo_crypto_last_error();
    if (rc == 0)
        FUZZ_CHECK(after == before);
    else
        FUZZ_CHECK(after == (url ? "keldo_crypto_base64url_decode: decode failed or buffer too small"
                                 : "keldo_crypto_base64_decode: decode failed or buffer too small"));
}

// The counted decoder used by token verification: every byte, NULs
// included, is part of the text.
void decode_counted(const std::vector<uint8_t> &raw, bool url, uint8_t flags,
                    uint8_t param) {
    const uint8_t *t = raw.data();
    const uint64_t full = fuzz::model_decode(t, raw.size(), url, UINT64_MAX).out_len;
    const uint64_t cap = pick_capacity(flags, param, full);
    const fuzz::DecodeModel m = fuzz::model_decode(t, raw.size(), url, cap);
    Guarded out(cap);
    constexpr uint64_t kSentinel = 7;
    uint64_t out_len = kSentinel;
    // A private copy of exactly the counted size: reading past it is a bug.
    std::vector<char> copy(raw.begin(), raw.end());
    int32_t rc = base64_decode_n(copy.empty() ? "" : copy.data(), copy.size(),
                                 out.data(), cap, &out_len, url ? 1 : 0);
    check_decode(rc, m, out, out_len, kSentinel);
}

void encode(const std::vector<uint8_t> &data, bool url) {
    const std::string expected = fuzz::model_encode(data.data(), data.size(), url);
    const uint8_t *in = data.empty() ? nullptr : data.data();

    if (!url) {
        // OpenSSL writes the standard form and its NUL.
        std::vector<unsigned char> ref(4 * ((data.size() + 2) / 3) + 1);
        int n = EVP_EncodeBlock(ref.data(), fuzz::nonnull(in), int(data.size()));
        FUZZ_CHECK(n >= 0 && std::string(reinterpret_cast<char *>(ref.data()), size_t(n)) ==
                                 expected);
    }

    // One byte short of the text and its NUL: refused, nothing written.
    {
        Guarded out(expected.size());
        int32_t rc = url ? keldo_crypto_base64url_encode(in, data.size(), out.text(), out.size())
                         : keldo_crypto_base64_encode(in, data.size(), out.text(), out.size());
        FUZZ_CHECK(rc == -1);
        FUZZ_CHECK(out.untouched_from(0));
    }
    Guarded out(expected.size() + 1);
    int32_t rc = url ? keldo_crypto_base64url_encode(in, data.size(), out.text(), out.size())
                     : keldo_crypto_base64_encode(in, data.size(), out.text(), out.size());
    FUZZ_CHECK(rc == 0);
    FUZZ_CHECK(std::memcmp(out.text(), expected.c_str(), expected.size() + 1) == 0);

    // Round trip through the matching decoder, and through the URL-safe one,
    // which takes both alphabets.
    for (int decode_url = url ? 1 : 0; decode_url <= 1; ++decode_url) {
        Guarded back(data.size());
        uint64_t back_len = 0;
        FUZZ_CHECK(base64_decode(out.text(), back.data(), back.size(), &back_len,
                                 decode_url) == 0);
        FUZZ_CHECK(back_len == data.size());
        FUZZ_CHECK(data.empty() || std::memcmp(back.data(), data.data(), data.size()) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Reader r(data, size);
    const uint8_t flags = r.byte();
    const uint8_t param = r.byte();
    const bool url = (flags & 1) != 0;
    const std::vector<uint8_t> rest = r.rest();

    decode_text(rest, url, flags, param);
    decode_counted(rest, url, flags, param);
    encode(rest, url);
    return 0;
}
