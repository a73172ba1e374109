// Random (version 4) UUID text.
#pragma once

#include <cstdint>

// Writes 37 bytes (36 characters and a NUL) to out.
int32_t uuid_v4_generate(char *out);
