// Input and output for the subcommands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kc {

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
// max bytes is refused as a usage error naming what it was meant to be. The
// buffer is reserved at max + 1 bytes before the first read and read into
// directly, so a secret is never copied into a block that is later freed;
// on refusal it is wiped.
std::string read_small_file(std::string_view cmd, const std::string &name, size_t max,
                            std::string_view what);

// One line from fd without its LF or CR LF; at most max bytes, longer is
// refused naming what. Reads byte by byte so nothing after the line is
// consumed. Reserved before reading, as read_small_file.
std::string read_line(std::string_view cmd, int fd, std::string_view source, size_t max,
                      std::string_view what);

// Called before the tool first holds a secret: no core dump from then on
// (a SIGQUIT at a password prompt would write the memory to disk), and
// other processes of the same user may no longer attach to it.
void protect_secrets();

// Standard output. The first failed write ends the program with the I/O
// status; finish_output(), which main calls after a subcommand returns,
// flushes and reports a failure of the last block the same way.
void out(std::string_view text);
void out(const void *data, size_t len);
void finish_output();

// Best-effort wipe of a secret held in the tool's own memory; the string's
// whole capacity is cleared, not only its current size.
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
