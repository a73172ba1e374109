// sha256 and hmac: checksum lines in the format of coreutils sha256sum, and
// verification of such lists.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "cli.h"
#include "commands.h"
#include "io.h"
#include "keldo_crypto.h"

namespace kc {

namespace {

using Digest = std::array<uint8_t, 32>;

constexpr size_t kMaxKeyBytes = size_t(1) << 20;
// A checksum line is a digest and a path; anything this long is not one.
constexpr size_t kMaxListLine = size_t(1) << 16;

const char kSha256Help[] =
    "Usage: keldo-crypto sha256 [OPTION]... [FILE]...\n"
    "Print SHA-256 checksums, in the format of sha256sum. With no FILE, or when\n"
    "FILE is -, read standard input. Files are mapped, not read into memory.\n"
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
    "Exit status: 0 all good; 1 a checksum did not match or a listed file could\n"
    "not be read (--check); 2 usage error; 3 a FILE could not be read.\n";

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

// sha256sum escapes a name holding a backslash or a line feed and marks the
// line with a leading backslash, so every list line stays one line.
std::string escape_name(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out.push_back(c);
    }
    return out;
}

bool needs_escape(std::string_view name) {
    return name.find_first_of("\\\n") != std::string_view::npos;
}

Digest digest_of(const std::string &name, const std::string *key) {
    WholeInput input(name);
    Digest d{};
    int32_t rc;
    {
        MappedAccess guard(name);
        rc = key != nullptr
                 ? keldo_crypto_hmac_sha256(key->data(), key->size(), input.data(), input.size(),
                                            d.data())
                 : keldo_crypto_sha256(input.data(), input.size(), d.data());
    }
    if (rc != 0) fail(kIo, name + ": " + keldo_crypto_last_error());
    return d;
}

void print_line(const Digest &d, const std::string &name, bool tag, const char *tag_name,
                bool binary) {
    bool esc = needs_escape(name);
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
int print_digests(const ParsedArgs &args, const std::string *key, const char *tag_name) {
    std::vector<std::string> files = args.positional;
    if (files.empty()) files.emplace_back("-");
    bool tag = args.has("tag");
    bool binary = args.has("binary");
    int status = kOk;
    for (const auto &name : files) {
        try {
            print_line(digest_of(name, key), name, tag, tag_name, binary);
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

bool is_white(char c) { return c == ' ' || c == '\t'; }

bool all_hex(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

std::optional<std::string> unescape_name(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\0') return std::nullopt;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++i == s.size()) return std::nullopt;
        switch (s[i]) {
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case '\\': out.push_back('\\'); break;
            default: return std::nullopt;
        }
    }
    return out;
}

struct ListEntry {
    std::string hex;
    std::string name;
};

// One line of a list, in any format sha256sum writes: "HEX  NAME",
// "HEX *NAME", "SHA256 (NAME) = HEX", each optionally escaped with a leading
// backslash. bsd_reversed remembers whether the list uses the "HEX NAME"
// form, which may not be mixed with the others.
std::optional<ListEntry> parse_list_line(std::string_view s, int *bsd_reversed) {
    size_t i = 0;
    while (i < s.size() && is_white(s[i])) ++i;
    bool escaped = false;
    if (i < s.size() && s[i] == '\\') {
        escaped = true;
        ++i;
    }
    ListEntry e;
    std::string_view rest = s.substr(i);
    if (rest.starts_with("SHA256")) {
        rest.remove_prefix(6);
        if (rest.starts_with(' ')) rest.remove_prefix(1);
        if (!rest.starts_with('(')) return std::nullopt;
        rest.remove_prefix(1);
        size_t close = rest.rfind(')');
        if (close == std::string_view::npos) return std::nullopt;
        std::string_view name = rest.substr(0, close);
        size_t j = close + 1;
        while (j < rest.size() && is_white(rest[j])) ++j;
        if (j == rest.size() || rest[j] != '=') return std::nullopt;
        ++j;
        while (j < rest.size() && is_white(rest[j])) ++j;
        std::string_view hex = rest.substr(j);
        if (hex.size() != 64 || !all_hex(hex)) return std::nullopt;
        auto unescaped = escaped ? unescape_name(name) : std::optional<std::string>(name);
        if (!unescaped) return std::nullopt;
        e.hex = hex;
        e.name = *unescaped;
        return e;
    }
    if (rest.size() < 66) return std::nullopt;
    std::string_view hex = rest.substr(0, 64);
    if (!all_hex(hex) || !is_white(rest[64])) return std::nullopt;
    std::string_view name = rest.substr(65);
    if (name.size() == 1 || (name[0] != ' ' && name[0] != '*')) {
        if (*bsd_reversed == 0) return std::nullopt;
        *bsd_reversed = 1;
    } else if (*bsd_reversed != 1) {
        *bsd_reversed = 0;
        name.remove_prefix(1);
    }
    if (name.empty()) return std::nullopt;
    auto unescaped = escaped ? unescape_name(name) : std::optional<std::string>(name);
    if (!unescaped) return std::nullopt;
    e.hex = hex;
    e.name = *unescaped;
    return e;
}

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
    bool quiet, status, strict, warn_lines, ignore_missing;
};

// Checks one list; returns whether everything in it was good.
bool check_list(const std::string &list, const CheckOptions &opt) {
    LineReader reader(list);
    std::string line;
    bool too_long = false;
    uint64_t line_no = 0, misformatted = 0, unreadable = 0, mismatched = 0, good_lines = 0;
    bool verified_any = false;
    int bsd_reversed = -1;
    while (reader.next(line, &too_long)) {
        ++line_no;
        if (!too_long && !line.empty() && line[0] == '#') continue;
        if (!too_long && !line.empty() && line.back() == '\r') line.pop_back();
        if (!too_long && line.empty()) continue;
        std::optional<ListEntry> entry;
        if (!too_long) entry = parse_list_line(line, &bsd_reversed);
        if (!entry) {
            ++misformatted;
            if (opt.warn_lines) {
                std::fflush(stdout);
                warn(list + ": " + std::to_string(line_no) +
                     ": improperly formatted SHA256 checksum line");
            }
            continue;
        }
        ++good_lines;
        // Names holding a line feed are shown escaped, behind a backslash.
        bool esc = entry->name.find('\n') != std::string::npos;
        std::string shown = esc ? '\\' + escape_name(entry->name) : entry->name;
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
        verified_any = true;
        if (hex_equal(to_hex(d), entry->hex)) {
            if (!opt.status && !opt.quiet) out(shown + ": OK\n");
        } else {
            ++mismatched;
            if (!opt.status) out(shown + ": FAILED\n");
        }
    }
    std::fflush(stdout);
    if (good_lines == 0) {
        warn(list + ": no properly formatted checksum lines found");
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
    if (opt.ignore_missing && !verified_any) {
        warn(list + ": no file was verified");
        return false;
    }
    return mismatched == 0 && unreadable == 0 && (!opt.strict || misformatted == 0);
}

int run_check(const ParsedArgs &args) {
    if (args.has("tag") || args.has("binary") || args.has("text"))
        usage_error("sha256", "--tag, --binary and --text make no sense with --check");
    CheckOptions opt{args.has("quiet"), args.has("status"), args.has("strict"),
                     args.has("warn"), args.has("ignore-missing")};
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
    std::string key;
    WipeGuard key_guard(key);
    if (key_file != nullptr) {
        key = read_small_file("hmac", *key_file, kMaxKeyBytes, "key");
    } else {
        const char *v = std::getenv(key_env->c_str());
        if (v == nullptr) usage_error("hmac", "environment variable " + *key_env + " is not set");
        key = v;
    }
    return print_digests(args, &key, "HMAC-SHA256");
}

}  // namespace kc
