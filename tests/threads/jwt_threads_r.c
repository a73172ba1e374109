/* Sixteen threads mint and verify tokens at once through the reentrant
 * token functions, each with its own key (NUL bytes included) and its own
 * subject, and no lock anywhere: every token must come back to the thread
 * that minted it with that thread's subject, verify under its key and be
 * refused under a neighbour's. The thirteen-interface functions share a token
 * buffer and an error text; these must not share anything.
 *
 *   jwt_threads_r [ROUNDS]   (default 2000 per thread)
 * Prints the counts and exits 1 on any crossed token or wrong result. */
#include <inttypes.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "keldo_crypto.h"

#define THREADS 16

struct worker {
    int index;
    long rounds;
    uint8_t key[32];
    char sub[32];
    char email[48];
    long crossed; /* a token that verified with another thread's subject */
    long wrong;   /* any other unexpected result */
    pthread_t thread;
};

static struct worker workers[THREADS];
static pthread_barrier_t start;

static void make_key(uint8_t key[32], int index) {
    uint32_t s = 0x9E3779B9u * (uint32_t)(index + 1);
    for (int i = 0; i < 32; ++i) {
        s = s * 1103515245u + 12345u;
        key[i] = (uint8_t)(s >> 16);
    }
    key[3] = 0; /* every key holds NUL bytes */
    key[17] = 0;
    key[31] = (uint8_t)index;
}

static void *run(void *arg) {
    struct worker *w = arg;
    const struct worker *other = &workers[(w->index + 1) % THREADS];
    char token[KELDO_JWT_TOKEN_MAX];
    char sub[64], email[128];
    pthread_barrier_wait(&start);
    for (long r = 0; r < w->rounds; ++r) {
        uint64_t size = 0;
        int32_t rc = keldo_jwt_mint_r(w->key, sizeof w->key, w->sub, w->email, 600, token,
                                      sizeof token, &size);
        if (rc != KELDO_OK || size != strlen(token) + 1) {
            ++w->wrong;
            continue;
        }
        int64_t exp = 0;
        rc = keldo_jwt_verify_r(w->key, sizeof w->key, token, sub, email, &exp);
        if (rc != KELDO_OK) {
            ++w->wrong;
        } else if (strcmp(sub, w->sub) != 0 || strcmp(email, w->email) != 0) {
            ++w->crossed;
        }
        /* Under the neighbour's key: a signature refusal, with its text. */
        rc = keldo_jwt_verify_r(other->key, sizeof other->key, token, NULL, NULL, NULL);
        if (rc != KELDO_E_BAD_SIGNATURE ||
            KELDO_STATUS_KIND(rc) != KELDO_KIND_BAD_SIGNATURE ||
            strcmp(keldo_crypto_status_text(rc), "jwt_verify: signature verification failed") != 0)
            ++w->wrong;
    }
    return NULL;
}

int main(int argc, char **argv) {
    long rounds = argc > 1 ? strtol(argv[1], NULL, 10) : 2000;
    if (rounds <= 0) {
        fprintf(stderr, "usage: %s [ROUNDS]\n", argv[0]);
        return 2;
    }
    pthread_barrier_init(&start, NULL, THREADS);
    for (int t = 0; t < THREADS; ++t) {
        struct worker *w = &workers[t];
        w->index = t;
        w->rounds = rounds;
        make_key(w->key, t);
        snprintf(w->sub, sizeof w->sub, "user-%d", t);
        snprintf(w->email, sizeof w->email, "user-%d@example.org", t);
    }
    for (int t = 0; t < THREADS; ++t) {
        if (pthread_create(&workers[t].thread, NULL, run, &workers[t]) != 0) {
            fprintf(stderr, "pthread_create failed\n");
            return 2;
        }
    }
    long crossed = 0, wrong = 0;
    for (int t = 0; t < THREADS; ++t) {
        pthread_join(workers[t].thread, NULL);
        crossed += workers[t].crossed;
        wrong += workers[t].wrong;
    }
    pthread_barrier_destroy(&start);
    printf("%d threads x %ld rounds (mint, verify, verify under another key): "
           "%ld tokens crossed, %ld wrong results\n",
           THREADS, rounds, crossed, wrong);
    return crossed == 0 && wrong == 0 ? 0 : 1;
}
