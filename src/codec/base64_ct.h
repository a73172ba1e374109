// Base64 and hex for secret bytes (derived keys, stored password hashes),
// in constant time: characters are computed from 6- and 4-bit values with
// arithmetic masks instead of alphabet tables, and decoding accumulates its
// verdict without branching on a character, so neither the time nor the
// memory addresses touched depend on the bytes. The table-driven codec in
// base64.cpp stays the one for public data; it is several times faster.
#pragma once

#include <cstddef>
#include <cstdint>

// The character pairs for the values 62 and 63.
enum class b64_alphabet {
    standard,  // '+' '/' (RFC 4648 section 4)
    url,       // '-' '_' (RFC 4648 section 5)
    adapted,   // '.' '/' (passlib's "ab64", used in its PBKDF2 strings)
};

// Characters that n bytes encode to: unpadded 4n/3 rounded up, padded
// 4 * ceil(n / 3).
constexpr size_t base64_ct_chars(size_t n, bool pad) {
    return pad ? (n + 2) / 3 * 4 : (4 * n + 2) / 3;
}

// Writes base64_ct_chars(n, pad) characters to out; no terminator.
void base64_ct_encode(const uint8_t *data, size_t n, char *out, b64_alphabet alphabet,
                      bool pad);

// Decodes exactly n bytes from text[0..text_len) in its canonical spelling
// only: text_len must be base64_ct_chars(n, pad), every character from the
// alphabet, '=' exactly where padding belongs and the unused low bits of the
// last character zero, so each byte string has one accepted text. Returns 0
// or -1; the verdict is public, out stays as secret as text was. On -1 out
// holds garbage.
int32_t base64_ct_decode(const char *text, size_t text_len, uint8_t *out, size_t n,
                         b64_alphabet alphabet, bool pad);

// Lowercase hex: writes 2n characters, no terminator.
void hex_ct_encode(const uint8_t *data, size_t n, char *out);

// Decodes 2n lowercase hex digits into n bytes; 0 or -1 (an uppercase or
// other character), as base64_ct_decode.
int32_t hex_ct_decode(const char *text, uint8_t *out, size_t n);
