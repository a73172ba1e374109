#include "io.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"

namespace kc {

namespace {

std::atomic<const char *> g_mapped_name{nullptr};

void write_all_raw(int fd, const char *s, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, s, n);
        if (w <= 0) return;
        s += w;
        n -= size_t(w);
    }
}

extern "C" void on_sigbus(int) {
    // Only async-signal-safe calls here.
    const char *name = g_mapped_name.load();
    const char prefix[] = "keldo-crypto: ";
    const char suffix[] = ": input changed while it was being read\n";
    write_all_raw(2, prefix, sizeof prefix - 1);
    if (name != nullptr) write_all_raw(2, name, std::strlen(name));
    write_all_raw(2, suffix, sizeof suffix - 1);
    _exit(kIo);
}

int open_input(const std::string &name, bool *owned) {
    if (name == "-") {
        *owned = false;
        return 0;
    }
    int fd;
    do {
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) fail_io(name, errno);
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

int make_temp_file() {
    const char *dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') dir = "/tmp";
#ifdef O_TMPFILE
    int fd = ::open(dir, O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
#endif
    std::string path = std::string(dir) + "/keldo-crypto.XXXXXX";
    std::vector<char> buf(path.begin(), path.end());
    buf.push_back('\0');
    int tfd = ::mkstemp(buf.data());
    if (tfd < 0) return -1;
    ::unlink(buf.data());
    return tfd;
}

bool write_all(int fd, const uint8_t *p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

int g_write_errno = 0;

}  // namespace

void install_signal_handlers() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_sigbus;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGBUS, &sa, nullptr);
}

MappedAccess::MappedAccess(const std::string &name) { g_mapped_name.store(name.c_str()); }
MappedAccess::~MappedAccess() { g_mapped_name.store(nullptr); }

WholeInput::WholeInput(const std::string &name) : name_(name) {
    bool owned = false;
    int fd = open_input(name, &owned);
    FdCloser closer{fd, owned};
    struct stat st;
    if (::fstat(fd, &st) != 0) fail_io(name, errno);
    if (S_ISDIR(st.st_mode)) fail_io(name, EISDIR);
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
        // Standard input redirected from a file is hashed from its current
        // position, as a reader would see it.
        off_t pos = owned ? 0 : ::lseek(fd, 0, SEEK_CUR);
        if (pos >= 0 && pos <= st.st_size &&
            try_map(fd, uint64_t(pos), uint64_t(st.st_size)))
            return;
    }
    // Streams, files the kernel reports as empty (procfs and the like) and
    // file systems without mmap support.
    spool(fd);
}

WholeInput::~WholeInput() {
    if (map_ != nullptr) ::munmap(map_, map_len_);
}

bool WholeInput::try_map(int fd, uint64_t offset, uint64_t size) {
    if (size > SIZE_MAX) fail_io(name_, EFBIG);
    void *p = ::mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
        if (errno == ENODEV || errno == EACCES) return false;
        fail_io(name_, errno);
    }
    ::madvise(p, size_t(size), MADV_SEQUENTIAL);
    map_ = p;
    map_len_ = size_t(size);
    data_ = static_cast<const uint8_t *>(p) + offset;
    size_ = size - offset;
    return true;
}

void WholeInput::spool(int fd) {
    constexpr size_t kChunk = size_t(1) << 20;
    heap_.clear();
    size_t used = 0;
    while (used < kSpoolInMemory) {
        if (heap_.size() < used + kChunk) heap_.resize(used + kChunk);
        ssize_t r = read_retry(fd, heap_.data() + used, kChunk);
        if (r < 0) fail_io(name_, errno);
        if (r == 0) {
            heap_.resize(used);
            data_ = heap_.data();
            size_ = used;
            return;
        }
        used += size_t(r);
    }
    heap_.resize(used);

    // Too large for memory: continue into a temporary file and map it.
    int tfd = make_temp_file();
    if (tfd < 0) {
        int e = errno;
        fail_io(name_ + ": cannot create a temporary file to hold it", e);
    }
    FdCloser tcloser{tfd, true};
    if (!write_all(tfd, heap_.data(), heap_.size())) {
        int e = errno;
        fail_io(name_ + ": cannot write its temporary copy", e);
    }
    uint64_t total = heap_.size();
    for (;;) {
        ssize_t r = read_retry(fd, heap_.data(), heap_.size());
        if (r < 0) fail_io(name_, errno);
        if (r == 0) break;
        if (!write_all(tfd, heap_.data(), size_t(r))) {
            int e = errno;
            fail_io(name_ + ": cannot write its temporary copy", e);
        }
        total += uint64_t(r);
    }
    std::vector<uint8_t>().swap(heap_);
    if (!try_map(tfd, 0, total)) {
        int e = errno;
        fail_io(name_ + ": cannot map its temporary copy", e);
    }
}

Stream::Stream(const std::string &name) : name_(name) { fd_ = open_input(name, &owned_); }

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
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) fail_io(name, EISDIR);
    std::string content;
    char buf[4096];
    for (;;) {
        ssize_t r = read_retry(fd, buf, sizeof buf);
        if (r < 0) fail_io(name, errno);
        if (r == 0) break;
        if (content.size() + size_t(r) > max) {
            wipe(content);
            wipe(buf, sizeof buf);
            usage_error(cmd, std::string(what) + " file '" + name + "' is larger than " +
                                 std::to_string(max) + " bytes");
        }
        content.append(buf, size_t(r));
    }
    wipe(buf, sizeof buf);
    return content;
}

std::string read_line(std::string_view cmd, int fd, std::string_view source, size_t max,
                      std::string_view what) {
    std::string line;
    for (;;) {
        char c;
        ssize_t r = read_retry(fd, &c, 1);
        if (r < 0) fail_io(source, errno);
        if (r == 0 || c == '\n') break;
        if (line.size() == max + 1) {
            wipe(line);
            fail(kCheckFailed, std::string(cmd) + ": " + std::string(what) + " is longer than " +
                                   std::to_string(max) + " bytes");
        }
        line.push_back(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > max) {
        wipe(line);
        fail(kCheckFailed, std::string(cmd) + ": " + std::string(what) + " is longer than " +
                               std::to_string(max) + " bytes");
    }
    return line;
}

void out(const void *data, size_t len) {
    if (len == 0) return;
    if (std::fwrite(data, 1, len, stdout) != len && g_write_errno == 0)
        g_write_errno = errno != 0 ? errno : EIO;
}

void out(std::string_view text) { out(text.data(), text.size()); }

void finish_output() {
    if (std::fflush(stdout) != 0 && g_write_errno == 0) g_write_errno = errno != 0 ? errno : EIO;
    if (g_write_errno == 0 && std::ferror(stdout)) g_write_errno = EIO;
    if (g_write_errno != 0) {
        int err = g_write_errno;
        g_write_errno = 0;
        std::clearerr(stdout);
        fail_io("standard output", err);
    }
}

void wipe(void *data, size_t len) {
    if (data == nullptr || len == 0) return;
    explicit_bzero(data, len);
}

void wipe(std::string &secret) {
    wipe(secret.data(), secret.size());
    secret.clear();
}

}  // namespace kc
