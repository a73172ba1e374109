// Checksum lines as coreutils sha256sum (9.1) writes and reads them, and its
// quoting of file names in messages. No I/O and no exceptions: the fuzz
// target drives these directly.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kc {

// A name holding a backslash, LF or CR is written escaped (\\, \n, \r)
// behind a backslash at the start of its line, so each line stays one line.
bool name_needs_escape(std::string_view name);
std::string escape_name(std::string_view name);

struct ChecksumEntry {
    std::string hex;   // 64 hexadecimal digits, either case
    std::string name;  // unescaped; never holds a NUL
};

// The state a list carries from line to line: whether it uses the
// "HEX NAME" form (one blank, no '*' or second blank), which may not be
// mixed with the others. Starts undecided.
struct ChecksumListState {
    int bsd_reversed = -1;  // -1 undecided, 0 no, 1 yes
};

// One line of a list without its line end (LF, and a CR before it, already
// removed): "HEX  NAME", "HEX *NAME", "HEX NAME" or "SHA256 (NAME) = HEX",
// each optionally escaped by a leading backslash, after optional blanks.
// As in sha256sum, an unescaped name ends at a NUL, an escaped one may not
// hold one. from_stdin: the list is standard input, where "-" cannot name
// a file. nullopt for an improperly formatted line.
std::optional<ChecksumEntry> parse_checksum_line(std::string_view line, bool from_stdin,
                                                 ChecksumListState &state);

// A file name as sha256sum shows it in messages (gnulib's shell-escape
// quoting with colons quoted): as is when harmless, else in single quotes
// (or double quotes around a lone kind of special, the apostrophe), with
// control and non-printable bytes as $'\n' or $'\ooo'. Always one line.
// utf8: valid UTF-8 characters from U+00A0 up print as they are.
std::string quote_name(std::string_view name, bool utf8);

}  // namespace kc
