// keldo-crypto's checksum lists: the line parser and the quoting of names
// in messages.
//
// Input: one flag byte (bit 0 list on standard input, bits 1-2 the list's
// format state, bit 3 UTF-8 locale), then the line.
//  - An accepted line holds 64 hex digits and a name without NUL; written
//    back as sha256sum writes it (escaped when needed), standard or BSD
//    style, it parses to the same entry.
//  - A quoted name is one line of printable text that a POSIX shell (modelled
//    here: '...', "...", $'...' and \') reads back as the name.
#include <cstring>
#include <optional>
#include <string>

#include "checksum.h"
#include "fuzz_support.h"

namespace {

bool is_hex(char c) {
    return std::strchr("0123456789abcdefABCDEF", c) != nullptr && c != '\0';
}

void check_round_trip(const kc::ChecksumEntry &e, bool from_stdin) {
    FUZZ_CHECK(e.hex.size() == 64);
    for (char c : e.hex) FUZZ_CHECK(is_hex(c));
    FUZZ_CHECK(e.name.find('\0') == std::string::npos);
    FUZZ_CHECK(!(from_stdin && e.name == "-"));
    const bool esc = kc::name_needs_escape(e.name);
    const std::string shown = esc ? kc::escape_name(e.name) : e.name;
    FUZZ_CHECK(shown.find_first_of("\n\r") == std::string::npos);
    const std::string lead = esc ? "\\" : "";
    for (const std::string &line :
         {lead + e.hex + "  " + shown, lead + e.hex + " *" + shown,
          lead + "SHA256 (" + shown + ") = " + e.hex}) {
        kc::ChecksumListState fresh;
        std::optional<kc::ChecksumEntry> again = kc::parse_checksum_line(line, from_stdin, fresh);
        if (e.name.empty()) {
            // "HEX  " has no name; only the BSD form can carry an empty one.
            if (line[lead.size()] != 'S') continue;
        }
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(again->name == e.name);
        FUZZ_CHECK(again->hex == e.hex);
    }
}

int octal(char c) { return c >= '0' && c <= '7' ? c - '0' : -1; }

// What a POSIX shell (bash's $'...' included) makes of one word.
std::optional<std::string> shell_read(const std::string &w) {
    std::string out;
    size_t i = 0;
    while (i < w.size()) {
        char c = w[i];
        if (c == '\'') {
            size_t end = w.find('\'', i + 1);
            if (end == std::string::npos) return std::nullopt;
            out.append(w, i + 1, end - i - 1);
            i = end + 1;
        } else if (c == '"') {
            size_t end = w.find('"', i + 1);
            if (end == std::string::npos) return std::nullopt;
            std::string inner = w.substr(i + 1, end - i - 1);
            // The quoter uses double quotes only around text without $ ` \ " !.
            if (inner.find_first_of("$`\\!") != std::string::npos) return std::nullopt;
            out += inner;
            i = end + 1;
        } else if (c == '$' && i + 1 < w.size() && w[i + 1] == '\'') {
            i += 2;
            for (;;) {
                if (i >= w.size()) return std::nullopt;
                if (w[i] == '\'') {
                    ++i;
                    break;
                }
                if (w[i] != '\\' || i + 1 >= w.size()) return std::nullopt;
                char e = w[i + 1];
                const char *simple = std::strchr("abfnrtv", e);
                if (simple != nullptr && e != '\0') {
                    out.push_back("\a\b\f\n\r\t\v"[simple - "abfnrtv"]);
                    i += 2;
                } else if (i + 3 < w.size() && octal(w[i + 1]) >= 0 && octal(w[i + 2]) >= 0 &&
                           octal(w[i + 3]) >= 0) {
                    out.push_back(char(octal(w[i + 1]) * 64 + octal(w[i + 2]) * 8 + octal(w[i + 3])));
                    i += 4;
                } else {
                    return std::nullopt;
                }
            }
        } else if (c == '\\' && i + 1 < w.size()) {
            out.push_back(w[i + 1]);
            i += 2;
        } else {
            // Unquoted: only characters no shell treats specially.
            if (std::strchr(" \t\n!\"$&'()*;<>?[\\^`|", c) != nullptr) return std::nullopt;
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

void check_quote(const std::string &name, bool utf8) {
    const std::string q = kc::quote_name(name, utf8);
    FUZZ_CHECK(!q.empty());
    for (char c : q) FUZZ_CHECK(c != '\n' && c != '\r' && c != '\0');
    if (!utf8)
        for (char c : q) FUZZ_CHECK(c >= 0x20 && c < 0x7F);
    std::optional<std::string> back = shell_read(q);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(*back == name);
    // A colon would be read as a separator in "NAME: message".
    if (name.find(':') != std::string::npos) FUZZ_CHECK(q != name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Reader r(data, size);
    const uint8_t flags = r.byte();
    const std::vector<uint8_t> rest = r.rest();
    const std::string line(rest.begin(), rest.end());
    const bool from_stdin = (flags & 1) != 0;
    kc::ChecksumListState state;
    state.bsd_reversed = int((flags >> 1) & 3) % 3 - 1;
    const int before = state.bsd_reversed;
    std::optional<kc::ChecksumEntry> e = kc::parse_checksum_line(line, from_stdin, state);
    // The format, once decided, stays.
    if (before != -1) FUZZ_CHECK(state.bsd_reversed == before);
    if (e) check_round_trip(*e, from_stdin);
    check_quote(line, (flags & 8) != 0);
    return 0;
}
