// password hash / password verify: PBKDF2-HMAC-SHA256 password hashes in the
// PHC string format, and verification of those and of Django's format.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/random.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "io.h"
#include "keldo_crypto.h"
#include "stored_hash.h"

namespace kc {

namespace {

// OWASP's current recommendation for PBKDF2-HMAC-SHA256.
constexpr uint32_t kDefaultIterations = 600000;
// Far above any real deployment; a stored hash cannot make us spin for hours.
constexpr uint64_t kMaxIterations = kMaxStoredIterations;
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;
constexpr size_t kMaxPassword = 4096;
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
    "STORED is either\n"
    "  $pbkdf2-sha256$i=N$SALT$HASH      (PHC format, as 'password hash' writes), or\n"
    "  pbkdf2_sha256$N$SALT$HASH         (Django; SALT is used as text)\n"
    "HASH must be a 32-byte key (43 characters in PHC, 44 in Django); any other\n"
    "length, a non-canonical Base64 spelling or iterations outside 1 to\n"
    "100000000 make STORED malformed (exit 1). In a shell, put STORED in single\n"
    "quotes: it holds '$' signs. The password is read as for 'password hash'\n"
    "(once from a terminal).\n"
    "\n"
    "      --hash-file FILE      read STORED from the first line of FILE\n"
    "      --password-file FILE  read the password from the first line of FILE\n"
    "  -q, --quiet               print nothing; the exit status tells\n"
    "  -h, --help                show this help\n"
    "\n"
    "Exit status: 0 the password matches; 1 it does not, or STORED is not a hash\n"
    "in one of these formats; 2 usage error; 3 input/output error.\n";

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

// ---- Encodings -----------------------------------------------------------

// Standard Base64 through the library, padding kept or dropped.
std::string b64(const uint8_t *data, size_t len, bool pad) {
    std::string text((len + 2) / 3 * 4 + 1, '\0');
    if (keldo_crypto_base64_encode(data, len, text.data(), text.size()) != 0)
        fail(kCheckFailed, std::string("password: ") + keldo_crypto_last_error());
    text.resize(text.find('\0'));
    if (!pad)
        while (!text.empty() && text.back() == '=') text.pop_back();
    return text;
}

void derive(std::string_view cmd, const std::string &pw, const uint8_t *salt, size_t salt_len,
            uint32_t iterations, uint8_t *out, size_t out_len) {
    if (keldo_crypto_pbkdf2_sha256(pw.data(), pw.size(), salt, salt_len, iterations, out,
                                   out_len) != 0)
        fail(kCheckFailed, std::string(cmd) + ": " + keldo_crypto_last_error());
}

void random_bytes(uint8_t *p, size_t len) {
    while (len > 0) {
        ssize_t n = getrandom(p, len, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail_io("password hash: random source", errno);
        }
        p += n;
        len -= size_t(n);
    }
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
    uint32_t iterations = kDefaultIterations;
    if (const std::string *n = args.value("iterations"))
        iterations = uint32_t(parse_uint(cmd, "--iterations", *n, 1, kMaxIterations));

    std::string pw = read_password(cmd, args, true);
    WipeGuard pw_guard(pw);
    if (pw.empty()) fail(kCheckFailed, std::string(cmd) + ": the password is empty");
    uint8_t salt[kSaltBytes];
    uint8_t dk[kHashBytes];
    random_bytes(salt, sizeof salt);
    derive(cmd, pw, salt, sizeof salt, iterations, dk, sizeof dk);
    out("$pbkdf2-sha256$i=" + std::to_string(iterations) + "$" + b64(salt, sizeof salt, false) +
        "$" + b64(dk, sizeof dk, false) + "\n");
    wipe(dk, sizeof dk);
    return kOk;
}

bool matches(const std::string &pw, const StoredHash &st) {
    std::vector<uint8_t> dk(st.expected.size());
    derive("password verify", pw, st.salt.data(), st.salt.size(), st.iterations, dk.data(),
           dk.size());
    bool match;
    if (st.django) {
        // Django compares the Base64 texts; so do we.
        std::string computed = b64(dk.data(), dk.size(), true);
        match = keldo_verify_password_hash(computed.c_str(), st.hash_text.c_str()) == 0;
        wipe(computed);
    } else {
        match = keldo_crypto_secure_compare(dk.data(), st.expected.data(), dk.size()) == 0;
    }
    wipe(dk.data(), dk.size());
    return match;
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

    StoredHash st;
    std::string why;
    if (!parse_stored_hash(stored, &st, &why)) fail(kCheckFailed, std::string(cmd) + ": " + why);

    std::string pw = read_password(cmd, args, false);
    WipeGuard pw_guard(pw);
    bool match = matches(pw, st);
    if (!match) fail(kCheckFailed, std::string(cmd) + ": the password does not match");
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
