// Backend selection for tests and benchmarks (backend_select.h).
#include "backend_select.h"

#include <cstring>

#include "codec/base64_backend.h"
#include "hash/sha256_backend.h"

namespace {

template <class Backend>
const Backend *find(const dispatch_point<Backend> &p, const char *name) {
    if (name == nullptr) return nullptr;
    for (size_t i = 0; i < p.count; ++i)
        if (strcmp(p.table[i].name, name) == 0) return &p.table[i];
    return nullptr;
}

template <class Backend>
const char *at(const dispatch_point<Backend> &p, size_t i) {
    return i < p.count ? p.table[i].name : nullptr;
}

template <class Backend>
bool runs_here(const dispatch_point<Backend> &p, const char *name) {
    const Backend *b = find(p, name);
    return b != nullptr && backend_runs_here(p, *b);
}

template <class Backend>
bool features_here(const dispatch_point<Backend> &p, const char *name) {
    const Backend *b = find(p, name);
    return b != nullptr && (b->needs & ~cpu_features()) == 0;
}

template <class Backend>
int32_t pin(dispatch_point<Backend> &p, const char *name) {
    const Backend *b = find(p, name);
    if (b == nullptr || !backend_runs_here(p, *b)) return -1;
    p.chosen.store(b, std::memory_order_release);
    return 0;
}

}  // namespace

const char *sha256_backend_at(size_t i) { return at(sha256_dispatch(), i); }
const char *sha256_backend_name() { return chosen_backend(sha256_dispatch())->name; }
int32_t sha256_backend_select(const char *name) { return pin(sha256_dispatch(), name); }
bool sha256_backend_runs_here(const char *name) { return runs_here(sha256_dispatch(), name); }
bool sha256_backend_features_here(const char *name) {
    return features_here(sha256_dispatch(), name);
}

const char *base64_backend_at(size_t i) { return at(base64_dispatch(), i); }
const char *base64_backend_name() { return chosen_backend(base64_dispatch())->name; }
int32_t base64_backend_select(const char *name) { return pin(base64_dispatch(), name); }
bool base64_backend_runs_here(const char *name) { return runs_here(base64_dispatch(), name); }
bool base64_backend_features_here(const char *name) {
    return features_here(base64_dispatch(), name);
}
