// sha256 and hmac: checksum lines in the format of coreutils sha256sum, and
// verification of such lists.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "checksum.h"
#include "cli.h"
#include "commands.h"
#include "io.h"
#include "hash/hmac.h"
#include "hash/sha256.h"

namespace kc {

namespace {

using Digest = std::array<uint8_t, 32>;

constexpr size_t kMaxKeyBytes = size_t(1) << 20;
// A checksum line is a digest and a path; anything this long is not one.
constexpr size_t kMaxListLine = size_t(1) << 16;

const char kSha256Help[] =
    "Usage: keldo-crypto sha256 [OPTION]... [FILE]...\n"
    "Print SHA-256 checksums, in the format of sha256sum. With no FILE, or when\n"
    "FILE is -, read standard input. Inputs of any size are read as streams, in\n"
    "constant memory.\n"
    "\n"
    "  -b, --binary         mark lines with '*' (binary mode)\n"
    "  -t, --text           mark lines with ' ' (the default)\n"
    "      --tag            BSD-style lines: SHA256 (FILE) = HEX\n"
    "  -c, --check          read checksum lists from the FILEs and check them\n"
    "\n"
    "Only with --check:\n"
    "      --ignore-missing don't fail or report status for missing files\n"
    "      --quiet          don't print OK for each successfully verified file\n"
    "      --status         print nothing on standard output, the exit status tells\n"
    "      --strict         fail on improperly formatted checksum lines\n"
    "  -w, --warn           warn about improperly formatted checksum lines\n"
    "\n"
    "  -h, --help           show this help\n"
    "\n"
    "Output, messages (one line each, names quoted as coreutils quotes them) and\n"
    "the exit status of --check are those of sha256sum (coreutils 9.1); of\n"
    "--quiet, --status and --warn the last one given counts.\n"
    "\n"
    "Exit status: 0 all good; 1 a checksum did not match or a listed file could\n"
    "not be read (--check); 2 usage error; 3 a FILE or a list could not be read\n"
    "(sha256sum says 1).\n";

const char kHmacHelp[] =
    "Usage: keldo-crypto hmac (--key-file FILE | --key-env VAR) [FILE]...\n"
    "Print HMAC-SHA256 of each FILE as 'HEX  FILE' lines. With no FILE, or when\n"
    "FILE is -, read standard input.\n"
    "\n"
    "      --key-file FILE  the key is the exact bytes of FILE (at most 1 MiB;\n"
    "                       a trailing newline is part of the key)\n"
    "      --key-env VAR    the key is the value of environment variable VAR\n"
    "      --tag            BSD-style lines: HMAC-SHA256 (FILE) = HEX\n"
    "  -h, --help           show this help\n"
    "\n"
    "The key is never taken from the command line, where other users could see it.\n"
    "Exit status: 0 success; 2 usage error; 3 a FILE could not be read.\n";

std::string to_hex(const Digest &d) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(64);
    for (uint8_t b : d) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 15]);
    }
    return hex;
}

// Inputs are read in blocks of this size and absorbed as they come, so a
// stream of any length is hashed in constant memory.
constexpr size_t kReadBlock = size_t(1) << 18;
alignas(64) uint8_t g_block[kReadBlock];

// The hash of one input; hmac is the keyed context to start from, or null
// for SHA-256. I/O failures name the input as sha256sum does.
Digest digest_of(const std::string &name, const hmac_sha256_ctx *hmac) {
    Stream in(name);
    Digest d{};
    if (hmac != nullptr) {
        hmac_sha256_ctx ctx = *hmac;
        for (;;) {
            size_t n = in.read_full(g_block, kReadBlock);
            hmac_sha256_update(&ctx, g_block, n);
            if (n < kReadBlock) break;
        }
        hmac_sha256_final(&ctx, d.data());
    } else {
        sha256_ctx ctx;
        sha256_init(&ctx);
        for (;;) {
            size_t n = in.read_full(g_block, kReadBlock);
            sha256_update(&ctx, g_block, n);
            if (n < kReadBlock) break;
        }
        sha256_final(&ctx, d.data());
    }
    return d;
}

void print_line(const Digest &d, const std::string &name, bool tag, const char *tag_name,
                bool binary) {
    bool esc = name_needs_escape(name);
    std::string line;
    if (esc) line.push_back('\\');
    std::string shown = esc ? escape_name(name) : name;
    if (tag) {
        line += tag_name;
        line += " (";
        line += shown;
        line += ") = ";
        line += to_hex(d);
    } else {
        line += to_hex(d);
        line += binary ? " *" : "  ";
        line += shown;
    }
    line.push_back('\n');
    out(line);
}

// Hashes every file; an unreadable one is reported and skipped.
int print_digests(const ParsedArgs &args, const hmac_sha256_ctx *hmac, const char *tag_name) {
    std::vector<std::string> files = args.positional;
    if (files.empty()) files.emplace_back("-");
    bool tag = args.has("tag");
    bool binary = args.has("binary");
    int status = kOk;
    for (const auto &name : files) {
        try {
            print_line(digest_of(name, hmac), name, tag, tag_name, binary);
        } catch (const Failure &f) {
            std::fflush(stdout);
            warn(f.message);
            status = std::max(status, f.code);
        }
    }
    return status;
}

// Line-by-line reading of a checksum list, without limit on the list's size.
class LineReader {
public:
    explicit LineReader(const std::string &name) : stream_(name) {}

    // false at the end; *too_long when the line exceeded kMaxListLine (the
    // rest of it is skipped).
    bool next(std::string &line, bool *too_long) {
        line.clear();
        *too_long = false;
        bool any = false;
        for (;;) {
            if (pos_ == len_) {
                len_ = stream_.read_full(buf_.data(), buf_.size());
                pos_ = 0;
                if (len_ == 0) return any;
            }
            any = true;
            const char *start = buf_.data() + pos_;
            const void *nl = std::memchr(start, '\n', len_ - pos_);
            size_t take = nl != nullptr ? size_t(static_cast<const char *>(nl) - start) : len_ - pos_;
            if (!*too_long) {
                if (line.size() + take > kMaxListLine) {
                    *too_long = true;
                    line.clear();
                } else {
                    line.append(start, take);
                }
            }
            pos_ += take;
            if (nl != nullptr) {
                ++pos_;
                return true;
            }
        }
    }

private:
    Stream stream_;
    std::array<char, 65536> buf_{};
    size_t pos_ = 0;
    size_t len_ = 0;
};

bool hex_equal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'F') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'F') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string plural(uint64_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

struct CheckOptions {
    bool quiet = false, status = false, strict = false, warn_lines = false,
         ignore_missing = false;
};

// Checks one list; returns whether everything in it was good. The output,
// the number of lines on standard error and the verdict are sha256sum's.
bool check_list(const std::string &list, const CheckOptions &opt) {
    LineReader reader(list);
    const std::string list_shown = quote_file_name(list);
    const bool from_stdin = list == "-";
    std::string line;
    bool too_long = false;
    uint64_t line_no = 0, misformatted = 0, unreadable = 0, mismatched = 0;
    bool any_good_line = false, any_match = false;
    ChecksumListState state;
    while (reader.next(line, &too_long)) {
        ++line_no;
        if (!too_long) {
            if (!line.empty() && line[0] == '#') continue;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
        }
        std::optional<ChecksumEntry> entry;
        if (!too_long) entry = parse_checksum_line(line, from_stdin, state);
        if (!entry) {
            ++misformatted;
            if (opt.warn_lines) {
                std::fflush(stdout);
                warn(list_shown + ": " + std::to_string(line_no) +
                     ": improperly formatted SHA256 checksum line");
            }
            continue;
        }
        any_good_line = true;
        // Only a name holding a line feed is escaped here, as sha256sum does:
        // the status lines stay easy to read by machine.
        const bool esc = !opt.status && entry->name.find('\n') != std::string::npos;
        std::string shown;
        if (esc) shown.push_back('\\');
        shown += esc ? escape_name(entry->name) : entry->name;
        Digest d;
        try {
            d = digest_of(entry->name, nullptr);
        } catch (const Failure &f) {
            if (opt.ignore_missing && f.err == ENOENT) continue;
            std::fflush(stdout);
            warn(f.message);
            ++unreadable;
            if (!opt.status) out(shown + ": FAILED open or read\n");
            continue;
        }
        if (hex_equal(to_hex(d), entry->hex)) {
            any_match = true;
            if (!opt.status && !opt.quiet) out(shown + ": OK\n");
        } else {
            ++mismatched;
            if (!opt.status) out(shown + ": FAILED\n");
        }
    }
    std::fflush(stdout);
    if (!any_good_line) {
        warn(list_shown + ": no properly formatted SHA256 checksum lines found");
        return false;
    }
    if (!opt.status) {
        if (misformatted != 0)
            warn("WARNING: " + plural(misformatted, "line is", "lines are") +
                 " improperly formatted");
        if (unreadable != 0)
            warn("WARNING: " + plural(unreadable, "listed file", "listed files") +
                 " could not be read");
        if (mismatched != 0)
            warn("WARNING: " + plural(mismatched, "computed checksum", "computed checksums") +
                 " did NOT match");
    }
    if (opt.ignore_missing && !any_match && !opt.status)
        warn(list_shown + ": no file was verified");
    return mismatched == 0 && unreadable == 0 && (!opt.strict || misformatted == 0) &&
           (!opt.ignore_missing || any_match);
}

int run_check(const ParsedArgs &args) {
    if (args.has("tag") || args.has("binary") || args.has("text"))
        usage_error("sha256", "--tag, --binary and --text make no sense with --check");
    CheckOptions opt;
    opt.strict = args.has("strict");
    opt.ignore_missing = args.has("ignore-missing");
    // --quiet, --status and --warn exclude each other; the last one given wins.
    for (const auto &[name, value] : args.options) {
        if (name == "quiet" || name == "status" || name == "warn") {
            opt.quiet = name == "quiet";
            opt.status = name == "status";
            opt.warn_lines = name == "warn";
        }
    }
    std::vector<std::string> lists = args.positional;
    if (lists.empty()) lists.emplace_back("-");
    int status = kOk;
    for (const auto &list : lists) {
        try {
            if (!check_list(list, opt)) status = std::max(status, int(kCheckFailed));
        } catch (const Failure &f) {
            std::fflush(stdout);
            warn(f.message);
            status = std::max(status, f.code);
        }
    }
    return status;
}

}  // namespace

int cmd_sha256(int argc, char **argv, int first) {
    static const OptionSpec specs[] = {
        {"help", 'h', false},   {"binary", 'b', false}, {"text", 't', false},
        {"tag", 0, false},      {"check", 'c', false},  {"ignore-missing", 0, false},
        {"quiet", 0, false},    {"status", 0, false},   {"strict", 0, false},
        {"warn", 'w', false},
    };
    ParsedArgs args = parse_args("sha256", argc, argv, first, specs);
    if (args.has("help")) {
        out(kSha256Help);
        return kOk;
    }
    if (args.has("check")) return run_check(args);
    for (const char *only : {"ignore-missing", "quiet", "status", "strict", "warn"})
        if (args.has(only))
            usage_error("sha256", std::string("--") + only + " is meaningful only with --check");
    return print_digests(args, nullptr, "SHA256");
}

int cmd_hmac(int argc, char **argv, int first) {
    static const OptionSpec specs[] = {
        {"help", 'h', false},
        {"key-file", 0, true},
        {"key-env", 0, true},
        {"tag", 0, false},
    };
    ParsedArgs args = parse_args("hmac", argc, argv, first, specs);
    if (args.has("help")) {
        out(kHmacHelp);
        return kOk;
    }
    const std::string *key_file = args.value("key-file");
    const std::string *key_env = args.value("key-env");
    if ((key_file != nullptr) == (key_env != nullptr))
        usage_error("hmac", "give the key with exactly one of --key-file FILE or --key-env VAR");
    bool data_on_stdin =
        args.positional.empty() ||
        std::find(args.positional.begin(), args.positional.end(), "-") != args.positional.end();
    if (key_file != nullptr && *key_file == "-" && data_on_stdin)
        usage_error("hmac", "standard input cannot be both the key and the data");
    protect_secrets();
    hmac_sha256_ctx keyed;
    if (key_file != nullptr) {
        std::string key = read_small_file("hmac", *key_file, kMaxKeyBytes, "key");
        hmac_sha256_init(&keyed, key.data(), key.size());
        wipe(key);
    } else {
        const char *v = std::getenv(key_env->c_str());
        if (v == nullptr) usage_error("hmac", "environment variable " + *key_env + " is not set");
        hmac_sha256_init(&keyed, v, std::strlen(v));
    }
    // From here on only the keyed states exist, never the key.
    int status = kOk;
    try {
        status = print_digests(args, &keyed, "HMAC-SHA256");
    } catch (...) {
        wipe(&keyed, sizeof keyed);
        throw;
    }
    wipe(&keyed, sizeof keyed);
    return status;
}

}  // namespace kc
