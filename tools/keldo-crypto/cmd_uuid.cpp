// uuid: random version 4 UUIDs, one a line, like uuidgen -r.
#include <string>

#include "cli.h"
#include "commands.h"
#include "io.h"
#include "keldo_crypto.h"

namespace kc {

namespace {

constexpr uint64_t kMaxCount = 1000000;

const char kUuidHelp[] =
    "Usage: keldo-crypto uuid [-n COUNT]\n"
    "Print COUNT (default 1, at most 1000000) random version 4 UUIDs, one a line,\n"
    "in lowercase. The randomness comes from the operating system's secure source.\n"
    "\n"
    "  -n, --count=COUNT  how many to print\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit status: 0 success; 2 usage error; 3 the random source failed or the\n"
    "output could not be written.\n";

}  // namespace

int cmd_uuid(int argc, char **argv, int first) {
    static const OptionSpec specs[] = {
        {"help", 'h', false},
        {"count", 'n', true},
    };
    ParsedArgs args = parse_args("uuid", argc, argv, first, specs);
    if (args.has("help")) {
        out(kUuidHelp);
        return kOk;
    }
    max_positional("uuid", args, 0);
    uint64_t count = 1;
    if (const std::string *n = args.value("count"))
        count = parse_uint("uuid", "COUNT", *n, 1, kMaxCount);
    char text[37];
    for (uint64_t i = 0; i < count; ++i) {
        if (keldo_crypto_uuid_generate(text) != 0)
            fail(kIo, std::string("uuid: ") + keldo_crypto_last_error());
        text[36] = '\n';
        out(text, sizeof text);
    }
    return kOk;
}

}  // namespace kc
