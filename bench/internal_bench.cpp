// keldo_bench_internal: SHA-256 with the library's portable backend pinned,
// against OpenSSL. The shipped library picks its backend itself and exports
// no way to choose one, so this program links the library's objects directly
// and pins the backend through the internal call. Run it with OpenSSL's SHA
// extension path masked off (OPENSSL_ia32cap=:~0x20000000) to compare
// portable code with portable code.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <openssl/evp.h>
#include <openssl/sha.h>

#include "backend_select.h"
#include "peers.h"
#include "sha256.h"

namespace {

constexpr char kBackend[] = "portable";
const bench::sized kSizes[] = {{"64B", 64}, {"1KiB", 1024}, {"1MiB", 1 << 20}};

EVP_MD *s_evp_sha256 = nullptr;  // fetched once, as a careful caller would

void ours(const uint8_t *data, size_t len, uint8_t out[32]) {
    sha256_hash(data, len, out);
}
void openssl_sha256(const uint8_t *data, size_t len, uint8_t out[32]) {
    SHA256(data, len, out);
}
void openssl_evp(const uint8_t *data, size_t len, uint8_t out[32]) {
    EVP_Digest(data, len, out, nullptr, s_evp_sha256, nullptr);
}

const struct {
    const char *id, *label;
    bench::digest_fn fn;
} kImpls[] = {{"ours", "keldo-crypto (portable pinned)", ours},
              {"openssl-SHA256", "OpenSSL SHA256()", openssl_sha256},
              {"openssl-EVP", "OpenSSL EVP_Digest", openssl_evp}};

// Both OpenSSL calls must give our digest on every benchmarked input.
bool check() {
    const uint8_t *data = bench::fixed_data().data();
    for (const bench::sized &s : kSizes) {
        uint8_t want[32], got[32];
        ours(data, s.len, want);
        for (const auto &i : kImpls) {
            i.fn(data, s.len, got);
            if (memcmp(want, got, sizeof got) != 0) {
                fprintf(stderr, "keldo_bench_internal: %s differs from ours on sha256/%s\n",
                        i.label, s.name);
                return false;
            }
        }
    }
    return true;
}

void register_hashes() {
    const uint8_t *data = bench::fixed_data().data();
    for (const bench::sized &s : kSizes) {
        for (const auto &i : kImpls) {
            const bench::digest_fn fn = i.fn;
            const size_t len = s.len;
            const char *label = i.label;
            const std::string name = std::string("sha256/") + s.name + "/" + i.id;
            benchmark::RegisterBenchmark(
                name.c_str(), [fn, len, data, label](benchmark::State &st) {
                    st.SetLabel(label);
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
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    // Before the first hash: nothing may run on the backend chosen by default.
    if (sha256_backend_select(kBackend) != 0 ||
        strcmp(sha256_backend_name(), kBackend) != 0) {
        fprintf(stderr, "keldo_bench_internal: cannot pin the %s SHA-256 backend\n",
                kBackend);
        return 1;
    }
    fprintf(stderr, "keldo_bench_internal: SHA-256 backend in use: %s\n",
            sha256_backend_name());

    s_evp_sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (s_evp_sha256 == nullptr) {
        fprintf(stderr, "keldo_bench_internal: OpenSSL has no SHA256\n");
        return 1;
    }
    if (!check()) {
        fprintf(stderr, "keldo_bench_internal: stopping: OpenSSL does not do the same work as ours\n");
        return 1;
    }
    fprintf(stderr, "keldo_bench_internal: OpenSSL gives the same digests as ours\n");

    benchmark::AddCustomContext("cpu_model", bench::cpu_model());
    const char *cap = getenv("OPENSSL_ia32cap");
    benchmark::AddCustomContext("openssl_ia32cap", cap != nullptr ? cap : "");
    benchmark::AddCustomContext("sha256_backend", sha256_backend_name());

    register_hashes();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    EVP_MD_free(s_evp_sha256);
    return 0;
}
