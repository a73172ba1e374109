/* A program built for the MSVC ABI (clang --target=x86_64-pc-windows-msvc,
 * lld-link) against keldo_crypto.lib from the Windows package. Without
 * MSVC's C runtime, which Linux does not have: it is its own entry point
 * and takes the few kernel32 functions it needs from an import library
 * made beside it. It also prints the version of the libyyjson.dll that
 * keldo_crypto.dll loaded. */
#include <keldo_crypto.h>

#include <stddef.h>
#include <stdint.h>

typedef void *handle;
__declspec(dllimport) handle GetStdHandle(uint32_t which);
__declspec(dllimport) int WriteFile(handle file, const void *data, uint32_t size,
                                    uint32_t *written, void *overlapped);
__declspec(dllimport) handle GetModuleHandleA(const char *name);
__declspec(dllimport) void *GetProcAddress(handle module, const char *name);
__declspec(dllimport) __declspec(noreturn) void ExitProcess(uint32_t code);

#define STD_OUTPUT_HANDLE ((uint32_t)-11)

static void put(const char *text) {
    uint32_t n = 0, written;
    while (text[n] != '\0') n++;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, n, &written, NULL);
}

static int same(const char *a, const char *b) {
    while (*a != '\0' && *a == *b) a++, b++;
    return *a == *b;
}

static void put_decimal(uint32_t v) {
    char digits[11];
    int i = 10;
    digits[10] = '\0';
    do {
        digits[--i] = (char)('0' + v % 10);
        v /= 10;
    } while (v != 0);
    put(digits + i);
}

static __declspec(noreturn) void fail(const char *what) {
    put("msvc consumer: ");
    put(what);
    put(": ");
    put(keldo_crypto_last_error());
    put("\n");
    ExitProcess(1);
}

void consumer_start(void) {
    /* FIPS 180-4, example "abc". */
    static const uint8_t abc_digest[32] = {
        0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40, 0xde,
        0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c,
        0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    uint8_t digest[32];
    char sub[64], email[128];
    const char *token;
    uint32_t (*yyjson_version)(void);
    uint32_t v;

    if (keldo_crypto_sha256("abc", 3, digest) != 0 ||
        keldo_crypto_secure_compare(digest, abc_digest, 32) != 0)
        fail("wrong SHA-256 of \"abc\"");
    if (keldo_crypto_sha256("abc", 3, NULL) != -1 ||
        !same(keldo_crypto_last_error(), "keldo_crypto_sha256: null output buffer"))
        fail("a refused call did not report itself");
    /* Tokens go through yyjson. */
    token = keldo_jwt_mint("consumer secret", "user-1", "user@example.org", 60);
    if (token == NULL)
        fail("keldo_jwt_mint");
    if (keldo_jwt_verify("consumer secret", token, sub, email, NULL) != 0 ||
        !same(sub, "user-1") || !same(email, "user@example.org"))
        fail("token round trip");
    if (keldo_jwt_verify("another secret", token, sub, email, NULL) != -1)
        fail("a token under another secret was accepted");

    yyjson_version = (uint32_t (*)(void))GetProcAddress(GetModuleHandleA("libyyjson.dll"),
                                                       "yyjson_version");
    if (yyjson_version == NULL)
        fail("libyyjson.dll is not loaded");
    v = yyjson_version();
    put("msvc consumer: ok, with libyyjson.dll ");
    put_decimal(v >> 16);
    put(".");
    put_decimal((v >> 8) & 0xff);
    put(".");
    put_decimal(v & 0xff);
    put("\n");
    ExitProcess(0);
}
