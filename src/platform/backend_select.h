// Backend selection for tests and benchmarks. Compiled into the test
// library and the internal benchmark only: the shipped library chooses its
// backends itself and holds no way to pin one.
#pragma once

#include <cstddef>
#include <cstdint>

// The names built in, best first (null past the end); the one in use (the
// library's own choice until one is pinned); and a pin, -1 when the name is
// unknown, this machine cannot run it or it fails its self-test.
const char *sha256_backend_at(size_t i);
const char *sha256_backend_name();
int32_t sha256_backend_select(const char *name);

const char *base64_backend_at(size_t i);
const char *base64_backend_name();
int32_t base64_backend_select(const char *name);

// Whether this machine has the named backend's processor features, and
// whether it also passes its self-test here; nothing is pinned.
bool sha256_backend_features_here(const char *name);
bool sha256_backend_runs_here(const char *name);
bool base64_backend_features_here(const char *name);
bool base64_backend_runs_here(const char *name);
