/* The public header as the first and only include of a strict C program. */
#include "keldo_crypto.h"
#include "keldo_crypto.h"

int main(void) {
    uint8_t digest[32];
    const char *text = keldo_crypto_last_error();
    return keldo_crypto_sha256(text, 2, digest) == 0 ? 0 : 1;
}
