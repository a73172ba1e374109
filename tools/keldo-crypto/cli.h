// Command-line plumbing shared by the subcommands: exit codes, failures,
// option parsing and number parsing.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kc {

enum Exit : int {
    kOk = 0,           // success
    kCheckFailed = 1,  // a check failed or the input was refused
    kUsage = 2,        // the command line (or the configuration it names) is wrong
    kIo = 3,           // a file, stream or terminal could not be read or written
};

// Thrown to end the program; main prints "keldo-crypto: <message>" as one
// line on standard error and exits with code.
struct Failure {
    int code;
    std::string message;
    int err = 0;  // the errno behind an I/O failure, 0 otherwise
};

[[noreturn]] void fail(int code, std::string message);
// An I/O failure of the named file: "name: strerror(err)".
[[noreturn]] void fail_io(std::string_view name, int err);
// A usage error of subcommand cmd, with a pointer to its help.
[[noreturn]] void usage_error(std::string_view cmd, std::string_view message);
// One line on standard error, for problems that do not end the program.
void warn(std::string_view message);
// A file name as it appears in messages: quoted as coreutils quotes it when
// it holds blanks, shell specials or control characters, so every message
// stays one line.
std::string quote_file_name(std::string_view name);

// "name: strerror(err)" for an error of the given file.
std::string errno_text(std::string_view name, int err);

struct OptionSpec {
    std::string_view long_name;  // without the leading "--"
    char short_name;             // 0 when there is none
    bool takes_value;
};

struct ParsedArgs {
    // Options in command-line order, by long name; flags have empty values.
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> positional;

    bool has(std::string_view name) const;
    // The last value given for name, or nullptr.
    const std::string *value(std::string_view name) const;
};

// Parses argv[first..argc) of subcommand cmd. "--" ends the options; a lone
// "-" is positional. Unknown options and missing values are usage errors.
ParsedArgs parse_args(std::string_view cmd, int argc, char **argv, int first,
                      std::span<const OptionSpec> specs);

// Refuses more than max positional arguments.
void max_positional(std::string_view cmd, const ParsedArgs &args, size_t max);

// A decimal number in [min, max]; anything else is a usage error naming what.
uint64_t parse_uint(std::string_view cmd, std::string_view what, std::string_view text,
                    uint64_t min, uint64_t max);

}  // namespace kc
