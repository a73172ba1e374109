// keldo_bench_internal: each SHA-256 and Base64 backend this machine runs,
// pinned in turn, against OpenSSL, and memcpy of the same sizes as the
// ceiling for the codecs. The shipped library picks its backends itself and
// exports no way to choose one, so this program links the library's objects
// and the test-only selection. Run it with OpenSSL's SHA extension path
// masked off (OPENSSL_ia32cap=:~0x20000000) to compare our backends without
// the SHA extensions with OpenSSL's.
//
// Names: "<operation>/ours-<backend>", "<operation>/openssl-...",
// "<operation>/memcpy"; report.py gives each of our backends its own row.
#include <benchmark/benchmark.h>

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend_select.h"
#include "codec/base64.h"
#include "hash/pbkdf2.h"
#include "peers.h"
#include "hash/sha256.h"

namespace {

const bench::sized kSizes[] = {{"64B", 64}, {"1KiB", 1024}, {"1MiB", 1 << 20}};
const bench::sized kCodecSizes[] = {{"32B", 32}, {"64B", 64}, {"1KiB", 1024}, {"1MiB", 1 << 20}};
constexpr uint32_t kIterations = 10000;

EVP_MD *s_evp_sha256 = nullptr;  // fetched once, as a careful caller would

std::vector<std::string> runnable(const char *(*at)(size_t), bool (*runs)(const char *)) {
    std::vector<std::string> names;
    for (size_t i = 0; at(i) != nullptr; ++i)
        if (runs(at(i))) names.emplace_back(at(i));
    return names;
}

void pin_or_skip(benchmark::State &st, int32_t (*select)(const char *), const std::string &name) {
    if (select(name.c_str()) != 0) st.SkipWithError("cannot pin the backend");
}

template <class Fn>
void add(const std::string &name, const std::string &label, Fn fn) {
    benchmark::RegisterBenchmark(name.c_str(), [label, fn](benchmark::State &st) {
        st.SetLabel(label);
        fn(st);
    });
}

void register_sha256(const std::vector<std::string> &backends) {
    const uint8_t *data = bench::fixed_data().data();
    for (const bench::sized &s : kSizes) {
        const size_t len = s.len;
        const std::string op = std::string("sha256/") + s.name;
        auto loop = [len](benchmark::State &st, auto fn) {
            uint8_t out[32];
            for (auto _ : st) {
                fn(out);
                benchmark::DoNotOptimize(out);
                benchmark::ClobberMemory();
            }
            st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(len));
        };
        for (const std::string &b : backends)
            add(op + "/ours-" + b, "keldo-crypto " + b, [=](benchmark::State &st) {
                pin_or_skip(st, sha256_backend_select, b);
                loop(st, [&](uint8_t *out) { sha256_hash(data, len, out); });
            });
        add(op + "/openssl-SHA256", "OpenSSL SHA256()", [=](benchmark::State &st) {
            loop(st, [&](uint8_t *out) { SHA256(data, len, out); });
        });
        add(op + "/openssl-EVP", "OpenSSL EVP_Digest", [=](benchmark::State &st) {
            loop(st, [&](uint8_t *out) { EVP_Digest(data, len, out, nullptr, s_evp_sha256, nullptr); });
        });
    }
    // PBKDF2 per iteration: 32 bytes out is one chain, 64 two.
    const uint8_t *password = data + 4096, *salt = data + 8192;
    for (const size_t out_len : {size_t(32), size_t(64)}) {
        const std::string op = "pbkdf2/" + std::to_string(out_len) + "B-out";
        auto loop = [out_len](benchmark::State &st, auto fn) {
            uint8_t out[64];
            for (auto _ : st) {
                fn(out);
                benchmark::DoNotOptimize(out);
                benchmark::ClobberMemory();
            }
            st.counters["units"] = double(kIterations);
        };
        for (const std::string &b : backends)
            add(op + "/ours-" + b, "keldo-crypto " + b, [=](benchmark::State &st) {
                pin_or_skip(st, sha256_backend_select, b);
                loop(st, [&](uint8_t *out) {
                    pbkdf2_sha256(password, 16, salt, 16, kIterations, out, out_len);
                });
            });
        add(op + "/openssl", "OpenSSL PKCS5_PBKDF2_HMAC", [=](benchmark::State &st) {
            loop(st, [&](uint8_t *out) {
                PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(password), 16, salt, 16,
                                  int(kIterations), EVP_sha256(), int(out_len), out);
            });
        });
    }
}

void register_base64(const std::vector<std::string> &backends) {
    const uint8_t *data = bench::fixed_data().data();
    for (const bench::sized &s : kCodecSizes) {
        const size_t len = s.len;
        const size_t inputs = bench::base64_inputs(len);
        const size_t text_size = (len + 2) / 3 * 4 + 8;
        // One text per input, text_size apart, written by OpenSSL.
        auto texts = std::make_shared<std::vector<char>>(text_size * inputs);
        size_t text_len = 0;
        for (size_t k = 0; k < inputs; ++k)
            text_len = size_t(EVP_EncodeBlock(
                reinterpret_cast<unsigned char *>(texts->data() + k * text_size), data + k * len,
                int(len)));
        auto encode_loop = [=](benchmark::State &st, auto fn) {
            std::vector<char> out(text_size);
            size_t k = 0;
            for (auto _ : st) {
                fn(data + k * len, out.data());
                benchmark::ClobberMemory();
                k = k + 1 == inputs ? 0 : k + 1;
            }
            st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(len));
        };
        auto decode_loop = [=](benchmark::State &st, auto fn) {
            std::vector<uint8_t> out(len + 8);
            size_t k = 0;
            for (auto _ : st) {
                fn(texts->data() + k * text_size, out.data());
                benchmark::ClobberMemory();
                k = k + 1 == inputs ? 0 : k + 1;
            }
            st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(len));
        };
        const std::string enc = std::string("base64-encode/") + s.name;
        const std::string dec = std::string("base64-decode/") + s.name;
        for (const std::string &b : backends) {
            add(enc + "/ours-" + b, "keldo-crypto " + b, [=](benchmark::State &st) {
                pin_or_skip(st, base64_backend_select, b);
                encode_loop(st, [&](const uint8_t *in, char *out) {
                    benchmark::DoNotOptimize(base64_encode(in, len, out, text_size, 0));
                });
            });
            add(dec + "/ours-" + b, "keldo-crypto " + b, [=](benchmark::State &st) {
                pin_or_skip(st, base64_backend_select, b);
                decode_loop(st, [&](const char *text, uint8_t *out) {
                    uint64_t n = 0;
                    benchmark::DoNotOptimize(base64_decode_n(text, text_len, out, len + 8, &n, 0));
                });
            });
        }
        add(enc + "/openssl", "OpenSSL EVP_EncodeBlock", [=](benchmark::State &st) {
            encode_loop(st, [&](const uint8_t *in, char *out) {
                benchmark::DoNotOptimize(
                    EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out), in, int(len)));
            });
        });
        add(dec + "/openssl", "OpenSSL EVP_DecodeBlock", [=](benchmark::State &st) {
            decode_loop(st, [&](const char *text, uint8_t *out) {
                benchmark::DoNotOptimize(EVP_DecodeBlock(
                    out, reinterpret_cast<const unsigned char *>(text), int(text_len)));
            });
        });
        // The ceiling: copying the larger side (the text) once.
        for (const std::string &op : {enc, dec})
            add(op + "/memcpy", "memcpy", [=](benchmark::State &st) {
                encode_loop(st, [&](const uint8_t *in, char *out) {
                    memcpy(out, in, text_len);
                    benchmark::DoNotOptimize(out);
                });
            });
    }
}

// OpenSSL must give our output on every benchmarked input, on every backend.
bool check(const std::vector<std::string> &sha, const std::vector<std::string> &codec) {
    const uint8_t *data = bench::fixed_data().data();
    for (const std::string &b : sha) {
        sha256_backend_select(b.c_str());
        for (const bench::sized &s : kSizes) {
            uint8_t want[32], got[32];
            SHA256(data, s.len, want);
            sha256_hash(data, s.len, got);
            if (memcmp(want, got, 32) != 0) {
                fprintf(stderr, "keldo_bench_internal: sha256/%s differs on %s\n", s.name, b.c_str());
                return false;
            }
        }
        uint8_t want[64], got[64];
        PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(data), 16, data + 16, 16, 100,
                          EVP_sha256(), 64, want);
        pbkdf2_sha256(data, 16, data + 16, 16, 100, got, 64);
        if (memcmp(want, got, 64) != 0) {
            fprintf(stderr, "keldo_bench_internal: pbkdf2 differs on %s\n", b.c_str());
            return false;
        }
    }
    for (const std::string &b : codec) {
        base64_backend_select(b.c_str());
        for (const bench::sized &s : kCodecSizes) {
            std::vector<char> want((s.len + 2) / 3 * 4 + 1), got(want.size());
            EVP_EncodeBlock(reinterpret_cast<unsigned char *>(want.data()), data, int(s.len));
            std::vector<uint8_t> back(s.len);
            uint64_t n = 0;
            if (base64_encode(data, s.len, got.data(), got.size(), 0) != 0 || want != got ||
                base64_decode_n(want.data(), want.size() - 1, back.data(), back.size(), &n, 0) != 0 ||
                n != s.len || memcmp(back.data(), data, s.len) != 0) {
                fprintf(stderr, "keldo_bench_internal: base64/%s differs on %s\n", s.name, b.c_str());
                return false;
            }
        }
    }
    return true;
}

std::string joined(const std::vector<std::string> &names) {
    std::string s;
    for (const std::string &n : names) s += (s.empty() ? "" : " ") + n;
    return s;
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    const std::vector<std::string> sha = runnable(sha256_backend_at, sha256_backend_runs_here);
    const std::vector<std::string> codec = runnable(base64_backend_at, base64_backend_runs_here);
    s_evp_sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (s_evp_sha256 == nullptr) {
        fprintf(stderr, "keldo_bench_internal: OpenSSL has no SHA256\n");
        return 1;
    }
    if (!check(sha, codec)) {
        fprintf(stderr, "keldo_bench_internal: stopping: OpenSSL does not do the same work as ours\n");
        return 1;
    }
    fprintf(stderr, "keldo_bench_internal: OpenSSL gives the same output as every backend\n");

    benchmark::AddCustomContext("cpu_model", bench::cpu_model());
    const char *cap = getenv("OPENSSL_ia32cap");
    benchmark::AddCustomContext("openssl_ia32cap", cap != nullptr ? cap : "");
    benchmark::AddCustomContext("sha256_backends", joined(sha));
    benchmark::AddCustomContext("base64_backends", joined(codec));

    register_sha256(sha);
    register_base64(codec);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    EVP_MD_free(s_evp_sha256);
    return 0;
}
