// The bounded printer of `jwt decode`: one decoded token segment, parsed as
// JSON and printed with two-space indentation. The indentation of a deeply
// nested document grows with the square of its depth, so documents nested
// deeper than kMaxJsonDepth are refused; with the segment limit of
// verification (2047 characters, 1535 bytes decoded) the output is bounded.
// No I/O and no exceptions: the fuzz target drives this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kc {

// Arrays and objects inside each other; a claim set needs two or three.
constexpr size_t kMaxJsonDepth = 32;
// The longest segment `jwt decode` decodes, as `jwt verify` for the payload.
constexpr size_t kMaxSegmentChars = 2047;

enum class JsonPrint { kOk, kNotJson, kTooDeep, kNoMemory };

// Parses the len bytes at json and, when they are one JSON document nested
// at most kMaxJsonDepth deep, sets *out to it pretty-printed with a final
// newline. *detail receives the parser's message for kNotJson.
JsonPrint print_json_bounded(const uint8_t *json, size_t len, std::string *out,
                             std::string *detail);

}  // namespace kc
