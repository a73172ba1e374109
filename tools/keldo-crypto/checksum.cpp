#include "checksum.h"

namespace kc {

namespace {

bool is_white(char c) { return c == ' ' || c == '\t'; }

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Exactly 64 hexadecimal digits.
bool is_digest_hex(std::string_view s) {
    if (s.size() != 64) return false;
    for (char c : s)
        if (!is_hex(c)) return false;
    return true;
}

// \\, \n and \r only; a lone trailing backslash, any other escape or a NUL
// make the name invalid.
std::optional<std::string> unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
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

// An unescaped name is a C string in sha256sum: it ends at a NUL.
std::string up_to_nul(std::string_view s) { return std::string(s.substr(0, s.find('\0'))); }

std::optional<ChecksumEntry> finish(std::string_view hex, std::string_view name, bool escaped,
                                    bool from_stdin) {
    ChecksumEntry e;
    if (escaped) {
        auto plain = unescape(name);
        if (!plain) return std::nullopt;
        e.name = std::move(*plain);
    } else {
        e.name = up_to_nul(name);
    }
    if (from_stdin && e.name == "-") return std::nullopt;
    if (!is_digest_hex(hex)) return std::nullopt;
    e.hex = hex;
    return e;
}

}  // namespace

bool name_needs_escape(std::string_view name) {
    return name.find_first_of("\\\n\r") != std::string_view::npos;
}

std::string escape_name(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 8);
    for (char c : name) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out.push_back(c);
    }
    return out;
}

std::optional<ChecksumEntry> parse_checksum_line(std::string_view s, bool from_stdin,
                                                 ChecksumListState &state) {
    size_t i = 0;
    while (i < s.size() && is_white(s[i])) ++i;
    bool escaped = false;
    if (i < s.size() && s[i] == '\\') {
        escaped = true;
        ++i;
    }
    std::string_view rest = s.substr(i);
    if (rest.starts_with("SHA256")) {
        rest.remove_prefix(6);
        if (rest.starts_with(' ')) rest.remove_prefix(1);
        if (!rest.starts_with('(')) return std::nullopt;
        rest.remove_prefix(1);
        if (rest.empty()) return std::nullopt;
        // The name ends at the last ')'.
        size_t close = rest.rfind(')');
        if (close == std::string_view::npos) return std::nullopt;
        std::string_view name = rest.substr(0, close);
        size_t j = close + 1;
        while (j < rest.size() && is_white(rest[j])) ++j;
        if (j == rest.size() || rest[j] != '=') return std::nullopt;
        ++j;
        while (j < rest.size() && is_white(rest[j])) ++j;
        // The digits run to the end of the line (or to a NUL, which then
        // fails the count).
        return finish(up_to_nul(rest.substr(j)), name, escaped, from_stdin);
    }
    // The digest, one blank and a name of at least one byte; one byte more
    // when the name starts with a backslash.
    const size_t min_len = 64 + 1 + 1 + (i < s.size() && s[i] == '\\' ? 1 : 0);
    if (rest.size() < min_len) return std::nullopt;
    std::string_view hex = rest.substr(0, 64);
    if (!is_white(rest[64])) return std::nullopt;
    if (!is_digest_hex(up_to_nul(hex))) return std::nullopt;
    std::string_view name = rest.substr(65);
    if (name.size() == 1 || (name[0] != ' ' && name[0] != '*')) {
        if (state.bsd_reversed == 0) return std::nullopt;
        state.bsd_reversed = 1;
    } else if (state.bsd_reversed != 1) {
        state.bsd_reversed = 0;
        name.remove_prefix(1);
    }
    return finish(hex, name, escaped, from_stdin);
}

namespace {

// The length of the valid UTF-8 character at s[i] from U+00A0 up, or 0.
size_t printable_utf8(std::string_view s, size_t i) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    auto cont = [&](size_t k) { return i + k < s.size() && (b(k) & 0xC0) == 0x80; };
    unsigned char c = b(0);
    uint32_t cp;
    size_t n;
    if (c >= 0xC2 && c <= 0xDF) n = 2, cp = c & 0x1Fu;
    else if (c >= 0xE0 && c <= 0xEF) n = 3, cp = c & 0x0Fu;
    else if (c >= 0xF0 && c <= 0xF4) n = 4, cp = c & 0x07u;
    else return 0;
    for (size_t k = 1; k < n; ++k) {
        if (!cont(k)) return 0;
        cp = (cp << 6) | (b(k) & 0x3Fu);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp < 0xA0)
        return 0;
    return n;
}

bool is_safe_ascii(char c, size_t pos) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '%': case '+': case ',': case '-': case '.': case '/': case '@':
        case ']': case '_': case '{': case '}':
            return true;
        case '#': case '~':
            return pos != 0;  // only a leading one means something to a shell
        default:
            return false;
    }
}

bool is_printable_ascii(char c) { return c >= 0x20 && c < 0x7F; }

void c_escape(std::string &out, unsigned char c) {
    switch (c) {
        case '\a': out += "\\a"; return;
        case '\b': out += "\\b"; return;
        case '\f': out += "\\f"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        case '\v': out += "\\v"; return;
        default:
            out.push_back('\\');
            out.push_back(char('0' + (c >> 6)));
            out.push_back(char('0' + ((c >> 3) & 7)));
            out.push_back(char('0' + (c & 7)));
    }
}

}  // namespace

std::string quote_name(std::string_view name, bool utf8) {
    if (name.empty()) return "''";
    bool plain = true, unprintable = false, apostrophe = false, double_special = false;
    for (size_t i = 0; i < name.size();) {
        char c = name[i];
        if (utf8) {
            if (size_t n = printable_utf8(name, i)) {
                i += n;
                continue;
            }
        }
        if (!is_safe_ascii(c, i)) plain = false;
        if (!is_printable_ascii(c)) unprintable = true;
        if (c == '\'') apostrophe = true;
        if (c == '"' || c == '$' || c == '`' || c == '\\' || c == '!') double_special = true;
        ++i;
    }
    if (plain) return std::string(name);
    if (apostrophe && !unprintable && !double_special) {
        std::string out(1, '"');
        out.append(name);
        out.push_back('"');
        return out;
    }
    std::string out = "'";
    bool in_escape = false;  // inside a $'...' run, outside the single quotes
    for (size_t i = 0; i < name.size();) {
        size_t n = utf8 ? printable_utf8(name, i) : 0;
        char c = name[i];
        if (n == 0 && !is_printable_ascii(c)) {
            if (!in_escape) {
                out += "'$'";
                in_escape = true;
            }
            c_escape(out, static_cast<unsigned char>(c));
            ++i;
            continue;
        }
        if (in_escape) {
            out += "''";
            in_escape = false;
        }
        if (n == 0) n = 1;
        if (c == '\'') out += "'\\''";
        else out.append(name.substr(i, n));
        i += n;
    }
    out.push_back('\'');
    return out;
}

}  // namespace kc
