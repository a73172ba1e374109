/*
 * keldo_example: a tour of libkeldo_crypto from a plain C host.
 *
 *   keldo_example [TEXT]
 *
 * Hashes TEXT (default "hello, keldo"), then shows HMAC, a stored password
 * hash and its check, Base64, a UUID and a signed token. Every call is
 * checked the way a real host would: by its result first, and only after a
 * failure by reading keldo_crypto_last_error().
 */
#include <keldo_crypto.h>

#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

/* Demonstration values. A real host keeps its token secret out of the
 * source (an environment variable, a secrets store) and makes it long and
 * random. */
static const char token_secret[] = "example secret, do not use in production";
static const char hmac_key[] = "example HMAC key";

/* PBKDF2 cost: 600000 iterations is the current common recommendation for
 * PBKDF2-HMAC-SHA256 password storage. (Sanitizer builds lower it: they
 * run many times slower and only the flow matters there.) */
#ifndef PBKDF2_ITERATIONS
#define PBKDF2_ITERATIONS 600000u
#endif
#define SALT_LEN 16
#define HASH_LEN 32

static int failures = 0;

/* Reports a call that should have worked, with the library's reason. */
static void unexpected(const char *what) {
    printf("  UNEXPECTED: %s failed: %s\n", what, keldo_crypto_last_error());
    failures++;
}

static void print_hex(const char *label, const uint8_t *bytes, size_t len) {
    size_t i;
    printf("  %-10s ", label);
    for (i = 0; i < len; i++) printf("%02x", bytes[i]);
    printf("\n");
}

/* The salt must be unpredictable and unique per password, so it comes from
 * the operating system. (The library's UUIDs are random too, but a UUID is
 * an identifier, not a salt: six of its bits are fixed.) */
static int random_salt(uint8_t *salt, size_t len) {
    FILE *f = fopen("/dev/urandom", "rb");
    size_t got;
    if (f == NULL) return -1;
    got = fread(salt, 1, len, f);
    fclose(f);
    return got == len ? 0 : -1;
}

/* Builds "$pbkdf2-sha256$i=<iterations>$<salt>$<hash>", salt and hash in
 * standard Base64: the form in which a host would store the password. */
static int make_password_hash(const char *password, const uint8_t *salt,
                              uint64_t salt_len, uint32_t iterations,
                              char *out, size_t out_size) {
    uint8_t derived[HASH_LEN];
    char salt_b64[64], derived_b64[64];
    int n;

    if (keldo_crypto_pbkdf2_sha256(password, strlen(password), salt, salt_len,
                                   iterations, derived, sizeof derived) != 0 ||
        keldo_crypto_base64_encode(salt, salt_len, salt_b64, sizeof salt_b64) != 0 ||
        keldo_crypto_base64_encode(derived, sizeof derived, derived_b64,
                                   sizeof derived_b64) != 0)
        return -1;
    n = snprintf(out, out_size, "$pbkdf2-sha256$i=%" PRIu32 "$%s$%s", iterations,
                 salt_b64, derived_b64);
    return n > 0 && (size_t)n < out_size ? 0 : -1;
}

/* Checks a password against a stored hash: derive again with the stored
 * salt and cost, then compare the two strings in constant time.
 * Returns 0 on a match, 1 otherwise. */
static int check_password(const char *stored, const char *password) {
    uint32_t iterations;
    char salt_b64[64], candidate[160];
    uint8_t salt[48];
    uint64_t salt_len;

    if (sscanf(stored, "$pbkdf2-sha256$i=%" SCNu32 "$%63[^$]$", &iterations,
               salt_b64) != 2 ||
        keldo_crypto_base64_decode(salt_b64, salt, sizeof salt, &salt_len) != 0 ||
        make_password_hash(password, salt, salt_len, iterations, candidate,
                           sizeof candidate) != 0)
        return 1;
    return keldo_verify_password_hash(stored, candidate);
}

static void show_sha256(const char *text) {
    uint8_t digest[32];

    printf("SHA-256\n");
    printf("  text:      \"%s\"\n", text);
    if (keldo_crypto_sha256(text, strlen(text), digest) == 0)
        print_hex("sha256:", digest, sizeof digest);
    else
        unexpected("keldo_crypto_sha256");

    /* A refused call: the result says that it failed, the last-error text
     * says why. */
    if (keldo_crypto_sha256(text, strlen(text), NULL) == -1)
        printf("  refused:   keldo_crypto_sha256 without an output buffer: %s\n",
               keldo_crypto_last_error());
    else
        unexpected("refusing a null output buffer");
}

/* The two alphabets differ in two characters and in the padding. */
static void show_alphabets(void) {
    static const uint8_t bytes[4] = {0xfb, 0xef, 0xbe, 0xff};
    char b64[16], b64url[16];

    if (keldo_crypto_base64_encode(bytes, sizeof bytes, b64, sizeof b64) != 0 ||
        keldo_crypto_base64url_encode(bytes, sizeof bytes, b64url, sizeof b64url) != 0) {
        unexpected("Base64 encoding");
        return;
    }
    printf("  fbefbeff:  base64 %s, base64url %s\n", b64, b64url);
}

static void show_hmac_and_base64(void) {
    static const char message[] = "GET /orders/42";
    uint8_t mac[32], decoded[48];
    char b64[64], b64url[64];
    uint64_t decoded_len;

    printf("\nHMAC-SHA256 and Base64\n");
    printf("  key:       \"%s\"\n", hmac_key);
    printf("  message:   \"%s\"\n", message);
    if (keldo_crypto_hmac_sha256(hmac_key, strlen(hmac_key), message,
                                 strlen(message), mac) != 0) {
        unexpected("keldo_crypto_hmac_sha256");
        return;
    }
    print_hex("hmac:", mac, sizeof mac);

    if (keldo_crypto_base64_encode(mac, sizeof mac, b64, sizeof b64) != 0 ||
        keldo_crypto_base64url_encode(mac, sizeof mac, b64url, sizeof b64url) != 0) {
        unexpected("Base64 encoding");
        return;
    }
    printf("  base64:    %s\n", b64);
    printf("  base64url: %s\n", b64url);
    show_alphabets();

    /* Decoding gives the bytes back; compare MACs only in constant time. */
    if (keldo_crypto_base64url_decode(b64url, decoded, sizeof decoded,
                                      &decoded_len) != 0) {
        unexpected("keldo_crypto_base64url_decode");
        return;
    }
    printf("  decoded:   %" PRIu64 " bytes, %s\n", decoded_len,
           decoded_len == sizeof mac &&
                   keldo_crypto_secure_compare(decoded, mac, sizeof mac) == 0
               ? "equal to the HMAC"
               : "DIFFERENT");

    if (keldo_crypto_base64_decode("not*base64", decoded, sizeof decoded,
                                   &decoded_len) == -1)
        printf("  refused:   decoding \"not*base64\": %s\n", keldo_crypto_last_error());
    else
        unexpected("refusing bad Base64");
}

static void show_password_hash(void) {
    static const char password[] = "correct horse battery staple";
    uint8_t salt[SALT_LEN];
    char stored[160];

    printf("\nPassword hash (PBKDF2-HMAC-SHA256, %u iterations, %d-byte salt)\n",
           PBKDF2_ITERATIONS, SALT_LEN);
    if (random_salt(salt, sizeof salt) != 0) {
        printf("  UNEXPECTED: no random salt from /dev/urandom\n");
        failures++;
        return;
    }
    if (make_password_hash(password, salt, sizeof salt, PBKDF2_ITERATIONS, stored,
                           sizeof stored) != 0) {
        unexpected("making the password hash");
        return;
    }
    printf("  password:  \"%s\"\n", password);
    printf("  stored:    %s\n", stored);

    if (check_password(stored, password) == 0)
        printf("  check:     the same password matches\n");
    else
        unexpected("checking the right password");

    if (check_password(stored, "Correct horse battery staple") == 1)
        printf("  check:     another password does not: %s\n",
               keldo_crypto_last_error());
    else
        unexpected("refusing the wrong password");
}

static void show_uuid(void) {
    char uuid[37];

    printf("\nUUID\n");
    if (keldo_crypto_uuid_generate(uuid) == 0)
        printf("  uuid:      %s\n", uuid);
    else
        unexpected("keldo_crypto_uuid_generate");
}

static void show_token(void) {
    char sub[64], email[128], when[32];
    int64_t exp;
    const char *minted;
    char token[4096];
    time_t exp_time;
    struct tm *exp_tm;

    printf("\nToken (HS256 JWT)\n");
    minted = keldo_jwt_mint(token_secret, "user-42", "ada@example.org", 3600);
    if (minted == NULL) {
        unexpected("keldo_jwt_mint");
        return;
    }
    /* The returned text lives in a library buffer that the next mint
     * overwrites: keep a copy. */
    snprintf(token, sizeof token, "%s", minted);
    printf("  token:     %s\n", token);

    if (keldo_jwt_verify(token_secret, token, sub, email, &exp) == 0) {
        exp_time = (time_t)exp;
        exp_tm = gmtime(&exp_time);
        if (exp_tm == NULL || strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", exp_tm) == 0)
            snprintf(when, sizeof when, "?");
        printf("  verified:  sub=%s email=%s exp=%" PRId64 " (%s)\n", sub, email, exp,
               when);
    } else {
        unexpected("keldo_jwt_verify");
    }

    if (keldo_jwt_verify("some other secret", token, sub, email, &exp) == -1)
        printf("  refused:   another secret: %s\n", keldo_crypto_last_error());
    else
        unexpected("refusing a token signed with another secret");
}

int main(int argc, char **argv) {
    const char *text = argc > 1 ? argv[1] : "hello, keldo";

    if (argc > 2) {
        fprintf(stderr, "usage: %s [TEXT]\n", argv[0]);
        return 2;
    }
    show_sha256(text);
    show_hmac_and_base64();
    show_password_hash();
    show_uuid();
    show_token();
    return failures == 0 ? 0 : 1;
}
