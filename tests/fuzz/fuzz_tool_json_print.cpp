// The bounded printer of keldo-crypto's `jwt decode`. A document is printed
// exactly when it is JSON nested at most kMaxJsonDepth deep (depth counted
// here on the text, outside strings); the printed text reads back as the
// same document; and the output is bounded by the input's length times the
// widest indentation, so no input can make it grow with the square.
//
// Input: the decoded segment (at most the 1535 bytes a 2047-character
// segment decodes to; longer inputs are cut).
#include <yyjson.h>

#include <algorithm>
#include <string>

#include "fuzz_support.h"
#include "json_print.h"

namespace {

// The deepest nesting of [ and { outside strings.
size_t text_depth(const uint8_t *p, size_t n) {
    size_t depth = 0, deepest = 0;
    bool in_string = false;
    for (size_t i = 0; i < n; ++i) {
        char c = char(p[i]);
        if (in_string) {
            if (c == '\\') ++i;
            else if (c == '"') in_string = false;
            continue;
        }
        if (c == '"') in_string = true;
        else if (c == '[' || c == '{') deepest = std::max(deepest, ++depth);
        else if ((c == ']' || c == '}') && depth > 0) --depth;
    }
    return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kc::kMaxSegmentChars / 4 * 3) size = kc::kMaxSegmentChars / 4 * 3;
    std::string out, detail;
    const kc::JsonPrint r = kc::print_json_bounded(data, size, &out, &detail);
    FUZZ_CHECK(r != kc::JsonPrint::kNoMemory);

    yyjson_doc *in = yyjson_read_opts(const_cast<char *>(reinterpret_cast<const char *>(
                                          fuzz::nonnull(data))),
                                      size, YYJSON_READ_NUMBER_AS_RAW, nullptr, nullptr);
    if (in == nullptr) {
        FUZZ_CHECK(r == kc::JsonPrint::kNotJson && !detail.empty());
        return 0;
    }
    const size_t depth = text_depth(data, size);
    if (depth > kc::kMaxJsonDepth) {
        FUZZ_CHECK(r == kc::JsonPrint::kTooDeep);
        FUZZ_CHECK(out.empty());
    } else {
        FUZZ_CHECK(r == kc::JsonPrint::kOk);
        FUZZ_CHECK(!out.empty() && out.back() == '\n');
        // Per input byte at most one line of the widest indentation plus
        // an escape of six characters.
        FUZZ_CHECK(out.size() <= (size + 1) * (2 * kc::kMaxJsonDepth + 8));
        yyjson_doc *back = yyjson_read_opts(out.data(), out.size() - 1,
                                            YYJSON_READ_NUMBER_AS_RAW, nullptr, nullptr);
        FUZZ_CHECK(back != nullptr);
        FUZZ_CHECK(yyjson_equals(yyjson_doc_get_root(in), yyjson_doc_get_root(back)));
        yyjson_doc_free(back);
    }
    yyjson_doc_free(in);
    return 0;
}
