// base64 and base64url: streaming encode and decode in the manner of
// coreutils base64, one library call per block.
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "io.h"
#include "keldo_crypto.h"

namespace kc {

namespace {

// Input is read in blocks of whole 3-byte groups, so only the last block
// can end in a partial group (and, in the standard alphabet, padding).
constexpr size_t kEncodeBlock = 3 * 65536;
constexpr size_t kDecodeBlock = 4 * 65536;

const char kBase64Help[] =
    "Usage: keldo-crypto base64 [OPTION]... [FILE]\n"
    "Base64-encode or decode FILE, or standard input when FILE is - or absent,\n"
    "to standard output. The output is that of coreutils base64.\n"
    "\n"
    "  -d, --decode          decode; line breaks (LF, CR) in the input are ignored\n"
    "  -i, --ignore-garbage  when decoding, drop characters outside the alphabet\n"
    "  -w, --wrap=COLS       wrap encoded lines after COLS characters (default 76);\n"
    "                        0 disables wrapping (and the final newline)\n"
    "  -h, --help            show this help\n"
    "\n"
    "Exit status: 0 success; 1 the input is not valid Base64; 2 usage error;\n"
    "3 FILE could not be read or the output could not be written.\n";

const char kBase64UrlHelp[] =
    "Usage: keldo-crypto base64url [OPTION]... [FILE]\n"
    "As base64, in the URL-safe alphabet of RFC 4648 section 5 ('-' and '_' for\n"
    "'+' and '/') and without '=' padding, as JWTs use it. Decoding also accepts\n"
    "the standard alphabet and padding.\n"
    "\n"
    "  -d, --decode          decode; line breaks (LF, CR) in the input are ignored\n"
    "  -i, --ignore-garbage  when decoding, drop characters outside the alphabet\n"
    "  -w, --wrap=COLS       wrap encoded lines after COLS characters (default 76);\n"
    "                        0 disables wrapping (and the final newline)\n"
    "  -h, --help            show this help\n"
    "\n"
    "Exit status: 0 success; 1 the input is not valid base64url; 2 usage error;\n"
    "3 FILE could not be read or the output could not be written.\n";

struct Codec {
    const char *cmd;
    bool url;
};

void encode(const Codec &c, Stream &in, uint64_t wrap) {
    std::vector<uint8_t> block(kEncodeBlock);
    std::vector<char> text(kEncodeBlock / 3 * 4 + 1);
    uint64_t column = 0;
    for (;;) {
        size_t n = in.read_full(block.data(), block.size());
        if (n == 0) break;
        int32_t rc = c.url ? keldo_crypto_base64url_encode(block.data(), n, text.data(), text.size())
                           : keldo_crypto_base64_encode(block.data(), n, text.data(), text.size());
        if (rc != 0) fail(kIo, std::string(c.cmd) + ": " + keldo_crypto_last_error());
        std::string_view s(text.data());
        if (wrap == 0) {
            out(s);
        } else {
            while (!s.empty()) {
                size_t room = size_t(wrap - column);
                size_t take = s.size() < room ? s.size() : room;
                out(s.substr(0, take));
                s.remove_prefix(take);
                column += take;
                if (column == wrap) {
                    out("\n");
                    column = 0;
                }
            }
        }
        if (n < block.size()) break;
    }
    if (wrap != 0 && column != 0) out("\n");
}

bool in_alphabet(char ch, bool url) {
    if ((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
        ch == '+' || ch == '/')
        return true;
    return url && (ch == '-' || ch == '_');
}

[[noreturn]] void invalid_input(const Codec &c) {
    fail(kCheckFailed, std::string(c.cmd) + ": invalid input");
}

class Decoder {
public:
    explicit Decoder(const Codec &c) : c_(c), bytes_(kDecodeBlock / 4 * 3 + 3) {}

    void feed(char ch, bool ignore_garbage) {
        if (ch == '\n' || ch == '\r') return;
        if (ch == '=') {
            // A group carries at most two pad characters.
            if (pads_ == 2) invalid_input(c_);
            pending_.push_back(ch);
            ++pads_;
            return;
        }
        if (!in_alphabet(ch, c_.url)) {
            if (ignore_garbage) return;
            invalid_input(c_);
        }
        // Padding ends one encoded text; another may follow it directly.
        if (pads_ != 0) {
            flush();
            pads_ = 0;
        }
        pending_.push_back(ch);
        if (pending_.size() == kDecodeBlock) flush();
    }

    // Decodes everything held; the text may end in a partial group.
    void flush() {
        if (pending_.empty()) return;
        uint64_t n = 0;
        int32_t rc = c_.url ? keldo_crypto_base64url_decode(pending_.c_str(), bytes_.data(),
                                                            bytes_.size(), &n)
                            : keldo_crypto_base64_decode(pending_.c_str(), bytes_.data(),
                                                         bytes_.size(), &n);
        if (rc != 0) invalid_input(c_);
        out(bytes_.data(), size_t(n));
        pending_.clear();
    }

private:
    const Codec &c_;
    std::string pending_;
    std::vector<uint8_t> bytes_;
    int pads_ = 0;
};

void decode(const Codec &c, Stream &in, bool ignore_garbage) {
    Decoder dec(c);
    std::vector<char> block(65536);
    for (;;) {
        size_t n = in.read_full(block.data(), block.size());
        for (size_t i = 0; i < n; ++i) dec.feed(block[i], ignore_garbage);
        if (n < block.size()) break;
    }
    dec.flush();
}

int run(const Codec &c, const char *help, int argc, char **argv, int first) {
    static const OptionSpec specs[] = {
        {"help", 'h', false},
        {"decode", 'd', false},
        {"ignore-garbage", 'i', false},
        {"wrap", 'w', true},
    };
    ParsedArgs args = parse_args(c.cmd, argc, argv, first, specs);
    if (args.has("help")) {
        out(help);
        return kOk;
    }
    max_positional(c.cmd, args, 1);
    uint64_t wrap = 76;
    if (const std::string *w = args.value("wrap"))
        wrap = parse_uint(c.cmd, "--wrap", *w, 0, uint64_t(1) << 32);
    Stream in(args.positional.empty() ? std::string("-") : args.positional[0]);
    if (args.has("decode")) decode(c, in, args.has("ignore-garbage"));
    else encode(c, in, wrap);
    return kOk;
}

}  // namespace

int cmd_base64(int argc, char **argv, int first) {
    static const Codec codec{"base64", false};
    return run(codec, kBase64Help, argc, argv, first);
}

int cmd_base64url(int argc, char **argv, int first) {
    static const Codec codec{"base64url", true};
    return run(codec, kBase64UrlHelp, argc, argv, first);
}

}  // namespace kc
