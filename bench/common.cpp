// What keldo_bench and keldo_bench_internal share: the input, so both hash
// the same bytes, and the report's CPU name.
#include <cstdio>
#include <cstring>

#include "peers.h"

namespace bench {

const std::vector<uint8_t> &fixed_data() {
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> d(size_t(1) << 20);
        uint64_t x = 0x6b656c646f2d6265;  // splitmix64
        for (size_t i = 0; i < d.size(); i += 8) {
            uint64_t z = (x += 0x9e3779b97f4a7c15);
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
            z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
            z ^= z >> 31;
            for (size_t k = 0; k < 8 && i + k < d.size(); ++k)
                d[i + k] = uint8_t(z >> (8 * k));
        }
        return d;
    }();
    return data;
}

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

}  // namespace bench
