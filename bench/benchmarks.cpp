// Registration of every case. Names are "<operation>/<implementation>";
// the label is the implementation as the report prints it, and the counter
// "units" (where present) is how many units of work one call does, so the
// report can give the time per unit (PBKDF2: per iteration).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "peers.h"

namespace bench {

namespace {

template <class Fn>
void add(const std::string &op, const char *impl, const char *label, Fn &&fn) {
    const std::string name = op + "/" + impl;
    benchmark::RegisterBenchmark(name.c_str(), [label, fn](benchmark::State &st) {
        st.SetLabel(label);
        fn(st);
    });
}

void register_hashes() {
    const uint8_t *data = fixed_data().data();
    const struct {
        const char *id, *label;
        digest_fn fn;
    } impls[] = {{"ours", "keldo-crypto", ours_sha256},
                 {"openssl-SHA256", "OpenSSL SHA256()", openssl_sha256},
                 {"openssl-EVP", "OpenSSL EVP_Digest", openssl_evp_sha256},
                 {"libsodium", "libsodium", sodium_sha256}};
    for (const sized &s : kSha256Sizes) {
        for (const auto &i : impls) {
            const digest_fn fn = i.fn;
            const size_t len = s.len;
            add(std::string("sha256/") + s.name, i.id, i.label,
                [fn, len, data](benchmark::State &st) {
                    uint8_t out[32];
                    for (auto _ : st) {
                        fn(data, len, out);
                        benchmark::DoNotOptimize(out);
                        benchmark::ClobberMemory();
                    }
                    st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(len));
                });
        }
    }

    const uint8_t *key = data + 4096;
    const uint8_t *msg = data + 8192;
    const struct {
        const char *id, *label;
        mac_fn fn;
    } macs[] = {{"ours", "keldo-crypto", ours_hmac},
                {"openssl-HMAC", "OpenSSL HMAC()", openssl_hmac},
                {"libsodium", "libsodium", sodium_hmac}};
    for (const auto &m : macs) {
        const mac_fn fn = m.fn;
        add("hmac-sha256/100B", m.id, m.label, [fn, key, msg](benchmark::State &st) {
            uint8_t out[32];
            for (auto _ : st) {
                fn(key, msg, kHmacMessageLen, out);
                benchmark::DoNotOptimize(out);
                benchmark::ClobberMemory();
            }
        });
    }
}

void register_pbkdf2() {
    const uint8_t *data = fixed_data().data();
    const uint8_t *salt = data + 12288;
    const struct {
        const char *op;
        size_t pw_len;
        uint32_t iterations;
        size_t out_len;
    } cases[] = {
        {"pbkdf2/32B-out", kPbkdf2PasswordLen, kPbkdf2Iterations, 32},
        {"pbkdf2/64B-out", kPbkdf2PasswordLen, kPbkdf2Iterations, 64},
        {"pbkdf2/32B-out-1MiB-password", kPbkdf2LongPasswordLen,
         kPbkdf2LongPasswordIterations, 32},
    };
    const struct {
        const char *id, *label;
        kdf_fn fn;
    } impls[] = {{"ours", "keldo-crypto", ours_pbkdf2},
                 {"openssl", "OpenSSL PKCS5_PBKDF2_HMAC", openssl_pbkdf2}};
    for (const auto &c : cases) {
        for (const auto &i : impls) {
            const kdf_fn fn = i.fn;
            const auto cs = c;
            add(c.op, i.id, i.label, [fn, cs, data, salt](benchmark::State &st) {
                uint8_t out[64];
                for (auto _ : st) {
                    fn(data, cs.pw_len, salt, kPbkdf2SaltLen, cs.iterations, out,
                       cs.out_len);
                    benchmark::DoNotOptimize(out);
                    benchmark::ClobberMemory();
                }
                st.counters["units"] = double(cs.iterations);
            });
        }
    }
}

void register_base64() {
    const uint8_t *data = fixed_data().data();
    const struct {
        const char *name;
        encode_fn ours_enc, peer_enc;
        decode_fn ours_dec, peer_dec;
        const char *peer_id, *peer_enc_label, *peer_dec_label;
    } codecs[] = {
        {"base64", ours_b64_encode, openssl_b64_encode, ours_b64_decode,
         openssl_b64_decode, "openssl", "OpenSSL EVP_EncodeBlock",
         "OpenSSL EVP_DecodeBlock"},
        {"base64url", ours_b64url_encode, openssl_b64url_encode, ours_b64url_decode,
         openssl_b64url_decode, "openssl-swap", "OpenSSL EVP_EncodeBlock+swap",
         "OpenSSL EVP_DecodeBlock+swap"},
    };
    for (const auto &c : codecs) {
        for (const sized &s : kBase64Sizes) {
            const size_t len = s.len;
            const size_t inputs = base64_inputs(len);
            const size_t text_size = len / 3 * 4 + 8;
            // The decoders read the texts the encoders write (the start-up
            // check has shown ours and OpenSSL's are identical), one per
            // input, text_size apart.
            auto texts = std::make_shared<std::vector<char>>(text_size * inputs);
            size_t text_len = 0;
            for (size_t k = 0; k < inputs; ++k)
                text_len = c.ours_enc(data + k * len, len, texts->data() + k * text_size,
                                      text_size);

            const struct {
                const char *id, *label;
                encode_fn enc;
                decode_fn dec;
                const char *dec_label;
            } impls[] = {{"ours", "keldo-crypto", c.ours_enc, c.ours_dec, "keldo-crypto"},
                         {c.peer_id, c.peer_enc_label, c.peer_enc, c.peer_dec,
                          c.peer_dec_label}};
            for (const auto &i : impls) {
                const encode_fn enc = i.enc;
                add(std::string(c.name) + "-encode/" + s.name, i.id, i.label,
                    [enc, len, inputs, text_size, data](benchmark::State &st) {
                        std::vector<char> out(text_size);
                        size_t k = 0;
                        for (auto _ : st) {
                            benchmark::DoNotOptimize(
                                enc(data + k * len, len, out.data(), out.size()));
                            benchmark::ClobberMemory();
                            k = k + 1 == inputs ? 0 : k + 1;
                        }
                        st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(len));
                    });
            }
            for (const auto &i : impls) {
                const decode_fn dec = i.dec;
                add(std::string(c.name) + "-decode/" + s.name, i.id, i.dec_label,
                    [dec, len, inputs, texts, text_size, text_len](benchmark::State &st) {
                        std::vector<uint8_t> out(len + 8);
                        size_t k = 0;
                        for (auto _ : st) {
                            benchmark::DoNotOptimize(dec(texts->data() + k * text_size,
                                                         text_len, out.data(), out.size()));
                            benchmark::ClobberMemory();
                            k = k + 1 == inputs ? 0 : k + 1;
                        }
                        st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(len));
                    });
            }
        }
    }
}

void register_uuids() {
    const struct {
        const char *id, *label;
        uuid_fn fn;
    } impls[] = {{"ours", "keldo-crypto", ours_uuid},
                 {"libuuid", "libuuid", libuuid_uuid}};
    for (const auto &i : impls) {
        const uuid_fn fn = i.fn;
        add("uuid-v4", i.id, i.label, [fn](benchmark::State &st) {
            char out[37];
            for (auto _ : st) {
                fn(out);
                benchmark::DoNotOptimize(out);
                benchmark::ClobberMemory();
            }
        });
    }
}

void register_tokens() {
    const struct {
        const char *id, *label;
        mint_fn mint;
        verify_fn verify;
    } impls[] = {{"ours", "keldo-crypto", ours_mint, ours_verify},
                 {"ours-1.1", "keldo-crypto 1.1", ours_mint_r, ours_verify_r},
                 {"ours-key", "keldo-crypto 1.2 prepared key", ours_mint_k, ours_verify_k},
                 {"libjwt", "libjwt", libjwt_mint, libjwt_verify}};
    for (const auto &i : impls) {
        const mint_fn mint = i.mint;
        const verify_fn verify = i.verify;
        add("token-mint", i.id, i.label, [mint](benchmark::State &st) {
            for (auto _ : st) {
                const char *t = mint();
                benchmark::DoNotOptimize(t);
                if (t == nullptr) {
                    st.SkipWithError("mint failed");
                    break;
                }
            }
        });
        // Both verify the same token, ours (the start-up check has shown
        // each accepts the other's, with the same claims).
        add("token-verify", i.id, i.label, [verify](benchmark::State &st) {
            const char *t = ours_mint();
            const std::string token = t != nullptr ? t : "";
            verified v{};
            for (auto _ : st) {
                bool ok = verify(token.c_str(), &v);
                benchmark::DoNotOptimize(v);
                if (!ok) {
                    st.SkipWithError("verify refused the token");
                    break;
                }
            }
        });
    }
}

// A ring of four prepared keys: a token under the first key should cost what
// one key costs, one under the fourth about four HMACs more than none.
void register_key_ring() {
    const struct {
        const char *op;
        bool first;
    } cases[] = {{"token-verify-ring4-1st", true}, {"token-verify-ring4-4th", false}};
    for (const auto &c : cases) {
        const bool first = c.first;
        add(c.op, "ours", "keldo-crypto 1.2 ring of 4", [first](benchmark::State &st) {
            const keldo_jwt_key *ring = ring_of_four();
            char token[KELDO_JWT_TOKEN_MAX];
            const token_claims &cl = claims();
            if (ring == nullptr ||
                keldo_jwt_mint_k(&ring[first ? 0 : 3], cl.sub, cl.email, cl.ttl_seconds, token,
                                 sizeof token, nullptr) != KELDO_OK) {
                st.SkipWithError("ring set-up failed");
                return;
            }
            verified v{};
            uint32_t index = 0;
            for (auto _ : st) {
                bool ok = keldo_jwt_verify_k(ring, 4, token, v.sub, v.email, &v.exp, &index) ==
                          KELDO_OK;
                benchmark::DoNotOptimize(v);
                if (!ok || index != (first ? 0u : 3u)) {
                    st.SkipWithError("ring refused the token");
                    break;
                }
            }
        });
    }
}

// Verification throughput with one thread per core against one thread:
// the verifier shares nothing between calls, so it should scale with the
// cores. Wall-clock time, every thread verifying the same token.
void register_token_threads() {
    const int cores = int(std::thread::hardware_concurrency());
    const struct {
        const char *id, *label;
        verify_fn verify;
    } impls[] = {{"ours", "keldo-crypto", ours_verify},
                 {"ours-1.1", "keldo-crypto 1.1", ours_verify_r},
                 {"libjwt", "libjwt", libjwt_verify}};
    for (const auto &i : impls) {
        const verify_fn verify = i.verify;
        const char *label = i.label;
        auto *b = benchmark::RegisterBenchmark(
            (std::string("token-verify-threads/") + i.id).c_str(),
            [verify, label](benchmark::State &st) {
                st.SetLabel(label);
                static std::string token;
                if (st.thread_index() == 0) {
                    const char *t = ours_mint();
                    token = t != nullptr ? t : "";
                }
                verified v{};
                for (auto _ : st) {
                    bool ok = verify(token.c_str(), &v);
                    benchmark::DoNotOptimize(v);
                    if (!ok) {
                        st.SkipWithError("verify refused the token");
                        break;
                    }
                }
                st.SetItemsProcessed(int64_t(st.iterations()));
            });
        b->Threads(1)->UseRealTime();
        if (cores > 1) b->Threads(cores);
    }
}

}  // namespace

void register_benchmarks() {
    register_hashes();
    register_pbkdf2();
    register_base64();
    register_uuids();
    register_tokens();
    register_key_ring();
    register_token_threads();
}

}  // namespace bench
