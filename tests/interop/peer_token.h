// HS256 token pieces built with OpenSSL (HMAC, EVP_EncodeBlock,
// EVP_DecodeBlock) instead of the library's own SHA-256 and Base64, so a
// bug shared by minting and verification cannot hide in the tests.
#pragma once

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <optional>
#include <string>
#include <vector>

namespace peer {

// Standard Base64 by OpenSSL, turned into unpadded base64url.
inline std::string b64url(const std::string &bytes) {
    std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1);
    int n = EVP_EncodeBlock(out.data(),
                            reinterpret_cast<const unsigned char *>(bytes.data()),
                            static_cast<int>(bytes.size()));
    std::string text(reinterpret_cast<const char *>(out.data()), static_cast<size_t>(n));
    while (!text.empty() && text.back() == '=') text.pop_back();
    for (char &c : text) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    return text;
}

// Strict unpadded base64url decoding; nullopt for anything else.
inline std::optional<std::string> b64url_decode(std::string text) {
    if (text.size() % 4 == 1) return std::nullopt;
    for (char &c : text) {
        if (c == '+' || c == '/' || c == '=') return std::nullopt;
        if (c == '-') c = '+';
        if (c == '_') c = '/';
    }
    size_t pad = (4 - text.size() % 4) % 4;
    text.append(pad, '=');
    std::vector<unsigned char> out(3 * (text.size() / 4) + 1);
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char *>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0) return std::nullopt;
    // EVP_DecodeBlock counts the bytes that the padding stands for.
    return std::string(reinterpret_cast<const char *>(out.data()),
                       static_cast<size_t>(n) - pad);
}

// The header segment every minted token carries.
inline const std::string kHeader = b64url(R"({"alg":"HS256","typ":"JWT"})");

inline std::string hmac_sha256(const std::string &key, const std::string &data) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int mac_len = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char *>(data.data()), data.size(), mac, &mac_len);
    return std::string(reinterpret_cast<const char *>(mac), mac_len);
}

// The signature segment for a signing input.
inline std::string signature(const std::string &secret, const std::string &signing_input) {
    return b64url(hmac_sha256(secret, signing_input));
}

// header.payload.signature over an already encoded payload segment.
inline std::string sign_segments(const std::string &secret, const std::string &payload_segment,
                                 const std::string &header_segment = kHeader) {
    std::string input = header_segment + "." + payload_segment;
    return input + "." + signature(secret, input);
}

// A signed token carrying json as its payload.
inline std::string sign_json(const std::string &secret, const std::string &json,
                             const std::string &header_segment = kHeader) {
    return sign_segments(secret, b64url(json), header_segment);
}

struct Segments {
    std::string header, payload, signature;
};

// Splits at the two dots; nullopt unless there are exactly two.
inline std::optional<Segments> split(const std::string &token) {
    size_t d1 = token.find('.');
    if (d1 == std::string::npos) return std::nullopt;
    size_t d2 = token.find('.', d1 + 1);
    if (d2 == std::string::npos || token.find('.', d2 + 1) != std::string::npos)
        return std::nullopt;
    return Segments{token.substr(0, d1), token.substr(d1 + 1, d2 - d1 - 1),
                    token.substr(d2 + 1)};
}

}  // namespace peer
