// The operating-system seam of the WebAssembly module (platform.h). A
// standalone module has no operating system: its host, the loader in
// bindings/node/lib/wasm-core.js, supplies two imports of module "keldo".
// The random source is the host's crypto.getRandomValues and nothing else:
// where the host has none, the import reports failure and every caller fails
// as it does natively when getrandom fails.
#include "platform.h"

#if !defined(__wasm__)
#error "platform_wasm.cpp is the WebAssembly seam; other targets link platform.cpp"
#endif

extern "C" {
// 0 when buf[0..len) was filled from the host's secure generator, -1 when
// it has none or it failed.
__attribute__((import_module("keldo"), import_name("random_bytes")))
int32_t keldo_host_random_bytes(void *buf, uint32_t len);
// Seconds since 1970-01-01 UTC, whole.
__attribute__((import_module("keldo"), import_name("unix_time")))
double keldo_host_unix_time();
}

int64_t platform_unix_time() { return int64_t(keldo_host_unix_time()); }

int platform_random_bytes(void *buf, size_t len) {
    // size_t is 32 bits in wasm32; the host takes at most 65536 bytes a call
    // (the limit of getRandomValues), so ask in pieces.
    unsigned char *p = static_cast<unsigned char *>(buf);
    while (len > 0) {
        const size_t n = len < 65536 ? len : 65536;
        if (keldo_host_random_bytes(p, uint32_t(n)) != 0) return -1;
        p += n;
        len -= n;
    }
    return 0;
}
