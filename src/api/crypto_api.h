// Internal to the library: the last-error writer shared by the exports and
// the token cores.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define KELDO_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define KELDO_PRINTF_FORMAT(f, a)
#endif

// Formats into the process-wide last-error text, cut at 1023 characters.
// Every caller passes one fixed message and no arguments.
void keldo_set_error(const char *format, ...) KELDO_PRINTF_FORMAT(1, 2);
