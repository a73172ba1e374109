// keldo_bench: this library and the libraries a user would pick instead, in
// one process, on the same inputs. Every peer's output is compared with ours
// before anything is timed; a mismatch ends the program.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "peers.h"

namespace bench {
void register_benchmarks();
}

namespace {

// The "model name" line of /proc/cpuinfo, for the report's header.
std::string cpu_model() {
    FILE *f = fopen("/proc/cpuinfo", "r");
    if (f == nullptr) return "unknown";
    char line[512];
    std::string model = "unknown";
    while (fgets(line, sizeof line, f) != nullptr) {
        if (strncmp(line, "model name", 10) != 0) continue;
        const char *colon = strchr(line, ':');
        if (colon == nullptr) continue;
        model = colon + 1;
        while (!model.empty() && (model.front() == ' ' || model.front() == '\t'))
            model.erase(0, 1);
        while (!model.empty() && (model.back() == '\n' || model.back() == ' '))
            model.pop_back();
        break;
    }
    fclose(f);
    return model;
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    if (!bench::init_peers() || !bench::check_peers()) {
        fprintf(stderr, "keldo_bench: stopping: a peer does not do the same work as ours\n");
        return 1;
    }
    fprintf(stderr, "keldo_bench: every peer gives the same output as ours\n");

    benchmark::AddCustomContext("cpu_model", cpu_model());
    // OpenSSL reads this at load to mask CPU features (the report shows it).
    const char *cap = getenv("OPENSSL_ia32cap");
    benchmark::AddCustomContext("openssl_ia32cap", cap != nullptr ? cap : "");

    bench::register_benchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
