#include "cli.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <clocale>
#include <cstring>
#include <langinfo.h>

#include "checksum.h"

namespace kc {

void fail(int code, std::string message) { throw Failure{code, std::move(message)}; }

void fail_io(std::string_view name, int err) { throw Failure{kIo, errno_text(name, err), err}; }

void usage_error(std::string_view cmd, std::string_view message) {
    std::string text(cmd);
    text += ": ";
    text += message;
    text += " (see 'keldo-crypto ";
    text += cmd;
    text += " --help')";
    fail(kUsage, std::move(text));
}

void warn(std::string_view message) {
    std::fprintf(stderr, "keldo-crypto: %.*s\n", int(message.size()), message.data());
}

std::string errno_text(std::string_view name, int err) {
    std::string text(name);
    text += ": ";
    text += std::strerror(err);
    return text;
}

namespace {

// Whether the user's locale prints UTF-8; the tool itself runs in "C".
bool user_locale_is_utf8() {
    static const bool utf8 = [] {
        bool yes = false;
        if (std::setlocale(LC_CTYPE, "") != nullptr)
            yes = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
        std::setlocale(LC_CTYPE, "C");
        return yes;
    }();
    return utf8;
}

}  // namespace

std::string quote_file_name(std::string_view name) {
    return quote_name(name, user_locale_is_utf8());
}

bool ParsedArgs::has(std::string_view name) const { return value(name) != nullptr; }

const std::string *ParsedArgs::value(std::string_view name) const {
    const std::string *found = nullptr;
    for (const auto &[key, val] : options)
        if (key == name) found = &val;
    return found;
}

namespace {

const OptionSpec *find_long(std::span<const OptionSpec> specs, std::string_view name) {
    for (const auto &opt : specs)
        if (opt.long_name == name) return &opt;
    return nullptr;
}

const OptionSpec *find_short(std::span<const OptionSpec> specs, char c) {
    for (const auto &opt : specs)
        if (opt.short_name != 0 && opt.short_name == c) return &opt;
    return nullptr;
}

// A secret on the command line would show in the process list; say so
// rather than calling the option unknown.
[[noreturn]] void unknown_option(std::string_view cmd, std::string_view opt) {
    std::string text = "unknown option '";
    text += opt;
    text += "'";
    if (opt.starts_with("--secret") || opt.starts_with("--key") || opt.starts_with("--password"))
        text += "; secrets are never taken on the command line, give a file or an "
                "environment variable";
    usage_error(cmd, text);
}

}  // namespace

ParsedArgs parse_args(std::string_view cmd, int argc, char **argv, int first,
                      std::span<const OptionSpec> specs) {
    ParsedArgs out;
    bool options_done = false;
    for (int i = first; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (options_done || arg == "-" || !arg.starts_with('-')) {
            out.positional.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg.starts_with("--")) {
            std::string_view name = arg.substr(2);
            std::string_view inline_value;
            bool has_inline = false;
            if (auto eq = name.find('='); eq != std::string_view::npos) {
                inline_value = name.substr(eq + 1);
                name = name.substr(0, eq);
                has_inline = true;
            }
            const OptionSpec *opt = find_long(specs, name);
            if (opt == nullptr) unknown_option(cmd, arg.substr(0, 2 + name.size()));
            if (!opt->takes_value) {
                if (has_inline)
                    usage_error(cmd, "option '--" + std::string(name) + "' takes no value");
                out.options.emplace_back(std::string(name), std::string());
                continue;
            }
            if (has_inline) {
                out.options.emplace_back(std::string(name), std::string(inline_value));
            } else {
                if (i + 1 >= argc)
                    usage_error(cmd, "option '--" + std::string(name) + "' needs a value");
                out.options.emplace_back(std::string(name), std::string(argv[++i]));
            }
            continue;
        }
        // A cluster of short options: "-di", "-w0", "-w 0".
        for (size_t k = 1; k < arg.size(); ++k) {
            const OptionSpec *opt = find_short(specs, arg[k]);
            if (opt == nullptr) unknown_option(cmd, std::string("-") + arg[k]);
            if (!opt->takes_value) {
                out.options.emplace_back(std::string(opt->long_name), std::string());
                continue;
            }
            if (k + 1 < arg.size()) {
                out.options.emplace_back(std::string(opt->long_name), std::string(arg.substr(k + 1)));
            } else {
                if (i + 1 >= argc)
                    usage_error(cmd, std::string("option '-") + arg[k] + "' needs a value");
                out.options.emplace_back(std::string(opt->long_name), std::string(argv[++i]));
            }
            break;
        }
    }
    return out;
}

void max_positional(std::string_view cmd, const ParsedArgs &args, size_t max) {
    if (args.positional.size() <= max) return;
    std::string text = "unexpected argument '" + args.positional[max] + "'";
    usage_error(cmd, text);
}

uint64_t parse_uint(std::string_view cmd, std::string_view what, std::string_view text,
                    uint64_t min, uint64_t max) {
    uint64_t value = 0;
    const char *begin = text.data();
    const char *end = begin + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < min || value > max) {
        std::string msg = std::string(what) + " must be a whole number from " +
                          std::to_string(min) + " to " + std::to_string(max) + ", not '" +
                          std::string(text) + "'";
        usage_error(cmd, msg);
    }
    return value;
}

}  // namespace kc
