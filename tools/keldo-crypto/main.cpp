// keldo-crypto: the keldo-crypto library on the command line.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <new>
#include <string>
#include <string_view>
#include <unistd.h>

#include "cli.h"
#include "commands.h"
#include "io.h"
#include "keldo_crypto.h"

namespace {

const char kHelp[] =
    "Usage: keldo-crypto COMMAND [OPTION]... [ARGUMENT]...\n"
    "Hashes, encodings, password hashes and signed tokens from the keldo-crypto\n"
    "library.\n"
    "\n"
    "Commands:\n"
    "  sha256 [FILE]...                SHA-256 checksums like sha256sum; -c checks a list\n"
    "  hmac --key-file F [FILE]...     HMAC-SHA256 of files or standard input\n"
    "  base64 [-d] [-w COLS] [FILE]    standard Base64, like coreutils base64\n"
    "  base64url [-d] [-w COLS] [FILE] URL-safe Base64 without padding\n"
    "  uuid [-n COUNT]                 random version 4 UUIDs\n"
    "  password hash                   PBKDF2-HMAC-SHA256 hash in the PHC format\n"
    "  password verify STORED          check a password against a stored hash\n"
    "  jwt mint --sub S --email E      mint an HS256 token\n"
    "  jwt verify [TOKEN | -]          verify a token and print its claims\n"
    "  jwt decode [TOKEN | -]          show a token's header and payload, unverified\n"
    "\n"
    "  -h, --help     show this help; 'keldo-crypto COMMAND --help' for a command\n"
    "      --version  show the version\n"
    "\n"
    "Keys, secrets and passwords are read from files, environment variables or\n"
    "the terminal, never from the command line.\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  a check failed: a checksum or password did not match, a token was\n"
    "     refused, or the input was invalid for the command\n"
    "  2  usage error\n"
    "  3  input/output error: a file could not be read, output could not be written\n";

// The library's version, without an export for it. When the library's code
// comes from a shared object, that file's name carries the full version
// (libkeldo_crypto.so.1 -> libkeldo_crypto.so.1.0.0, the SONAME link
// resolved): dladdr finds it from an address inside the library, its error
// text. When the code is linked into this program, it is this build's.
std::string library_version_line() {
    std::string line = "library: libkeldo_crypto ";
    Dl_info lib{}, self{};
    static const char kHere = 0;
    if (dladdr(keldo_crypto_last_error(), &lib) == 0 || lib.dli_fname == nullptr ||
        dladdr(&kHere, &self) == 0) {
        line += "unknown (not found by the dynamic loader)\n";
        return line;
    }
    if (lib.dli_fbase == self.dli_fbase) {
        line += KELDO_TOOL_VERSION " (built into the tool)\n";
        return line;
    }
    char resolved[PATH_MAX];
    std::string_view path = realpath(lib.dli_fname, resolved) != nullptr ? resolved : lib.dli_fname;
    std::string_view base = path.substr(path.rfind('/') + 1);  // npos + 1 == 0
    constexpr std::string_view kStem = "libkeldo_crypto.so.";
    line += base.starts_with(kStem) ? base.substr(kStem.size()) : std::string_view("unknown");
    line += " (";
    line += path;
    line += ")\n";
    return line;
}

struct Command {
    std::string_view name;
    int (*run)(int, char **, int);
};

const Command kCommands[] = {
    {"sha256", kc::cmd_sha256},       {"hmac", kc::cmd_hmac},   {"base64", kc::cmd_base64},
    {"base64url", kc::cmd_base64url}, {"uuid", kc::cmd_uuid},   {"password", kc::cmd_password},
    {"jwt", kc::cmd_jwt},
};

int dispatch(int argc, char **argv) {
    if (argc < 2) kc::fail(kc::kUsage, "missing command (see 'keldo-crypto --help')");
    std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        kc::out(kHelp);
        return kc::kOk;
    }
    if (name == "--version") {
        kc::out("keldo-crypto " KELDO_TOOL_VERSION "\n");
        kc::out(library_version_line());
        return kc::kOk;
    }
    for (const auto &c : kCommands)
        if (c.name == name) return c.run(argc, argv, 2);
    kc::fail(kc::kUsage, "unknown command '" + std::string(name) +
                             "' (see 'keldo-crypto --help')");
}

}  // namespace

int main(int argc, char **argv) {
    static char out_buf[1 << 16];
    std::setvbuf(stdout, out_buf, isatty(1) ? _IOLBF : _IOFBF, sizeof out_buf);
    int code;
    try {
        code = dispatch(argc, argv);
        kc::finish_output();
    } catch (const kc::Failure &f) {
        std::fflush(stdout);
        kc::warn(f.message);
        code = f.code;
        try {
            kc::finish_output();
        } catch (const kc::Failure &g) {
            kc::warn(g.message);
        }
    } catch (const std::bad_alloc &) {
        std::fflush(stdout);
        kc::warn("out of memory");
        code = kc::kIo;
    }
    return code;
}
