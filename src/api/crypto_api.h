// Internal to the library: the last-error writer shared by the exports and
// the token cores.
#pragma once

// Copies one fixed message into the process-wide last-error text, cut at
// 1023 bytes. Not variadic on purpose: a variadic prologue stores every
// argument register to the stack (all of x0-x7 and q0-q7 on AArch64), and
// after a token check those may still hold words of a digest.
void keldo_set_error(const char *text);
