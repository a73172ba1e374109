// jwt mint / verify / decode: the library's HS256 tokens.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "io.h"
#include "json_print.h"
#include "keldo_crypto.h"

namespace kc {

namespace {

constexpr const char *kDefaultSecretEnv = "KELDO_JWT_SECRET";
constexpr size_t kMaxSecret = 65536;
constexpr size_t kMaxToken = size_t(1) << 20;
constexpr size_t kMaxSubBytes = 64;     // with its NUL
constexpr size_t kMaxEmailBytes = 128;  // with its NUL

const char kJwtHelp[] =
    "Usage: keldo-crypto jwt mint --sub SUB --email EMAIL [--ttl SECONDS] [SECRET-OPTION]\n"
    "       keldo-crypto jwt verify [SECRET-OPTION] [TOKEN | -]\n"
    "       keldo-crypto jwt decode [TOKEN | -]\n"
    "HS256 JSON Web Tokens with the claims sub, email, iss (\"keldo\"), exp and nbf.\n"
    "\n"
    "SECRET-OPTION says where the signing secret comes from, never the command line:\n"
    "      --secret-file FILE  the bytes of FILE, less one final LF if there is one\n"
    "                          (a CR is part of the secret, and so is any NUL)\n"
    "      --secret-env VAR    the value of environment variable VAR, any bytes\n"
    "  Without either, the variable KELDO_JWT_SECRET. An empty secret is refused.\n"
    "  Both may be given again, up to 16 secrets in all, to rotate the secret: the\n"
    "  first is the current one, with which 'mint' signs; 'verify' accepts a\n"
    "  token signed with any of them.\n"
    "\n"
    "Run 'keldo-crypto jwt mint --help' and so on for each subcommand.\n";

const char kMintHelp[] =
    "Usage: keldo-crypto jwt mint --sub SUB --email EMAIL [--ttl SECONDS]\n"
    "                             [--secret-file FILE | --secret-env VAR]...\n"
    "Mint a token for SUB and EMAIL, valid from now for SECONDS (default 3600,\n"
    "0 to 4294967295), and print it. The secret comes from FILE (its bytes, NUL\n"
    "included, less one final LF), from the variable VAR, or by default from\n"
    "KELDO_JWT_SECRET; never from the command line. Given several secrets, the\n"
    "first signs (the others are read and checked too, as 'jwt verify' would\n"
    "read them, so one configuration serves both). SUB must be under 64 bytes\n"
    "and EMAIL under 128, the most 'jwt verify' accepts; longer ones are refused\n"
    "before minting (exit 2).\n"
    "\n"
    "  -h, --help   show this help\n"
    "\n"
    "Exit status: 0 success; 1 the library refused (the message says why);\n"
    "2 usage error or no secret; 3 the secret file could not be read.\n";

const char kVerifyHelp[] =
    "Usage: keldo-crypto jwt verify [--secret-file FILE | --secret-env VAR]... [TOKEN | -]\n"
    "Verify TOKEN (or one read from standard input when TOKEN is - or absent)\n"
    "against the secret and the clock, and print its claims as one line of JSON:\n"
    "  {\"sub\":\"...\",\"email\":\"...\",\"exp\":N}\n"
    "Given several secrets (the current one first), a token signed with any of\n"
    "them is accepted, and standard error says which one matched, as\n"
    "  jwt verify: signed with secret 2 of 3\n"
    "so that a token under an older secret can be replaced. Only a bad signature\n"
    "tries the next secret: an expired token is refused whichever signed it.\n"
    "The token is taken exactly as given; from standard input, only the LF that\n"
    "ends it is removed. A refused token prints the library's reason on standard\n"
    "error. Prefer '-': a token on the command line is visible to other users.\n"
    "Several spellings of one signature verify (with '=' padding, trailing\n"
    "blanks, '+' and '/', non-zero unused bits): a denylist must key on the\n"
    "claims (sub and exp), never on the token text.\n"
    "\n"
    "  -h, --help   show this help\n"
    "\n"
    "Exit status: 0 the token is valid; 1 it was refused; 2 usage error or no\n"
    "secret; 3 input/output error.\n";

const char kDecodeHelp[] =
    "Usage: keldo-crypto jwt decode [TOKEN | -]\n"
    "Show the header and the payload of TOKEN (or of one read from standard input)\n"
    "as pretty-printed JSON, one document after the other. NOTHING IS VERIFIED:\n"
    "not the signature, not the issuer, not the times. Use 'jwt verify' for that.\n"
    "The token is taken as 'jwt verify' takes it. The header and the payload\n"
    "segments are refused past 2047 characters, as verification refuses the\n"
    "payload, and documents nested more than 32 arrays and objects deep are\n"
    "refused, so the output stays small whatever the token.\n"
    "\n"
    "  -h, --help   show this help\n"
    "\n"
    "Exit status: 0 success; 1 the token cannot be decoded; 2 usage error;\n"
    "3 input/output error.\n";

const OptionSpec kSecretSpecs[] = {
    {"secret-file", 0, true},
    {"secret-env", 0, true},
};

// One secret from a file or a variable: any bytes, never empty.
std::string read_one_secret(std::string_view cmd, bool from_file, const std::string &where) {
    std::string secret;
    if (from_file) {
        secret = read_small_file(cmd, where, kMaxSecret, "secret");
        // Exactly one LF, as an editor or `echo` leaves it; a CR is part of
        // the secret, as it is for every other reader of the file.
        if (!secret.empty() && secret.back() == '\n') {
            secret.back() = '\0';
            secret.pop_back();
        }
    } else {
        const char *v = std::getenv(where.c_str());
        if (v == nullptr)
            usage_error(cmd, "no secret: set " + where + " or give --secret-file FILE");
        size_t len = std::strlen(v);
        secret.reserve(len);
        secret.assign(v, len);
    }
    // Any bytes, NUL included: the library takes the secret with its length.
    if (secret.empty()) usage_error(cmd, "the secret is empty");
    return secret;
}

// The key ring of the secret options in command-line order, each secret
// prepared and its bytes wiped at once; KELDO_JWT_SECRET when none is given.
// The keys are wiped when the ring goes.
class KeyRing {
public:
    KeyRing(std::string_view cmd, const ParsedArgs &args) {
        protect_secrets();
        std::vector<std::pair<bool, std::string>> sources;
        for (const auto &[name, value] : args.options)
            if (name == "secret-file" || name == "secret-env")
                sources.emplace_back(name == "secret-file", value);
        if (sources.empty()) sources.emplace_back(false, kDefaultSecretEnv);
        if (sources.size() > KELDO_JWT_KEYS_MAX)
            usage_error(cmd, "at most " + std::to_string(KELDO_JWT_KEYS_MAX) +
                                 " secrets may be given");
        size_t from_stdin = 0;
        for (const auto &[from_file, where] : sources) from_stdin += from_file && where == "-";
        if (from_stdin > 1) usage_error(cmd, "standard input can hold one secret only");
        for (const auto &[from_file, where] : sources) {
            std::string secret = read_one_secret(cmd, from_file, where);
            WipeGuard guard(secret);
            keys_.emplace_back();
            if (keldo_jwt_key_init(&keys_.back(), secret.data(), secret.size()) != KELDO_OK)
                fail(kCheckFailed, std::string(cmd) + ": the secret cannot be used");
        }
    }
    ~KeyRing() {
        for (keldo_jwt_key &k : keys_) keldo_jwt_key_wipe(&k);
    }
    KeyRing(const KeyRing &) = delete;
    KeyRing &operator=(const KeyRing &) = delete;

    const keldo_jwt_key *data() const { return keys_.data(); }
    uint32_t size() const { return uint32_t(keys_.size()); }

private:
    std::vector<keldo_jwt_key> keys_;
};

bool secret_on_stdin(const ParsedArgs &args) {
    for (const auto &[name, value] : args.options)
        if (name == "secret-file" && value == "-") return true;
    return false;
}

// The token exactly as given: an argument as it is, standard input without
// the one LF that ends its line. Nothing else is trimmed.
std::string read_token(std::string_view cmd, const ParsedArgs &args) {
    max_positional(cmd, args, 1);
    std::string token;
    if (!args.positional.empty() && args.positional[0] != "-") {
        token = args.positional[0];
    } else {
        Stream in("-");
        token.resize(kMaxToken + 2);
        token.resize(in.read_full(token.data(), token.size()));
        if (!token.empty() && token.back() == '\n') token.pop_back();
        if (token.size() > kMaxToken)
            fail(kCheckFailed, std::string(cmd) + ": the token on standard input is longer than " +
                                   std::to_string(kMaxToken) + " bytes");
    }
    if (token.find('\0') != std::string::npos)
        fail(kCheckFailed, std::string(cmd) + ": the token holds a NUL byte");
    return token;
}

void json_string(std::string &out, std::string_view s) {
    static const char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (char ch : s) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(hex[c >> 4]);
                    out.push_back(hex[c & 15]);
                } else {
                    out.push_back(ch);
                }
        }
    }
    out.push_back('"');
}

int jwt_mint(int argc, char **argv, int first) {
    static const OptionSpec specs[] = {
        {"help", 'h', false}, {"sub", 0, true},           {"email", 0, true},
        {"ttl", 0, true},     kSecretSpecs[0], kSecretSpecs[1],
    };
    const char *cmd = "jwt mint";
    ParsedArgs args = parse_args(cmd, argc, argv, first, specs);
    if (args.has("help")) {
        out(kMintHelp);
        return kOk;
    }
    max_positional(cmd, args, 0);
    const std::string *sub = args.value("sub");
    const std::string *email = args.value("email");
    if (sub == nullptr || email == nullptr) usage_error(cmd, "--sub and --email are required");
    uint32_t ttl = 3600;
    if (const std::string *t = args.value("ttl"))
        ttl = uint32_t(parse_uint(cmd, "--ttl", *t, 0, 4294967295u));
    // Verification copies the claims into buffers of 64 and 128 bytes with
    // their NUL: mint nothing that it would refuse.
    if (sub->size() >= kMaxSubBytes)
        usage_error(cmd, "--sub is " + std::to_string(sub->size()) + " bytes; it must be under " +
                             std::to_string(kMaxSubBytes) + ", or 'jwt verify' refuses the token");
    if (email->size() >= kMaxEmailBytes)
        usage_error(cmd, "--email is " + std::to_string(email->size()) +
                             " bytes; it must be under " + std::to_string(kMaxEmailBytes) +
                             ", or 'jwt verify' refuses the token");
    const KeyRing ring(cmd, args);
    char token[KELDO_JWT_TOKEN_MAX];
    const int32_t rc = keldo_jwt_mint_k(ring.data(), sub->c_str(), email->c_str(), ttl, token,
                                        sizeof token, nullptr);
    if (rc != KELDO_OK) fail(kCheckFailed, keldo_crypto_status_text(rc));
    out(token);
    out("\n");
    return kOk;
}

int jwt_verify(int argc, char **argv, int first) {
    static const OptionSpec specs[] = {
        {"help", 'h', false},
        kSecretSpecs[0],
        kSecretSpecs[1],
    };
    const char *cmd = "jwt verify";
    ParsedArgs args = parse_args(cmd, argc, argv, first, specs);
    if (args.has("help")) {
        out(kVerifyHelp);
        return kOk;
    }
    max_positional(cmd, args, 1);
    if (secret_on_stdin(args) && (args.positional.empty() || args.positional[0] == "-"))
        usage_error(cmd, "standard input cannot hold both the secret and the token");
    const KeyRing ring(cmd, args);
    std::string token = read_token(cmd, args);
    char sub[kMaxSubBytes];
    char email[kMaxEmailBytes];
    int64_t exp = 0;
    uint32_t matched = 0;
    const int32_t rc = keldo_jwt_verify_k(ring.data(), ring.size(), token.c_str(), sub, email,
                                          &exp, &matched);
    if (rc != KELDO_OK) fail(kCheckFailed, keldo_crypto_status_text(rc));
    std::string line = "{\"sub\":";
    json_string(line, sub);
    line += ",\"email\":";
    json_string(line, email);
    line += ",\"exp\":" + std::to_string(exp) + "}\n";
    out(line);
    // Standard output stays what it has always been; which secret matched
    // is news for whoever rotates them, on standard error, after the claims.
    if (ring.size() > 1) {
        finish_output();
        warn("jwt verify: signed with secret " + std::to_string(matched + 1) + " of " +
             std::to_string(ring.size()));
    }
    return kOk;
}

// One segment, base64url-decoded and pretty-printed; refusals name it.
std::string pretty_segment(std::string_view cmd, std::string_view what, std::string_view segment) {
    const std::string prefix = std::string(cmd) + ": the " + std::string(what);
    if (segment.size() > kMaxSegmentChars)
        fail(kCheckFailed, prefix + " segment is longer than " +
                               std::to_string(kMaxSegmentChars) + " characters");
    std::string encoded(segment);
    uint8_t bytes[kMaxSegmentChars];
    uint64_t n = 0;
    if (keldo_crypto_base64url_decode(encoded.c_str(), bytes, sizeof bytes, &n) != 0)
        fail(kCheckFailed, prefix + " is not base64url");
    std::string text, detail;
    switch (print_json_bounded(bytes, size_t(n), &text, &detail)) {
        case JsonPrint::kOk: return text;
        case JsonPrint::kNotJson: fail(kCheckFailed, prefix + " is not JSON (" + detail + ")");
        case JsonPrint::kTooDeep:
            fail(kCheckFailed, prefix + " nests arrays and objects more than " +
                                   std::to_string(kMaxJsonDepth) + " deep");
        case JsonPrint::kNoMemory: break;
    }
    fail(kCheckFailed, prefix + " cannot be shown: out of memory");
}

int jwt_decode(int argc, char **argv, int first) {
    static const OptionSpec specs[] = {{"help", 'h', false}};
    const char *cmd = "jwt decode";
    ParsedArgs args = parse_args(cmd, argc, argv, first, specs);
    if (args.has("help")) {
        out(kDecodeHelp);
        return kOk;
    }
    std::string token = read_token(cmd, args);
    size_t dot1 = token.find('.');
    size_t dot2 = dot1 == std::string::npos ? dot1 : token.find('.', dot1 + 1);
    if (dot2 == std::string::npos || token.find('.', dot2 + 1) != std::string::npos)
        fail(kCheckFailed, std::string(cmd) + ": not a token of three dot-separated segments");
    std::string_view t(token);
    std::string header = pretty_segment(cmd, "header", t.substr(0, dot1));
    std::string payload = pretty_segment(cmd, "payload", t.substr(dot1 + 1, dot2 - dot1 - 1));
    warn("jwt decode: NOT VERIFIED: the signature, issuer and times were not checked");
    out(header);
    out(payload);
    return kOk;
}

}  // namespace

int cmd_jwt(int argc, char **argv, int first) {
    std::string_view sub = first < argc ? argv[first] : "";
    if (sub == "mint") return jwt_mint(argc, argv, first + 1);
    if (sub == "verify") return jwt_verify(argc, argv, first + 1);
    if (sub == "decode") return jwt_decode(argc, argv, first + 1);
    if (sub == "--help" || sub == "-h") {
        out(kJwtHelp);
        return kOk;
    }
    if (sub.empty()) usage_error("jwt", "missing subcommand 'mint', 'verify' or 'decode'");
    usage_error("jwt", "unknown subcommand '" + std::string(sub) +
                           "'; use 'mint', 'verify' or 'decode'");
}

}  // namespace kc
