// Timing check of the secret comparisons on the machine's own processor,
// in the manner of dudect (Reparaz, Balasch, Verbauwhede, "Dude, is my code
// constant time?", 2017): each function is called many times on two classes
// of input that differ only in where the secret mismatch lies (first byte
// against last byte), the class of every call drawn at random so that drift
// and noise fall on both alike. The cycle counts of the two classes are
// compared with Welch's t-test, on all samples and again on the samples
// below each of 100 percentiles (cropping the long tail of interrupts and
// migrations); the largest |t| is reported. |t| > 10 is a leak.
//
// Both classes go through one buffer: the class's input is copied into it
// before each call, outside the timed region, so that nothing but the
// contents tells the classes apart (two buffers at different addresses
// time differently on their own).
//
// memcmp is measured in the same run as a leaky reference: it stops at the
// first difference, and a check that cannot see that is too insensitive to
// mean anything, which fails the run as well.
//
// The token and hash verifiers run on the SHA-256 and Base64 backends the
// library picks here, then with each other backend pinned (the same pairing
// as the pinned-backend stage); the byte comparisons use no backend and run
// once.
//
//   keldo_timing_check [--seconds S] [--smoke] [--only TEXT]
// S is the whole run's budget (default 60, or KELDO_TIMING_SECONDS), shared
// evenly among the measurements. --smoke checks the classes and takes a few
// thousand samples of each without judging them. --only measures the cases
// whose name or backends contain TEXT (and the reference).
#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#if defined(__x86_64__) || defined(_M_X64)
#include <x86intrin.h>
#define KELDO_TIMING_TSC 1
#endif

#include "platform/backend_select.h"
#include "keldo_crypto.h"
#include "test_platform.h"

namespace {

constexpr double kLeakThreshold = 10.0;
// dudect's "enough measurements": a cropped test with fewer is not judged.
constexpr size_t kEnoughSamples = 10000;
constexpr size_t kPercentiles = 100;

// ---- Clock ------------------------------------------------------------------

double seconds_now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Cycle counter: the time-stamp counter, fenced so that the call alone lies
// between the two readings; elsewhere the monotonic clock in nanoseconds.
inline uint64_t ticks_begin() {
#ifdef KELDO_TIMING_TSC
    _mm_lfence();
    uint64_t t = __rdtsc();
    _mm_lfence();
    return t;
#else
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
#endif
}

// The copy's stores drain before the clock starts, not inside the call.
inline void store_fence() {
#ifdef KELDO_TIMING_TSC
    _mm_mfence();
#else
    std::atomic_thread_fence(std::memory_order_seq_cst);
#endif
}

inline uint64_t ticks_end() {
#ifdef KELDO_TIMING_TSC
    unsigned aux = 0;
    uint64_t t = __rdtscp(&aux);
    _mm_lfence();
    return t;
#else
    return ticks_begin();
#endif
}

// ---- Statistics -------------------------------------------------------------

// Welford's running mean and variance per class.
struct Welch {
    double mean[2] = {0, 0};
    double m2[2] = {0, 0};
    double n[2] = {0, 0};

    void add(int cls, double x) {
        n[cls] += 1;
        double delta = x - mean[cls];
        mean[cls] += delta / n[cls];
        m2[cls] += delta * (x - mean[cls]);
    }
    size_t count() const { return size_t(n[0] + n[1]); }
    double t() const {
        if (n[0] < 2 || n[1] < 2) return 0;
        double v0 = m2[0] / (n[0] - 1), v1 = m2[1] / (n[1] - 1);
        double se = std::sqrt(v0 / n[0] + v1 / n[1]);
        return se > 0 ? (mean[0] - mean[1]) / se : 0;
    }
};

struct Verdict {
    double max_t = 0;         // signed t of the test with the largest |t|
    double crop = 1;          // fraction of the samples that test kept
    double mean[2] = {0, 0};  // the class means in that test, ticks
    size_t samples = 0;
};

// The uncropped test and one per percentile 1 - 0.5^(10 (k+1) / 100), as
// dudect crops: from the median up to the 99.9th percentile, densest near
// the top. Tests with too few samples are skipped.
Verdict judge(const std::vector<uint64_t> &ticks, const std::vector<uint8_t> &cls) {
    std::vector<uint64_t> sorted = ticks;
    std::sort(sorted.begin(), sorted.end());
    std::vector<uint64_t> limits;
    for (size_t k = 0; k < kPercentiles; ++k) {
        double q = 1 - std::pow(0.5, 10.0 * double(k + 1) / double(kPercentiles));
        limits.push_back(sorted[size_t(q * double(sorted.size() - 1))]);
    }
    std::vector<Welch> tests(kPercentiles + 1);
    for (size_t i = 0; i < ticks.size(); ++i) {
        double x = double(ticks[i]);
        tests[0].add(cls[i], x);
        for (size_t k = 0; k < kPercentiles; ++k)
            if (ticks[i] < limits[k]) tests[k + 1].add(cls[i], x);
    }
    Verdict v;
    v.samples = ticks.size();
    const Welch *worst = &tests[0];
    for (const Welch &w : tests)
        if (w.count() >= kEnoughSamples && std::fabs(w.t()) > std::fabs(worst->t())) worst = &w;
    v.max_t = worst->t();
    v.crop = double(worst->count()) / double(ticks.size());
    v.mean[0] = worst->mean[0];
    v.mean[1] = worst->mean[1];
    return v;
}

// xorshift64*: the class sequence, fixed by a seed so a run can be repeated.
struct Coin {
    uint64_t s;
    uint8_t flip() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return uint8_t((s * 0x2545F4914F6CDD1DULL) >> 63);
    }
};

// ---- The functions and their two classes -------------------------------------

// Each case builds two inputs of one size (class 0: the secret mismatch in
// the first byte, class 1: in the last) and a call that reads the shared
// buffer they are copied into. Before measuring, the untouched input must
// give the matching result and both classes the refusal (and message) the
// case names: a class refused for another reason, before the comparison,
// would measure nothing.
struct Inputs {
    std::vector<uint8_t> cls[2];
    std::vector<uint8_t> match;
};

constexpr size_t kCompareLen = 64;
// memcmp's early exit must be plain: at 64 bytes glibc's vector version
// compares both halves at once on some runs and shows no difference; at 512
// it always stops after the first 32 bytes instead of reading all.
constexpr size_t kReferenceLen = 512;
alignas(64) uint8_t g_expected[kReferenceLen];  // the secret side of the byte comparisons

std::string g_stored_hash;                    // ... of the hash-string comparison
const char kSecret[] = "timing-check secret key, 32 byte";
const char kPassword[] = "correct horse battery staple";

[[noreturn]] void setup_failed(const char *what) {
    std::fprintf(stderr, "setting up the classes: %s\n", what);
    std::exit(2);
}

std::vector<uint8_t> with_nul(const std::string &s) {
    return std::vector<uint8_t>(s.c_str(), s.c_str() + s.size() + 1);
}

Inputs bytes_inputs(size_t len) {
    for (size_t i = 0; i < kReferenceLen; ++i) g_expected[i] = uint8_t(0x5a ^ (i * 37));
    Inputs in;
    in.match.assign(g_expected, g_expected + len);
    in.cls[0] = in.cls[1] = in.match;
    in.cls[0][0] ^= 1;
    in.cls[1][len - 1] ^= 1;
    return in;
}
Inputs compare_inputs() { return bytes_inputs(kCompareLen); }
Inputs reference_inputs() { return bytes_inputs(kReferenceLen); }

// A stored hash string against one that differs in the first or the last
// character of its key field.
Inputs hash_string_inputs() {
    g_stored_hash = "$pbkdf2-sha256$i=600000$c2FsdHNhbHRzYWx0c2FsdA"
                    "$Y29uc3RhbnQtdGltZSBjb21wYXJpc29uIG9mIGhhc2g";
    Inputs in;
    in.match = with_nul(g_stored_hash);
    in.cls[0] = in.cls[1] = in.match;
    in.cls[0][g_stored_hash.rfind('$') + 1] ^= 1;
    in.cls[1][g_stored_hash.size() - 1] ^= 1;
    return in;
}

// The kind of a Base64 character: the portable decoder branches on it, so
// a change of kind would time differently for reasons that are not secret
// (the signature is the caller's own text).
int char_kind(char c) {
    return c >= 'A' && c <= 'Z' ? 0 : c >= 'a' && c <= 'z' ? 1 : c >= '0' && c <= '9' ? 2 : 3;
}

// A valid token from the library itself, its signature altered in the first
// and the last byte and encoded again: the same length, both well formed,
// both refused only by the signature comparison. Each flips bits of its
// byte that change one character into another of the same kind, so the
// decoder does the same work for both classes and for the valid token.
// A single bit is not always enough: the last character holds four bits,
// and for 'c' (0111) every one-bit neighbour is of another kind.
Inputs token_inputs() {
    const char *minted = keldo_jwt_mint(kSecret, "user-4711", "user@example.com", 3600);
    if (minted == nullptr) setup_failed(keldo_crypto_last_error());
    const std::string token = minted;
    const size_t sig = token.rfind('.') + 1;
    uint8_t mac[32];
    uint64_t mac_len = 0;
    if (keldo_crypto_base64url_decode(token.c_str() + sig, mac, sizeof mac, &mac_len) != 0 ||
        mac_len != 32)
        setup_failed("the minted signature does not decode");
    Inputs in;
    in.match = with_nul(token);
    // Byte 0's bits 7..2 are character 0; byte 31's bits 3..0 are the top of
    // character 42 (its low two bits are zero padding).
    const int byte_of[2] = {0, 31}, first_bit[2] = {2, 0}, last_bit[2] = {7, 3};
    for (int c = 0; c < 2; ++c) {
        std::string best;
        const unsigned width = unsigned(last_bit[c] - first_bit[c] + 1);
        for (unsigned mask = 1; mask < (1u << width) && best.empty(); ++mask) {
            uint8_t bad[32];
            std::memcpy(bad, mac, 32);
            bad[byte_of[c]] = uint8_t(bad[byte_of[c]] ^ (mask << first_bit[c]));
            char text[48];
            if (keldo_crypto_base64url_encode(bad, 32, text, sizeof text) != 0)
                setup_failed("base64url encoding failed");
            const std::string altered = token.substr(0, sig) + text;
            bool same_kinds = altered.size() == token.size();
            for (size_t i = sig; same_kinds && i < token.size(); ++i)
                same_kinds = char_kind(altered[i]) == char_kind(token[i]);
            if (same_kinds) best = altered;
        }
        if (best.empty()) setup_failed("no change keeps the signature's characters of one kind");
        in.cls[c] = with_nul(best);
    }
    return in;
}

// A stored password hash in one of the four forms (one iteration: the
// derivation's cost is not what is measured) whose key field is the derived
// key altered in its first or its last byte, encoded as the form encodes it.
// The untouched key, encoded here, must give the library's own string.
std::string encode_key(int32_t form, const uint8_t key[32]) {
    if (form == KELDO_PASSWORD_WERKZEUG) {
        std::string hex;
        for (int i = 0; i < 32; ++i) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", key[i]);
            hex += two;
        }
        return hex;
    }
    char text[48];
    if (keldo_crypto_base64_encode(key, 32, text, sizeof text) != 0)
        setup_failed("Base64 encoding failed");
    std::string b64 = text;
    if (form == KELDO_PASSWORD_DJANGO) return b64;
    b64.erase(b64.find_last_not_of('=') + 1);
    if (form == KELDO_PASSWORD_PASSLIB) std::replace(b64.begin(), b64.end(), '+', '.');
    return b64;
}

Inputs password_inputs(int32_t form) {
    const char salt[] = "timing-salt-0123";
    const uint64_t salt_len = sizeof salt - 1;
    char stored[KELDO_PASSWORD_HASH_MAX];
    if (keldo_password_encode(form, kPassword, sizeof kPassword - 1, salt, salt_len, 1, stored,
                              sizeof stored) != KELDO_OK)
        setup_failed("keldo_password_encode failed");
    uint8_t key[32];
    if (keldo_crypto_pbkdf2_sha256(kPassword, sizeof kPassword - 1, salt, salt_len, 1, key, 32) != 0)
        setup_failed("PBKDF2 failed");
    const std::string text = stored;
    const std::string head = text.substr(0, text.rfind('$') + 1);
    if (head + encode_key(form, key) != text) setup_failed("the key field is not encoded as expected");
    Inputs in;
    in.match = with_nul(text);
    for (int c = 0; c < 2; ++c) {
        uint8_t bad[32];
        std::memcpy(bad, key, 32);
        bad[c == 0 ? 0 : 31] ^= 1;
        in.cls[c] = with_nul(head + encode_key(form, bad));
    }
    return in;
}
Inputs phc_inputs() { return password_inputs(KELDO_PASSWORD_PHC); }
Inputs django_inputs() { return password_inputs(KELDO_PASSWORD_DJANGO); }
Inputs passlib_inputs() { return password_inputs(KELDO_PASSWORD_PASSLIB); }
Inputs werkzeug_inputs() { return password_inputs(KELDO_PASSWORD_WERKZEUG); }

int32_t call_secure_compare(const uint8_t *buf) {
    return keldo_crypto_secure_compare(g_expected, buf, kCompareLen);
}
int32_t call_verify_password_hash(const uint8_t *buf) {
    return keldo_verify_password_hash(g_stored_hash.c_str(), reinterpret_cast<const char *>(buf));
}
int32_t call_jwt_verify(const uint8_t *buf) {
    return keldo_jwt_verify(kSecret, reinterpret_cast<const char *>(buf), nullptr, nullptr,
                            nullptr);
}
int32_t call_jwt_verify_r(const uint8_t *buf) {
    return keldo_jwt_verify_r(kSecret, sizeof kSecret - 1, reinterpret_cast<const char *>(buf),
                              nullptr, nullptr, nullptr);
}
int32_t call_password_verify(const uint8_t *buf) {
    return keldo_password_verify(kPassword, sizeof kPassword - 1,
                                 reinterpret_cast<const char *>(buf));
}
// Through a volatile pointer: the compiler may neither inline nor widen it.
int (*volatile g_memcmp)(const void *, const void *, size_t) = std::memcmp;
int32_t call_memcmp(const uint8_t *buf) {
    return g_memcmp(g_expected, buf, kReferenceLen) == 0 ? 0 : 1;
}

// once: on the library's own choice; every_backend: on each SHA-256 and
// Base64 pair; every_sha256: on each SHA-256 backend.
enum class Runs { once, every_backend, every_sha256 };

struct Case {
    const char *name;
    Runs runs;
    Inputs (*inputs)();
    int32_t (*call)(const uint8_t *buf);
    int32_t match_result;    // of the untouched input
    int32_t refused_result;  // of both classes
    const char *message;     // the last-error text both classes leave, if any
    bool leaky;              // the reference, which must be flagged
};

const Case kCases[] = {
    {"keldo_crypto_secure_compare", Runs::once, compare_inputs, call_secure_compare, 0, 1,
     nullptr, false},
    {"keldo_verify_password_hash", Runs::once, hash_string_inputs, call_verify_password_hash, 0,
     1, "keldo_verify_password_hash: password hash mismatch", false},
    {"keldo_jwt_verify", Runs::every_backend, token_inputs, call_jwt_verify, 0, -1,
     "jwt_verify: signature verification failed", false},
    {"keldo_jwt_verify_r", Runs::every_backend, token_inputs, call_jwt_verify_r, KELDO_OK,
     KELDO_E_BAD_SIGNATURE, nullptr, false},
    // The derivation runs on the SHA-256 backends; the key field's decoding
    // differs by form and uses none.
    {"keldo_password_verify PHC", Runs::every_sha256, phc_inputs, call_password_verify, KELDO_OK,
     KELDO_E_PASSWORD_MISMATCH, nullptr, false},
    {"keldo_password_verify Django", Runs::once, django_inputs, call_password_verify, KELDO_OK,
     KELDO_E_PASSWORD_MISMATCH, nullptr, false},
    {"keldo_password_verify passlib", Runs::once, passlib_inputs, call_password_verify, KELDO_OK,
     KELDO_E_PASSWORD_MISMATCH, nullptr, false},
    {"keldo_password_verify Werkzeug", Runs::once, werkzeug_inputs, call_password_verify,
     KELDO_OK, KELDO_E_PASSWORD_MISMATCH, nullptr, false},
    {"memcmp (leaky reference)", Runs::once, reference_inputs, call_memcmp, 0, 1, nullptr, true},
};

// ---- Measuring ----------------------------------------------------------------

struct Backends {
    std::string sha256, base64;
};

// The library's own choice first, then the others paired best-first with
// the portable ones filling in, as the pinned-backend stage pairs them.
std::vector<Backends> backend_runs() {
    std::vector<std::string> sha, b64;
    for (size_t i = 0; sha256_backend_at(i) != nullptr; ++i)
        if (sha256_backend_runs_here(sha256_backend_at(i))) sha.push_back(sha256_backend_at(i));
    for (size_t i = 0; base64_backend_at(i) != nullptr; ++i)
        if (base64_backend_runs_here(base64_backend_at(i))) b64.push_back(base64_backend_at(i));
    std::string sha_default = sha256_backend_name(), b64_default = base64_backend_name();
    std::vector<Backends> runs{{sha_default, b64_default}};
    std::erase(sha, sha_default);
    std::erase(b64, b64_default);
    for (size_t i = 0; i < std::max(sha.size(), b64.size()); ++i)
        runs.push_back({i < sha.size() ? sha[i] : "portable", i < b64.size() ? b64[i] : "portable"});
    return runs;
}

// The backend pairs a case is measured on.
std::vector<Backends> runs_of(const Case &c, const std::vector<Backends> &runs) {
    if (c.runs == Runs::every_backend) return runs;
    if (c.runs == Runs::once) return {runs.front()};
    std::vector<Backends> distinct;
    for (const Backends &b : runs)
        if (std::none_of(distinct.begin(), distinct.end(),
                         [&](const Backends &d) { return d.sha256 == b.sha256; }))
            distinct.push_back(b);
    return distinct;
}

void pin(const Backends &b) {
    if (sha256_backend_select(b.sha256.c_str()) != 0 ||
        base64_backend_select(b.base64.c_str()) != 0) {
        std::fprintf(stderr, "cannot pin %s/%s\n", b.sha256.c_str(), b.base64.c_str());
        std::exit(2);
    }
}

// The one buffer both classes are copied into, at the same alignment for
// every measurement, and the copies' sources.
alignas(4096) uint8_t g_buffer[4096];
alignas(4096) uint8_t g_sources[2][4096];

bool refused_as_expected(const Case &c, const std::vector<uint8_t> &input) {
    if (c.call(input.data()) != c.refused_result) return false;
    return c.message == nullptr || std::strcmp(keldo_crypto_last_error(), c.message) == 0;
}

void check_classes(const Case &c, const Inputs &in) {
    bool good = in.cls[0].size() == in.cls[1].size() && in.cls[0].size() <= sizeof g_buffer &&
                c.call(in.match.data()) == c.match_result && refused_as_expected(c, in.cls[0]) &&
                refused_as_expected(c, in.cls[1]);
    if (!good) {
        std::fprintf(stderr, "%s: the two classes are not what they should be\n", c.name);
        std::exit(2);
    }
}

Verdict measure(const Case &c, const Inputs &in, double budget, size_t min_samples,
                size_t max_samples, uint64_t seed) {
    const size_t len = in.cls[0].size();
    uint8_t *buf = g_buffer;
    // The two sources of the copy, one page apart: the same offset in a
    // page and a cache line, so the copy before each call leaves the same
    // traces in the caches and the store buffer whichever class it copied.
    for (int k = 0; k < 2; ++k) std::memcpy(g_sources[k], in.cls[k].data(), len);
    std::vector<uint64_t> ticks;
    std::vector<uint8_t> cls;
    ticks.reserve(max_samples);
    cls.reserve(max_samples);
    Coin coin{seed};
    // Warm the caches and the branch predictor; these calls are not kept.
    for (int i = 0; i < 1000; ++i) c.call(g_sources[coin.flip()]);
    const double end = seconds_now() + budget;
    while (ticks.size() < max_samples) {
        if ((ticks.size() & 1023) == 0 && ticks.size() >= min_samples && seconds_now() > end)
            break;
        uint8_t k = coin.flip();
        std::memcpy(buf, g_sources[k], len);
        store_fence();
        uint64_t t0 = ticks_begin();
        c.call(buf);
        uint64_t t1 = ticks_end();
        ticks.push_back(t1 - t0);
        cls.push_back(k);
    }
    return judge(ticks, cls);
}

}  // namespace

int main(int argc, char **argv) {
    double seconds = 60;
    if (const char *env = std::getenv("KELDO_TIMING_SECONDS")) seconds = std::atof(env);
    bool smoke = false;
    const char *only = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--smoke") == 0) {
            smoke = true;
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--seconds S] [--smoke] [--only TEXT]\n", argv[0]);
            return 2;
        }
    }
    // Tokens minted now stay valid for the whole run.
    test_platform::set_clock(std::time(nullptr));

    const std::vector<Backends> runs = backend_runs();
    size_t jobs = 0;
    // --only TEXT: the cases whose name or backends contain TEXT, and the
    // reference, which every run needs.
    auto wanted = [&](const Case &c, const Backends &b) {
        if (only == nullptr || c.leaky) return true;
        const std::string label = std::string(c.name) + " " + b.sha256 + " " + b.base64;
        return label.find(only) != std::string::npos;
    };
    for (const Case &c : kCases)
        for (const Backends &b : runs_of(c, runs)) if (wanted(c, b)) ++jobs;
    const double budget = smoke ? 0 : seconds / double(jobs);
    const size_t min_samples = smoke ? 2000 : 20 * kEnoughSamples;
    const size_t max_samples = smoke ? 2000 : 1000000;

#ifdef KELDO_TIMING_TSC
    const char *unit = "cycles";
#else
    const char *unit = "ns";
#endif
    std::printf("%-32s %-9s %-11s %9s %9s %9s %8s %6s  %s\n", "function", "sha256", "base64",
                "samples", unit, "diff", "t", "kept", "verdict");
    const Backends machine = runs.front();
    int leaks = 0, insensitive = 0;
    uint64_t seed = 0x6b656c646f2d7431ULL;
    for (const Case &c : kCases) {
        for (const Backends &b : runs_of(c, runs)) {
            if (!wanted(c, b)) continue;
            pin(b);
            Inputs in = c.inputs();
            check_classes(c, in);
            // A verdict other than the expected one is measured once more
            // with fresh coin flips and stands only if it holds: a burst of
            // load on a shared machine does not fail the run, a real
            // difference shows again.
            for (int attempt = 0; attempt < (smoke ? 1 : 2); ++attempt) {
                Verdict v = measure(c, in, budget, min_samples, max_samples, seed++);
                const bool flagged = std::fabs(v.max_t) > kLeakThreshold;
                const bool expected = flagged == c.leaky;
                const bool last = smoke || expected || attempt == 1;
                const char *verdict = smoke     ? "(smoke: not judged)"
                                      : c.leaky ? (flagged ? "flagged, as it must be"
                                                           : "NOT FLAGGED: check insensitive")
                                      : flagged ? "LEAK"
                                                : "ok";
                std::printf("%-32s %-9s %-11s %9zu %9.1f %9.2f %8.2f %5.0f%%  %s%s\n", c.name,
                            c.runs != Runs::once ? b.sha256.c_str() : "-",
                            c.runs == Runs::every_backend ? b.base64.c_str() : "-",
                            v.samples, v.mean[0], v.mean[1] - v.mean[0], v.max_t, v.crop * 100,
                            verdict, last ? "" : " (measuring again)");
                std::fflush(stdout);
                if (!last) continue;
                if (!smoke && !expected) ++(c.leaky ? insensitive : leaks);
                break;
            }
        }
    }
    pin(machine);
    if (smoke) return 0;
    std::printf("|t| > %.0f is a leak. t: the largest |t| of the %zu tests (all samples, "
                "and those below each cropping percentile), with its sign; kept: the share of "
                "samples that test kept; %s: the first-byte class's mean in it; diff: the "
                "last-byte class's mean minus that\n",
                kLeakThreshold, kPercentiles + 1, unit);
    if (leaks > 0) std::printf("FAILED: %d measurement(s) show a timing difference\n", leaks);
    if (insensitive > 0) std::printf("FAILED: the leaky reference was not flagged\n");
    return leaks > 0 || insensitive > 0 ? 1 : 0;
}
