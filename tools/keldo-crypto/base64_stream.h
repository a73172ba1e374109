// Streaming Base64 and base64url decoding with the rules of coreutils
// base64 -d (gnulib's decoder): the text is read in groups of four
// characters, line feeds anywhere are skipped, and each group is "xxxx",
// "xxx=" or "xx==". Padded groups may follow each other ("QQ==QUJD" is
// "AABC"), but an '=' elsewhere, a character outside the alphabet (CR
// included) or a partial group at the end makes the text invalid. The
// bytes decoded before the fault, those of the faulty group's leading
// valid characters included, are still delivered, as coreutils writes them.
//
// base64url uses its own alphabet ('-' and '_' in place of '+' and '/'),
// the same groups, and optional padding: a final group of two or three
// characters stands on its own.
//
// ignore_garbage (-i) drops every byte outside the alphabet and '=' before
// the groups are formed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kc {

class Base64StreamDecoder {
public:
    Base64StreamDecoder(bool url, bool ignore_garbage) : url_(url), ignore_garbage_(ignore_garbage) {}

    // Decodes the next n characters of the text, appending bytes to out.
    // false from the first fault on (out then holds the bytes to write
    // before refusing); later calls do nothing and return false.
    bool feed(const char *text, size_t n, std::string &out);
    // The end of the text: a pending partial group is decoded or refused.
    bool finish(std::string &out);

private:
    // gnulib's decode_4 on the first len characters of group_; at_end tells
    // base64url that an unpadded final group is complete.
    bool decode_group(size_t len, bool at_end, std::string &out);

    bool url_;
    bool ignore_garbage_;
    bool failed_ = false;
    char group_[4] = {};
    size_t held_ = 0;
};

}  // namespace kc
