/* Sixteen threads share one key ring, as the workers of a login service do:
 * each mints with a key of the ring chosen by its round and verifies under
 * the whole ring, with its own subject and no lock anywhere. Every token
 * must come back with the thread's subject and the signing key's position.
 * Between runs the ring is rotated (a new key first, the oldest dropped),
 * with every thread stopped, as a host replaces its ring.
 *
 *   jwt_threads_ring [ROUNDS]   (default 1000 per thread and run)
 * Prints the counts and exits 1 on any crossed token or wrong result. */
#include <inttypes.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "keldo_crypto.h"

#define THREADS 16
#define RING 4
#define RUNS 3

struct worker {
    int index;
    long rounds;
    char sub[32];
    long crossed; /* a token that verified with another subject or key position */
    long wrong;   /* any other unexpected result */
    pthread_t thread;
};

static struct worker workers[THREADS];
static keldo_jwt_key ring[RING];
static keldo_jwt_key retired; /* dropped from the ring by the last rotation */
static pthread_barrier_t start;

static void make_secret(uint8_t secret[32], int generation) {
    uint32_t s = 0x9E3779B9u * (uint32_t)(generation + 1);
    for (int i = 0; i < 32; ++i) {
        s = s * 1103515245u + 12345u;
        secret[i] = (uint8_t)(s >> 16);
    }
    secret[5] = 0; /* NUL bytes inside, as random secrets have them */
}

static int prepare(keldo_jwt_key *key, int generation) {
    uint8_t secret[32];
    make_secret(secret, generation);
    return keldo_jwt_key_init(key, secret, sizeof secret);
}

static void *run(void *arg) {
    struct worker *w = arg;
    char token[KELDO_JWT_TOKEN_MAX];
    char sub[64];
    pthread_barrier_wait(&start);
    for (long r = 0; r < w->rounds; ++r) {
        const uint32_t signer = (uint32_t)((w->index + r) % RING);
        int32_t rc = keldo_jwt_mint_k(&ring[signer], w->sub, "e@example.org", 600, token,
                                      sizeof token, NULL);
        if (rc != KELDO_OK) {
            ++w->wrong;
            continue;
        }
        uint32_t index = 99;
        rc = keldo_jwt_verify_k(ring, RING, token, sub, NULL, NULL, &index);
        if (rc != KELDO_OK)
            ++w->wrong;
        else if (strcmp(sub, w->sub) != 0 || index != signer)
            ++w->crossed;
        /* A token of the retired key is a bad signature. */
        if (r % 8 == 0) {
            rc = keldo_jwt_mint_k(&retired, w->sub, "e", 600, token, sizeof token, NULL);
            if (rc != KELDO_OK ||
                keldo_jwt_verify_k(ring, RING, token, NULL, NULL, NULL, NULL) !=
                    KELDO_E_BAD_SIGNATURE)
                ++w->wrong;
        }
    }
    return NULL;
}

int main(int argc, char **argv) {
    long rounds = argc > 1 ? strtol(argv[1], NULL, 10) : 1000;
    if (rounds <= 0) {
        fprintf(stderr, "usage: %s [ROUNDS]\n", argv[0]);
        return 2;
    }
    /* Generations 0..RING-1 make the first ring, newest first; the one
     * before them is the retired key. */
    int newest = RING;
    for (int i = 0; i < RING; ++i)
        if (prepare(&ring[i], newest - i) != KELDO_OK) return 2;
    if (prepare(&retired, 0) != KELDO_OK) return 2;
    long crossed = 0, wrong = 0;
    for (int run_no = 0; run_no < RUNS; ++run_no) {
        pthread_barrier_init(&start, NULL, THREADS);
        for (int t = 0; t < THREADS; ++t) {
            struct worker *w = &workers[t];
            w->index = t;
            w->rounds = rounds;
            w->crossed = w->wrong = 0;
            snprintf(w->sub, sizeof w->sub, "user-%d-%d", run_no, t);
            if (pthread_create(&w->thread, NULL, run, w) != 0) {
                fprintf(stderr, "pthread_create failed\n");
                return 2;
            }
        }
        for (int t = 0; t < THREADS; ++t) {
            pthread_join(workers[t].thread, NULL);
            crossed += workers[t].crossed;
            wrong += workers[t].wrong;
        }
        pthread_barrier_destroy(&start);
        /* Rotate: the oldest key retires, a new one comes first. */
        retired = ring[RING - 1];
        memmove(&ring[1], &ring[0], (RING - 1) * sizeof ring[0]);
        if (prepare(&ring[0], ++newest) != KELDO_OK) return 2;
    }
    for (int i = 0; i < RING; ++i) keldo_jwt_key_wipe(&ring[i]);
    keldo_jwt_key_wipe(&retired);
    printf("%d threads x %ld rounds x %d runs on a ring of %d keys, rotated between runs: "
           "%ld tokens crossed, %ld wrong results\n",
           THREADS, rounds, RUNS, RING, crossed, wrong);
    return crossed == 0 && wrong == 0 ? 0 : 1;
}
