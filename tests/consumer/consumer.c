/* A program that uses the installed library and nothing else: the header,
 * the shared library and, at run time, its own dependencies. */
#include <keldo_crypto.h>

#include <stdio.h>
#include <string.h>

int main(void) {
    /* FIPS 180-4, example "abc". */
    static const uint8_t abc_digest[32] = {
        0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40, 0xde,
        0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c,
        0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    uint8_t digest[32];
    char sub[64], email[128];
    const char *token;

    if (keldo_crypto_sha256("abc", 3, digest) != 0 ||
        memcmp(digest, abc_digest, sizeof digest) != 0) {
        puts("consumer: wrong SHA-256 of \"abc\"");
        return 1;
    }
    if (keldo_crypto_sha256("abc", 3, NULL) != -1 ||
        strcmp(keldo_crypto_last_error(),
               "keldo_crypto_sha256: null output buffer") != 0) {
        puts("consumer: a refused call did not report itself");
        return 1;
    }
    /* Tokens go through yyjson: the library's own dependency must load. */
    token = keldo_jwt_mint("consumer secret", "user-1", "user@example.org", 60);
    if (token == NULL ||
        keldo_jwt_verify("consumer secret", token, sub, email, NULL) != 0 ||
        strcmp(sub, "user-1") != 0 || strcmp(email, "user@example.org") != 0) {
        printf("consumer: token round trip failed: %s\n", keldo_crypto_last_error());
        return 1;
    }
    puts("consumer: ok");
    return 0;
}
