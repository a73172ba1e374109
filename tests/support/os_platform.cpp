// The shipped operating-system platform layer under other names, so that the
// test replacement falls back to exactly the code the library runs.
#define platform_unix_time os_platform_unix_time
#define platform_random_bytes os_platform_random_bytes
#include "platform/platform.cpp"
