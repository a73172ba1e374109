// Prints the SHA-256 and Base64 backends this machine runs (processor
// features and self-test), best first, one "<primitive> <name>" per line,
// then the library's own choice of each as "<primitive>-default <name>".
// The CI stages that pin each backend in turn read it.
#include <cstdio>

#include "platform/backend_select.h"

int main() {
    for (size_t i = 0; sha256_backend_at(i) != nullptr; ++i)
        if (sha256_backend_runs_here(sha256_backend_at(i)))
            std::printf("sha256 %s\n", sha256_backend_at(i));
    for (size_t i = 0; base64_backend_at(i) != nullptr; ++i)
        if (base64_backend_runs_here(base64_backend_at(i)))
            std::printf("base64 %s\n", base64_backend_at(i));
    std::printf("sha256-default %s\nbase64-default %s\n", sha256_backend_name(),
                base64_backend_name());
    return 0;
}
