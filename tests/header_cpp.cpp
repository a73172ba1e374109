// The public header from C++11: included first and twice, and linked against
// the library, which only works if the declarations have C linkage.
#include "keldo_crypto.h"
#include "keldo_crypto.h"

#include <cstdio>
#include <cstring>

int main() {
    // FIPS 180-4, example "abc".
    static const uint8_t abc_digest[32] = {
        0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40, 0xde,
        0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c,
        0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    uint8_t digest[32];
    if (keldo_crypto_sha256("abc", 3, digest) != 0 ||
        std::memcmp(digest, abc_digest, sizeof digest) != 0) {
        std::puts("keldo_crypto_sha256 through the C++ header gave a wrong result");
        return 1;
    }
    if (std::strcmp(keldo_crypto_last_error(), "OK") != 0) {
        std::puts("fresh process: last error is not OK");
        return 1;
    }
    return 0;
}
