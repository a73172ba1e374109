// Random version 4, variant 10 UUIDs (RFC 9562), as lowercase text.
#include "uuid.h"

#include <cstdio>

#include "platform/platform.h"

int32_t uuid_v4_generate(char *out) {
    if (out == nullptr) return -1;
    uint8_t b[16];
    if (platform_random_bytes(b, sizeof b) != 0) return -1;
    b[6] = uint8_t((b[6] & 0x0F) | 0x40);
    b[8] = uint8_t((b[8] & 0x3F) | 0x80);
    snprintf(out, 37,
             "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
             b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10],
             b[11], b[12], b[13], b[14], b[15]);
    return 0;
}
