// The child process that reads (see isolated_reader.h).
#include "isolated_reader.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define CRANE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CRANE_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

constexpr std::uint64_t memory_limit = std::uint64_t{2} << 30;  // bytes
constexpr std::size_t kept_chatter = 1 << 16;

// Seconds of wall-clock time a reader may take; CRANE_IMPORT_TIME_LIMIT sets
// it (the tests use it to see a hang end quickly).
int time_limit()
{
    const char* text = std::getenv("CRANE_IMPORT_TIME_LIMIT");
    const int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 600;
}

void write_all(int fd, const char* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) ::_exit(3);
        p += w;
        n -= std::size_t(w);
    }
}

}  // namespace

void act_out_test_fault()
{
    const char* fault = std::getenv("CRANE_IMPORT_TEST_FAULT");
    if (!fault) return;
    const std::string f = fault;
    if (f == "abort") {
        std::fputs("library.cxx:12: void check(): Assertion `length < size' failed.\n", stderr);
        std::abort();
    }
    if (f == "segv") std::raise(SIGSEGV);
    if (f == "hang") {
        volatile unsigned long spin = 0;
        for (;;) spin = spin + 1;
    }
    if (f == "memory")
        for (;;) {
            char* p = new char[64 << 20];
            std::memset(p, 1, 64 << 20);
        }
    if (f == "chatter") std::fputs("Unsupported JPEG data precision 12\nsecond line\n", stderr);
}

namespace {

// In the child: no terminal, no input, output into chatter_fd, limits.
void become_reader(int chatter_fd, int seconds)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::setsid();
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) ::dup2(null, 0);
    ::dup2(chatter_fd, 1);
    ::dup2(chatter_fd, 2);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(s, SIG_DFL);
    const auto limit = [](int resource, rlim_t value, rlim_t hard) {
        rlimit r{value, hard};
        ::setrlimit(resource, &r);
    };
    // The parent stops a reader after `seconds` of wall time. The processor
    // limit is a backstop one second later, for a reader whose threads burn
    // time faster than the clock; its soft limit sends SIGXCPU, which the
    // parent names (a soft limit equal to the hard one would be a bare SIGKILL).
    limit(RLIMIT_CPU, rlim_t(seconds + 1), rlim_t(seconds + 2));
    limit(RLIMIT_CORE, 0, 0);
#ifndef CRANE_ADDRESS_SANITIZER
    // The sanitizer reserves terabytes of address space; there the parent's
    // watch on resident memory is the limit.
    limit(RLIMIT_AS, rlim_t(memory_limit), rlim_t(memory_limit));
#endif
}

std::uint64_t resident_bytes(pid_t pid)
{
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    std::uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * std::uint64_t(::sysconf(_SC_PAGESIZE));
}

std::string how_it_ended(int status)
{
    if (WIFEXITED(status)) return "the reader failed (status " + std::to_string(WEXITSTATUS(status)) + ")";
    switch (WTERMSIG(status)) {
    case SIGABRT: return "the reader aborted on this file";
    case SIGSEGV:
    case SIGBUS: return "the reader crashed on this file (invalid memory access)";
    case SIGFPE: return "the reader crashed on this file (arithmetic fault)";
    case SIGXCPU: return "reading used more than " + std::to_string(time_limit() + 1) + " s of processor time: stopped";
    default: return std::string("the reader was killed (") + ::strsignal(WTERMSIG(status)) + ")";
    }
}

std::string read_chatter(int fd)
{
    std::string text(kept_chatter, '\0');
    const ssize_t n = ::pread(fd, text.data(), text.size(), 0);
    text.resize(n > 0 ? std::size_t(n) : 0);
    return text;
}

// Splits complete records off the front of buffer.
void deliver(std::string& buffer, const std::function<void(char, Wire&)>& on_record)
{
    std::size_t at = 0;
    while (buffer.size() - at >= 9) {
        std::uint64_t length;
        std::memcpy(&length, buffer.data() + at + 1, 8);
        if (buffer.size() - at - 9 < length) break;
        Wire payload;
        payload.bytes.assign(buffer, at + 9, length);
        on_record(buffer[at], payload);
        at += 9 + length;
    }
    buffer.erase(0, at);
}

}  // namespace

void RecordSender::send(char type, const std::string& payload)
{
    std::string record(1, type);
    const std::uint64_t length = payload.size();
    record.append(reinterpret_cast<const char*>(&length), 8);
    write_all(fd_, record.data(), record.size());
    write_all(fd_, payload.data(), payload.size());
}

ChildEnd run_in_child(const std::function<void(RecordSender&)>& work,
                      const std::function<void(char type, Wire& payload)>& on_record)
{
    ChildEnd end;
    int fds[2];
    const int chatter_fd = ::memfd_create("crane-import-chatter", MFD_CLOEXEC);
    if (chatter_fd < 0 || ::pipe2(fds, O_CLOEXEC) != 0) {
        end.reason = std::string("cannot start the reader: ") + std::strerror(errno);
        if (chatter_fd >= 0) ::close(chatter_fd);
        return end;
    }
    const int seconds = time_limit();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        end.reason = std::string("cannot start the reader: ") + std::strerror(errno);
        ::close(fds[0]), ::close(fds[1]), ::close(chatter_fd);
        return end;
    }
    if (pid == 0) {
        ::close(fds[0]);
        become_reader(chatter_fd, seconds);
        RecordSender sender(fds[1]);
        work(sender);
        std::fflush(nullptr);
        ::_exit(0);
    }
    ::close(fds[1]);

    const auto start = std::chrono::steady_clock::now();
    std::string buffer;
    std::string killed_because;
    char chunk[1 << 16];
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready > 0) {
            const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
            if (n == 0) break;
            if (n > 0) {
                buffer.append(chunk, std::size_t(n));
                deliver(buffer, on_record);
            } else if (errno != EINTR) {
                break;
            }
        }
        if (killed_because.empty()) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (elapsed > seconds)
                killed_because = "reading took more than " + std::to_string(seconds) + " s: stopped";
            else if (resident_bytes(pid) > memory_limit)
                killed_because = "reading needed more than 2 GiB of memory: stopped";
            if (!killed_because.empty()) ::kill(pid, SIGKILL);
        }
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    end.chatter = read_chatter(chatter_fd);
    ::close(chatter_fd);
    end.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0 && killed_because.empty();
    if (!end.finished) end.reason = killed_because.empty() ? how_it_ended(status) : killed_because;
    return end;
}

std::string chatter_line(const std::string& chatter)
{
    std::string best;
    std::size_t at = 0;
    while (at < chatter.size()) {
        std::size_t eol = chatter.find('\n', at);
        if (eol == std::string::npos) eol = chatter.size();
        std::string line = chatter.substr(at, eol - at);
        at = eol + 1;
        for (char& c : line)
            if (static_cast<unsigned char>(c) < ' ') c = ' ';
        const std::size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos) continue;
        line.erase(0, first);
        if (const std::size_t a = line.find("Assertion"); a != std::string::npos) {
            best = line.substr(a);
            break;
        }
        if (best.empty()) best = line;
    }
    if (best.size() > 160) best = best.substr(0, 157) + "...";
    return best;
}

bool sanitizer_report(const std::string& chatter)
{
    return chatter.find("ERROR: AddressSanitizer") != std::string::npos ||
           chatter.find("ERROR: LeakSanitizer") != std::string::npos ||
           chatter.find("runtime error:") != std::string::npos;
}
