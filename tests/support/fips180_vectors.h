// The SHA-256 example messages of FIPS 180-4 (and its companion example
// data) with their published digests, for every suite that hashes them.
#pragma once

#include <string>
#include <vector>

namespace fips180 {

// SHA-256 of the empty message.
constexpr char kEmptyDigest[] =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

struct Example {
    std::string message;
    const char *digest;  // lowercase hex
};

inline const std::vector<Example> &sha256_examples() {
    static const std::vector<Example> examples = {
        {"", kEmptyDigest},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopq"
         "klmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    return examples;
}

}  // namespace fips180
