// base64 and base64url: streaming encode and decode in the manner of
// coreutils base64; encoding is one library call per block.
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "io.h"
#include "base64_stream.h"
#include "keldo_crypto.h"

namespace kc {

namespace {

// Input is read in blocks of whole 3-byte groups, so only the last block
// can end in a partial group (and, in the standard alphabet, padding).
constexpr size_t kEncodeBlock = 3 * 65536;

const char kBase64Help[] =
    "Usage: keldo-crypto base64 [OPTION]... [FILE]\n"
    "Base64-encode or decode FILE, or standard input when FILE is - or absent,\n"
    "to standard output. The output is that of coreutils base64.\n"
    "\n"
    "  -d, --decode          decode, as coreutils base64 -d does: LF is skipped\n"
    "                        anywhere; the text is groups of four characters, each\n"
    "                        xxxx, xxx= or xx== (padded groups may follow each\n"
    "                        other); any other byte (CR included), an '=' elsewhere\n"
    "                        or a partial final group is refused, after writing\n"
    "                        the bytes decoded before it\n"
    "  -i, --ignore-garbage  when decoding, drop bytes outside the alphabet and '='\n"
    "  -w, --wrap=COLS       wrap encoded lines after COLS characters (default 76);\n"
    "                        0 disables wrapping (and the final newline)\n"
    "  -h, --help            show this help\n"
    "\n"
    "Exit status: 0 success; 1 the input is not valid Base64; 2 usage error;\n"
    "3 FILE could not be read or the output could not be written.\n";

const char kBase64UrlHelp[] =
    "Usage: keldo-crypto base64url [OPTION]... [FILE]\n"
    "As base64, in the URL-safe alphabet of RFC 4648 section 5 ('-' and '_' for\n"
    "'+' and '/') and without '=' padding, as JWTs use it. Decoding follows the\n"
    "rules of base64 -d in this alphabet only ('+' and '/' are refused), with\n"
    "padding optional: a final group of two or three characters stands alone.\n"
    "\n"
    "  -d, --decode          decode; LF is skipped anywhere, any other byte outside\n"
    "                        the alphabet is refused (after the bytes before it)\n"
    "  -i, --ignore-garbage  when decoding, drop bytes outside the alphabet and '='\n"
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

// Writes what was decoded before a fault, then refuses, as coreutils does.
void decode(const Codec &c, Stream &in, bool ignore_garbage) {
    Base64StreamDecoder dec(c.url, ignore_garbage);
    std::vector<char> block(65536);
    std::string bytes;
    bytes.reserve(block.size() / 4 * 3 + 3);
    bool ok = true;
    for (;;) {
        size_t n = in.read_full(block.data(), block.size());
        ok = dec.feed(block.data(), n, bytes);
        if (ok && n < block.size()) ok = dec.finish(bytes);
        out(bytes);
        bytes.clear();
        if (!ok) fail(kCheckFailed, std::string(c.cmd) + ": invalid input");
        if (n < block.size()) break;
    }
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
