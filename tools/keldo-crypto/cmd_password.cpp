// password hash / password verify: PBKDF2-HMAC-SHA256 password hashes in the
// PHC string format, and verification of those and of the Django, passlib and
// Werkzeug forms, all through the library's password functions.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "io.h"
#include "keldo_crypto.h"

namespace kc {

namespace {

// The library's bounds: OWASP's count for PBKDF2-HMAC-SHA256 by default, and
// a ceiling far above any real deployment, so a stored hash cannot make us
// spin for hours.
constexpr uint64_t kMaxIterations = KELDO_PASSWORD_MAX_ITERATIONS;
constexpr size_t kMaxPassword = KELDO_PASSWORD_MAX_LEN;
constexpr size_t kMaxStored = 4096;

const char kPasswordHelp[] =
    "Usage: keldo-crypto password hash [OPTION]...\n"
    "       keldo-crypto password verify [OPTION]... (STORED | --hash-file FILE)\n"
    "PBKDF2-HMAC-SHA256 password hashes for storing in a user table.\n"
    "Run 'keldo-crypto password hash --help' or '... password verify --help'.\n";

const char kHashHelp[] =
    "Usage: keldo-crypto password hash [--iterations N] [--password-file FILE]\n"
    "Hash a password with PBKDF2-HMAC-SHA256 and a random 16-byte salt from the\n"
    "operating system, and print it in the PHC string format:\n"
    "  $pbkdf2-sha256$i=N$SALT$HASH   (SALT, HASH: unpadded standard Base64)\n"
    "\n"
    "The password is read from the terminal without echo (asked twice), or, when\n"
    "standard input is not a terminal, as its first line; or from FILE.\n"
    "\n"
    "      --iterations N      PBKDF2 iterations, 1 to 100000000 (default 600000,\n"
    "                          OWASP's figure for PBKDF2-HMAC-SHA256)\n"
    "      --password-file FILE  read the password from the first line of FILE\n"
    "  -h, --help              show this help\n"
    "\n"
    "Exit status: 0 success; 1 the password is empty, too long (over 4096 bytes)\n"
    "or the two entries differ; 2 usage error; 3 input/output error.\n";

const char kVerifyHelp[] =
    "Usage: keldo-crypto password verify [OPTION]... (STORED | --hash-file FILE)\n"
    "Check a password against a stored hash and print OK when it matches.\n"
    "STORED is a PBKDF2-HMAC-SHA256 hash in one of these forms:\n"
    "  $pbkdf2-sha256$i=N$SALT$HASH   PHC, as 'password hash' writes it (SALT and\n"
    "                                 HASH unpadded standard Base64)\n"
    "  pbkdf2_sha256$N$SALT$HASH      Django (SALT used as text, HASH padded Base64)\n"
    "  $pbkdf2-sha256$N$SALT$HASH     passlib (its Base64 with '.' for '+', unpadded)\n"
    "  pbkdf2:sha256:N$SALT$HEX       Werkzeug (SALT used as text, HEX lowercase)\n"
    "HASH must be a 32-byte key in its one canonical spelling, N a number from 1\n"
    "to 100000000 without leading zeros, SALT 1 to 1024 characters; anything else\n"
    "makes STORED malformed (exit 1, with the reason). A Werkzeug hash without N\n"
    "(pbkdf2:sha256$...) is refused: its count depends on the Werkzeug release\n"
    "that wrote it. In a shell, put STORED in single quotes: it holds '$' signs.\n"
    "The password is read as for 'password hash' (once from a terminal).\n"
    "\n"
    "      --hash-file FILE      read STORED from the first line of FILE\n"
    "      --password-file FILE  read the password from the first line of FILE\n"
    "  -q, --quiet               print nothing; the exit status tells\n"
    "  -h, --help                show this help\n"
    "\n"
    "Exit status: 0 the password matches; 1 it does not, or STORED is not a hash\n"
    "in one of these forms; 2 usage error; 3 input/output error.\n";

// ---- Reading the password ----------------------------------------------

struct termios g_saved_tty;
volatile sig_atomic_t g_tty_changed = 0;

extern "C" void restore_tty_and_die(int sig) {
    if (g_tty_changed) tcsetattr(0, TCSANOW, &g_saved_tty);
    signal(sig, SIG_DFL);
    raise(sig);
}

// Echo off for the life of the object; an interrupting signal restores the
// terminal before it ends the program.
class NoEcho {
public:
    explicit NoEcho(std::string_view cmd) {
        if (tcgetattr(0, &g_saved_tty) != 0) fail_io(std::string(cmd) + ": terminal", errno);
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = restore_tty_and_die;
        sigemptyset(&sa.sa_mask);
        for (int i = 0; i < kSignals; ++i) sigaction(kSignalList[i], &sa, &old_[i]);
        struct termios quiet = g_saved_tty;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        g_tty_changed = 1;
        if (tcsetattr(0, TCSAFLUSH, &quiet) != 0) {
            int e = errno;
            restore();
            fail_io(std::string(cmd) + ": terminal", e);
        }
    }
    ~NoEcho() { restore(); }
    NoEcho(const NoEcho &) = delete;
    NoEcho &operator=(const NoEcho &) = delete;

private:
    static constexpr int kSignals = 4;
    static constexpr int kSignalList[kSignals] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

    void restore() {
        if (g_tty_changed) tcsetattr(0, TCSANOW, &g_saved_tty);
        g_tty_changed = 0;
        for (int i = 0; i < kSignals; ++i) sigaction(kSignalList[i], &old_[i], nullptr);
    }

    struct sigaction old_[kSignals];
};

std::string prompt_password(std::string_view cmd, const char *prompt) {
    NoEcho quiet(cmd);
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    return read_line(cmd, 0, "terminal", kMaxPassword, "password");
}

// The first line of text, without its LF or CR LF, cut in place: the rest
// is wiped first, so no copy of the secret is made.
std::string first_line(std::string text) {
    size_t end = text.find('\n');
    if (end == std::string::npos) end = text.size();
    if (end > 0 && text[end - 1] == '\r') --end;
    wipe(text.data() + end, text.size() - end);
    text.resize(end);
    return text;
}

// From --password-file, the terminal or standard input, in that order of
// preference. confirm asks a terminal user twice.
std::string read_password(std::string_view cmd, const ParsedArgs &args, bool confirm) {
    protect_secrets();
    std::string pw;
    try {
    if (const std::string *file = args.value("password-file")) {
        pw = first_line(read_small_file(cmd, *file, kMaxPassword + 2, "password"));
        if (pw.size() > kMaxPassword) {
            wipe(pw);
            fail(kCheckFailed, std::string(cmd) + ": password is longer than " +
                                   std::to_string(kMaxPassword) + " bytes");
        }
    } else if (isatty(0)) {
        pw = prompt_password(cmd, "Password: ");
        if (confirm) {
            std::string again = prompt_password(cmd, "Retype password: ");
            bool same = again.size() == pw.size() &&
                        keldo_crypto_secure_compare(again.data(), pw.data(), pw.size()) == 0;
            wipe(again);
            if (!same) {
                wipe(pw);
                fail(kCheckFailed, std::string(cmd) + ": the two passwords differ");
            }
        }
    } else {
        pw = read_line(cmd, 0, "standard input", kMaxPassword, "password");
    }
    } catch (...) {
        wipe(pw);
        throw;
    }
    return pw;
}

// The library's text for a status, under the subcommand's own name: its
// "password_verify: " or "password_hash: " prefix gives way to cmd's.
std::string status_message(std::string_view cmd, int32_t status) {
    std::string_view text = keldo_crypto_status_text(status);
    const size_t colon = text.find(": ");
    if (colon != std::string_view::npos) text.remove_prefix(colon + 2);
    return std::string(cmd) + ": " + std::string(text);
}

// ---- Subcommands -----------------------------------------------------------

int password_hash(int argc, char **argv, int first) {
    static const OptionSpec specs[] = {
        {"help", 'h', false},
        {"iterations", 0, true},
        {"password-file", 0, true},
    };
    const char *cmd = "password hash";
    ParsedArgs args = parse_args(cmd, argc, argv, first, specs);
    if (args.has("help")) {
        out(kHashHelp);
        return kOk;
    }
    max_positional(cmd, args, 0);
    uint32_t iterations = KELDO_PASSWORD_DEFAULT_ITERATIONS;
    if (const std::string *n = args.value("iterations"))
        iterations = uint32_t(parse_uint(cmd, "--iterations", *n, 1, kMaxIterations));

    std::string pw = read_password(cmd, args, true);
    WipeGuard pw_guard(pw);
    if (pw.empty()) fail(kCheckFailed, std::string(cmd) + ": the password is empty");
    char stored[KELDO_PASSWORD_HASH_MAX];
    const int32_t rc = keldo_password_hash(pw.data(), pw.size(), iterations, stored, sizeof stored);
    if (rc == KELDO_E_PASSWORD_RANDOM) fail(kIo, status_message(cmd, rc));
    if (rc != KELDO_OK) fail(kCheckFailed, status_message(cmd, rc));
    out(stored);
    out("\n");
    return kOk;
}

int password_verify(int argc, char **argv, int first) {
    static const OptionSpec specs[] = {
        {"help", 'h', false},
        {"hash-file", 0, true},
        {"password-file", 0, true},
        {"quiet", 'q', false},
    };
    const char *cmd = "password verify";
    ParsedArgs args = parse_args(cmd, argc, argv, first, specs);
    if (args.has("help")) {
        out(kVerifyHelp);
        return kOk;
    }
    max_positional(cmd, args, 1);
    const std::string *hash_file = args.value("hash-file");
    if ((hash_file != nullptr) == !args.positional.empty())
        usage_error(cmd, "give the stored hash either as the argument or with --hash-file FILE");
    std::string stored;
    if (hash_file != nullptr) {
        const std::string *pw_file = args.value("password-file");
        if (*hash_file == "-" && (pw_file == nullptr ? !isatty(0) : *pw_file == "-"))
            usage_error(cmd, "standard input cannot hold both the hash and the password");
        stored = first_line(read_small_file(cmd, *hash_file, kMaxStored, "hash"));
    } else {
        stored = args.positional[0];
    }
    while (!stored.empty() && (stored.back() == ' ' || stored.back() == '\t')) stored.pop_back();

    // A malformed string is refused before the password is asked for.
    int32_t rc = keldo_password_parameters(stored.c_str(), nullptr, nullptr);
    if (rc != KELDO_OK) fail(kCheckFailed, status_message(cmd, rc));

    std::string pw = read_password(cmd, args, false);
    WipeGuard pw_guard(pw);
    rc = keldo_password_verify(pw.data(), pw.size(), stored.c_str());
    if (rc == KELDO_E_PASSWORD_MISMATCH)
        fail(kCheckFailed, std::string(cmd) + ": the password does not match");
    if (rc != KELDO_OK) fail(kCheckFailed, status_message(cmd, rc));
    if (!args.has("quiet")) out("OK\n");
    return kOk;
}

}  // namespace

int cmd_password(int argc, char **argv, int first) {
    std::string_view sub = first < argc ? argv[first] : "";
    if (sub == "hash") return password_hash(argc, argv, first + 1);
    if (sub == "verify") return password_verify(argc, argv, first + 1);
    if (sub == "--help" || sub == "-h") {
        out(kPasswordHelp);
        return kOk;
    }
    if (sub.empty()) usage_error("password", "missing subcommand 'hash' or 'verify'");
    usage_error("password", "unknown subcommand '" + std::string(sub) + "'; use 'hash' or 'verify'");
}

}  // namespace kc
