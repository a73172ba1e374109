// Input and output for the subcommands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kc {

// The whole content of one input ("-" is standard input) as one read-only
// span, for the library's one-shot hash functions. A regular file is mapped,
// never copied, so its size is bounded by the address space only. A stream
// (a pipe, a terminal) cannot be mapped: it is spooled, first in memory and
// past kSpoolInMemory bytes into an unlinked temporary file in $TMPDIR (or
// /tmp), and that file is mapped. Errors are I/O failures naming the input.
class WholeInput {
public:
    static constexpr size_t kSpoolInMemory = size_t(16) << 20;

    explicit WholeInput(const std::string &name);
    ~WholeInput();
    WholeInput(const WholeInput &) = delete;
    WholeInput &operator=(const WholeInput &) = delete;

    const uint8_t *data() const { return data_; }
    uint64_t size() const { return size_; }

private:
    bool try_map(int fd, uint64_t offset, uint64_t size);
    void spool(int fd);

    std::string name_;
    const uint8_t *data_ = nullptr;
    uint64_t size_ = 0;
    void *map_ = nullptr;
    size_t map_len_ = 0;
    std::vector<uint8_t> heap_;
};

// While one is alive, a SIGBUS (the mapped file was truncated under us) ends
// the program with an I/O error naming the input rather than a crash.
class MappedAccess {
public:
    explicit MappedAccess(const std::string &name);
    ~MappedAccess();
    MappedAccess(const MappedAccess &) = delete;
    MappedAccess &operator=(const MappedAccess &) = delete;
};

void install_signal_handlers();

// Sequential reading of a file or standard input.
class Stream {
public:
    explicit Stream(const std::string &name);
    ~Stream();
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;

    // Reads up to n bytes; fewer only at the end of the input.
    size_t read_full(void *buf, size_t n);

private:
    std::string name_;
    int fd_ = -1;
    bool owned_ = false;
};

// A small file read whole: keys, secrets, stored hashes. A file larger than
// max bytes is refused as a usage error naming what it was meant to be.
std::string read_small_file(std::string_view cmd, const std::string &name, size_t max,
                            std::string_view what);

// One line from fd without its LF or CR LF; at most max bytes, longer is
// refused naming what. Reads byte by byte so nothing after the line is
// consumed.
std::string read_line(std::string_view cmd, int fd, std::string_view source, size_t max,
                      std::string_view what);

// Standard output. Write failures are collected and reported once by
// finish_output(), which main calls after a subcommand returns.
void out(std::string_view text);
void out(const void *data, size_t len);
void finish_output();

// Best-effort wipe of a secret held in the tool's own memory.
void wipe(std::string &secret);
void wipe(void *data, size_t len);

// Wipes a secret string when its scope ends, by return or by failure.
class WipeGuard {
public:
    explicit WipeGuard(std::string &secret) : secret_(secret) {}
    ~WipeGuard() { wipe(secret_); }
    WipeGuard(const WipeGuard &) = delete;
    WipeGuard &operator=(const WipeGuard &) = delete;

private:
    std::string &secret_;
};

}  // namespace kc
