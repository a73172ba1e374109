// Faults the constant-time check must catch, kept out of the library: an
// early-exit comparison (a branch on secret bytes), a table lookup indexed
// by a secret byte, and the library's table-driven Base64 encoder given a
// secret. Run under memcheck, each must be reported; the
// tests that run this program pass only when the report appears.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "codec/base64.h"
#include "platform/ct_check.h"

namespace {

// What a naive memcmp does: stops at the first difference.
__attribute__((noinline)) int early_exit_compare(const uint8_t *a, const uint8_t *b,
                                                 size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return 1;
    return 0;
}

// What a table-driven S-box or Base64 decoder does: loads at a secret index.
__attribute__((noinline)) uint8_t table_lookup(const uint8_t *secret_bytes, size_t n) {
    static const uint8_t table[256] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t acc = 0;
    for (size_t i = 0; i < n; ++i) acc = uint8_t(acc ^ table[secret_bytes[i]]);
    return acc;
}

}  // namespace

int main(int argc, char **argv) {
    uint8_t a[32], b[32];
    memset(a, 0x11, sizeof a);
    memset(b, 0x11, sizeof b);
    KELDO_CT_SECRET(a, sizeof a);
    KELDO_CT_SECRET(b, sizeof b);
    int r = 0;
    if (argc > 1 && strcmp(argv[1], "early-exit") == 0) {
        r = early_exit_compare(a, b, sizeof a);
    } else if (argc > 1 && strcmp(argv[1], "table-index") == 0) {
        r = table_lookup(a, sizeof a);
    } else if (argc > 1 && strcmp(argv[1], "table-base64") == 0) {
        // The library's general Base64 encoder looks its characters up in
        // an alphabet table: fine for public data, reported for a key. This
        // is why keys are encoded by base64_ct_encode.
        char text[45];
        r = base64_encode(a, sizeof a, text, sizeof text, 0);
        KELDO_CT_DECLASSIFY(text, sizeof text);
    } else {
        fprintf(stderr, "usage: ct_canary early-exit|table-index|table-base64\n");
        return 2;
    }
    r = keldo_ct_public(r);
    printf("canary result %d\n", r);
    return 0;
}
