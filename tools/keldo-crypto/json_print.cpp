#include "json_print.h"

#include <cstdlib>
#include <memory>

#include <yyjson.h>

namespace kc {

namespace {

struct DocFree {
    void operator()(yyjson_doc *d) const { yyjson_doc_free(d); }
};

// Whether v nests at most `room` containers deep (itself included); stops
// descending as soon as the answer is no, so the recursion is bounded.
bool within_depth(yyjson_val *v, size_t room) {
    if (!yyjson_is_ctn(v)) return true;
    if (room == 0) return false;
    yyjson_val *child = nullptr;
    if (yyjson_is_arr(v)) {
        yyjson_arr_iter it = yyjson_arr_iter_with(v);
        while ((child = yyjson_arr_iter_next(&it)) != nullptr)
            if (!within_depth(child, room - 1)) return false;
    } else {
        yyjson_obj_iter it = yyjson_obj_iter_with(v);
        yyjson_val *key = nullptr;
        while ((key = yyjson_obj_iter_next(&it)) != nullptr)
            if (!within_depth(yyjson_obj_iter_get_val(key), room - 1)) return false;
    }
    return true;
}

}  // namespace

JsonPrint print_json_bounded(const uint8_t *json, size_t len, std::string *out,
                             std::string *detail) {
    yyjson_read_err err{};
    // Numbers as their own text: a token's 1e400 or 12345678901234567890 is
    // shown as written, not rounded.
    std::unique_ptr<yyjson_doc, DocFree> doc(
        yyjson_read_opts(const_cast<char *>(reinterpret_cast<const char *>(json)), len,
                         YYJSON_READ_NUMBER_AS_RAW, nullptr, &err));
    if (!doc) {
        if (err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION) return JsonPrint::kNoMemory;
        *detail = std::string(err.msg) + " at byte " + std::to_string(err.pos);
        return JsonPrint::kNotJson;
    }
    if (!within_depth(yyjson_doc_get_root(doc.get()), kMaxJsonDepth)) return JsonPrint::kTooDeep;
    size_t n = 0;
    char *pretty = yyjson_write(doc.get(), YYJSON_WRITE_PRETTY_TWO_SPACES, &n);
    if (pretty == nullptr) return JsonPrint::kNoMemory;
    out->assign(pretty, n);
    std::free(pretty);
    out->push_back('\n');
    return JsonPrint::kOk;
}

}  // namespace kc
