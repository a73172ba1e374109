// keldo_bench: this library and the libraries a user would pick instead, in
// one process, on the same inputs. Every peer's output is compared with ours
// before anything is timed; a mismatch ends the program.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "peers.h"

namespace bench {
void register_benchmarks();
}

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    if (!bench::init_peers() || !bench::check_peers()) {
        fprintf(stderr, "keldo_bench: stopping: a peer does not do the same work as ours\n");
        return 1;
    }
    fprintf(stderr, "keldo_bench: every peer gives the same output as ours\n");

    benchmark::AddCustomContext("cpu_model", bench::cpu_model());
    // OpenSSL reads this at load to mask CPU features (the report shows it).
    const char *cap = getenv("OPENSSL_ia32cap");
    benchmark::AddCustomContext("openssl_ia32cap", cap != nullptr ? cap : "");

    bench::register_benchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
