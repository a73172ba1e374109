#include "base64_stream.h"

namespace kc {

namespace {

// The 6-bit value of c in the standard or URL-safe alphabet, or -1.
int value_of(char ch, bool url) {
    auto c = static_cast<unsigned char>(ch);
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == (url ? '-' : '+')) return 62;
    if (c == (url ? '_' : '/')) return 63;
    return -1;
}

}  // namespace

bool Base64StreamDecoder::decode_group(size_t len, bool at_end, std::string &out) {
    const char *in = group_;
    if (len < 2) return false;
    const int a = value_of(in[0], url_), b = value_of(in[1], url_);
    if (a < 0 || b < 0) return false;
    out.push_back(char((a << 2) | (b >> 4)));
    if (len == 2) return url_ && at_end;
    if (in[2] == '=') return len == 4 && in[3] == '=';
    const int c = value_of(in[2], url_);
    if (c < 0) return false;
    out.push_back(char(((b << 4) & 0xF0) | (c >> 2)));
    if (len == 3) return url_ && at_end;
    if (in[3] == '=') return true;
    const int d = value_of(in[3], url_);
    if (d < 0) return false;
    out.push_back(char(((c << 6) & 0xC0) | d));
    return true;
}

bool Base64StreamDecoder::feed(const char *text, size_t n, std::string &out) {
    if (failed_) return false;
    for (size_t i = 0; i < n; ++i) {
        const char ch = text[i];
        if (ch == '\n') continue;
        if (ignore_garbage_ && ch != '=' && value_of(ch, url_) < 0) continue;
        group_[held_++] = ch;
        if (held_ < 4) continue;
        held_ = 0;
        if (!decode_group(4, false, out)) {
            failed_ = true;
            return false;
        }
    }
    return true;
}

bool Base64StreamDecoder::finish(std::string &out) {
    if (failed_) return false;
    if (held_ == 0) return true;
    const size_t len = held_;
    held_ = 0;
    if (!decode_group(len, true, out)) failed_ = true;
    return !failed_;
}

}  // namespace kc
