// The run-time choice of an accelerated backend, shared by every primitive
// that has one (SHA-256, Base64): what the processor and operating system
// offer, a table of backends ordered best first, a self-test each candidate
// must pass, and the lazy, lock-free publication of the one chosen.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Processor features a backend may need. A vector feature counts only when
// the operating system also saves its registers (XGETBV), so a backend never
// faults on a machine whose CPU has the instructions but whose kernel or
// hypervisor disabled them.
enum cpu_feature : uint32_t {
    cpu_ssse3 = 1u << 0,
    cpu_sse41 = 1u << 1,
    cpu_sha = 1u << 2,          // x86 SHA extensions
    cpu_avx2 = 1u << 3,
    cpu_bmi1 = 1u << 4,
    cpu_bmi2 = 1u << 5,
    cpu_avx512bw = 1u << 6,     // with AVX-512F
    cpu_avx512vbmi = 1u << 7,
    cpu_armv8_sha2 = 1u << 8,   // kernel-reported HWCAP_SHA2
};

// The features of this machine; probed on each call (only the first use of
// each primitive asks).
uint32_t cpu_features();

// One primitive's choice. Backend is a record with at least `name` and
// `needs` (cpu_feature bits); the last entry of the table needs nothing and
// is the reference every other one is tested against. Constant-initialised:
// no code runs at load.
template <class Backend>
struct dispatch_point {
    const Backend *table;
    size_t count;
    bool (*self_test)(const Backend &);
    // Null until first use. Written only with what any detection would
    // produce (or a test's explicit pin), so racing first uses agree and need
    // no lock.
    std::atomic<const Backend *> chosen;
};

template <class Backend>
bool backend_runs_here(const dispatch_point<Backend> &p, const Backend &b) {
    return (b.needs & ~cpu_features()) == 0 && p.self_test(b);
}

template <class Backend>
#if defined(__GNUC__)
__attribute__((noinline, cold))
#endif
const Backend *
detect_backend(dispatch_point<Backend> &p) {
    const Backend *found = &p.table[p.count - 1];
    for (size_t i = 0; i < p.count; ++i) {
        if (backend_runs_here(p, p.table[i])) {
            found = &p.table[i];
            break;
        }
    }
    const Backend *expected = nullptr;
    // A choice made meanwhile (another detection, or a test's pin) stands.
    if (p.chosen.compare_exchange_strong(expected, found, std::memory_order_acq_rel))
        return found;
    return expected;
}

template <class Backend>
inline const Backend *chosen_backend(dispatch_point<Backend> &p) {
    const Backend *b = p.chosen.load(std::memory_order_acquire);
    return b != nullptr ? b : detect_backend(p);
}
