#include "io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"

namespace kc {

namespace {

int open_input(const std::string &name, bool *owned) {
    if (name == "-") {
        *owned = false;
        return 0;
    }
    int fd;
    do {
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        int e = errno;  // before quoting, which may touch errno
        fail_io(quote_file_name(name), e);
    }
    *owned = true;
    return fd;
}

struct FdCloser {
    int fd;
    bool owned;
    ~FdCloser() {
        if (owned && fd >= 0) ::close(fd);
    }
};

ssize_t read_retry(int fd, void *buf, size_t n) {
    ssize_t r;
    do {
        r = ::read(fd, buf, n);
    } while (r < 0 && errno == EINTR);
    return r;
}

}  // namespace

Stream::Stream(const std::string &name) : name_(quote_file_name(name)) {
    fd_ = open_input(name, &owned_);
}

Stream::~Stream() {
    if (owned_ && fd_ >= 0) ::close(fd_);
}

size_t Stream::read_full(void *buf, size_t n) {
    auto *p = static_cast<uint8_t *>(buf);
    size_t got = 0;
    while (got < n) {
        ssize_t r = read_retry(fd_, p + got, n - got);
        if (r < 0) fail_io(name_, errno);
        if (r == 0) break;
        got += size_t(r);
    }
    return got;
}

std::string read_small_file(std::string_view cmd, const std::string &name, size_t max,
                            std::string_view what) {
    bool owned = false;
    int fd = open_input(name, &owned);
    FdCloser closer{fd, owned};
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) fail_io(quote_file_name(name), EISDIR);
    std::string content;
    content.resize(max + 1);  // one byte more tells a file that is too large
    size_t got = 0;
    while (got < content.size()) {
        ssize_t r = read_retry(fd, content.data() + got, content.size() - got);
        if (r < 0) {
            int e = errno;
            wipe(content);
            fail_io(quote_file_name(name), e);
        }
        if (r == 0) break;
        got += size_t(r);
    }
    if (got > max) {
        wipe(content);
        usage_error(cmd, std::string(what) + " file " + quote_file_name(name) + " is larger than " +
                             std::to_string(max) + " bytes");
    }
    content.resize(got);  // shrinking keeps the block
    return content;
}

std::string read_line(std::string_view cmd, int fd, std::string_view source, size_t max,
                      std::string_view what) {
    std::string line;
    line.reserve(max + 1);
    auto too_long = [&] {
        wipe(line);
        fail(kCheckFailed, std::string(cmd) + ": " + std::string(what) + " is longer than " +
                               std::to_string(max) + " bytes");
    };
    char c = 0;
    for (;;) {
        ssize_t r = read_retry(fd, &c, 1);
        if (r < 0) {
            int e = errno;
            wipe(line);
            fail_io(source, e);
        }
        if (r == 0 || c == '\n') break;
        if (line.size() == max + 1) too_long();
        line.push_back(c);
    }
    wipe(&c, sizeof c);
    if (!line.empty() && line.back() == '\r') {
        line.back() = '\0';
        line.pop_back();
    }
    if (line.size() > max) too_long();
    return line;
}

void protect_secrets() {
    static bool done = false;
    if (done) return;
    done = true;
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    struct rlimit none = {0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

namespace {

// Set once a write to standard output has failed and been reported: the
// rest of the output is dropped, not retried.
bool g_output_failed = false;

[[noreturn]] void output_failed(int err) {
    g_output_failed = true;
    fail_io("standard output", err != 0 ? err : EIO);
}

}  // namespace

void out(const void *data, size_t len) {
    if (len == 0 || g_output_failed) return;
    // Stop at the first failure, as coreutils does: a full disk or a reader
    // that has gone (EPIPE when SIGPIPE is ignored) will not take more, and
    // reading on would never end on an endless input.
    errno = 0;
    if (std::fwrite(data, 1, len, stdout) != len) output_failed(errno);
}

void out(std::string_view text) { out(text.data(), text.size()); }

void finish_output() {
    if (g_output_failed) return;
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) output_failed(errno);
}

void wipe(void *data, size_t len) {
    if (data == nullptr || len == 0) return;
    explicit_bzero(data, len);
}

void wipe(std::string &secret) {
    // The bytes past size() may hold what an earlier, longer value left.
    secret.resize(secret.capacity());
    wipe(secret.data(), secret.size());
    secret.clear();
}

}  // namespace kc
