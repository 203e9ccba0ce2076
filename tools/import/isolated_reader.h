// Running a reading step in a child process, so that whatever a parsing
// library does (abort on an assertion, crash, allocate without bound, loop,
// print on standard error) stays there. The child gets a memory limit, a
// processor-time limit, a wall-clock watchdog in the parent, no terminal
// and no standard input; its standard output and error are kept in a
// memory file. It sends records back through a pipe as it goes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A byte buffer for records: numbers and strings in a fixed layout.
class Wire {
public:
    std::string bytes;
    std::size_t at = 0;

    void put(bool v) { put_raw(&v, 1); }
    void put(int v) { put(std::int64_t(v)); }
    void put(std::int64_t v) { put_raw(&v, sizeof v); }
    void put(std::uint32_t v) { put(std::int64_t(v)); }
    void put(std::uint64_t v) { put_raw(&v, sizeof v); }
    void put(double v) { put_raw(&v, sizeof v); }
    void put(const std::string& s)
    {
        put(std::uint64_t(s.size()));
        bytes += s;
    }

    // Each get sets ok to false, and leaves v as it was, past the end.
    void get(bool& v) { get_raw(&v, 1); }
    void get(int& v)
    {
        std::int64_t w = 0;
        get(w);
        v = int(w);
    }
    void get(std::int64_t& v) { get_raw(&v, sizeof v); }
    void get(std::uint32_t& v)
    {
        std::int64_t w = 0;
        get(w);
        v = std::uint32_t(w);
    }
    void get(std::uint64_t& v) { get_raw(&v, sizeof v); }
    void get(double& v) { get_raw(&v, sizeof v); }
    void get(std::string& s)
    {
        std::uint64_t n = 0;
        get(n);
        if (!ok || n > bytes.size() - at) return void(ok = false);
        s.assign(bytes, at, n);
        at += n;
    }
    bool ok = true;

private:
    void put_raw(const void* p, std::size_t n) { bytes.append(static_cast<const char*>(p), n); }
    void get_raw(void* p, std::size_t n)
    {
        if (!ok || n > bytes.size() - at) return void(ok = false);
        bytes.copy(static_cast<char*>(p), n, at);
        at += n;
    }
};

// The child's end of the pipe.
class RecordSender {
public:
    explicit RecordSender(int fd) : fd_(fd) {}
    // Sends one record; a parent that has gone ends the child (SIGPIPE).
    void send(char type, const std::string& payload);

private:
    int fd_;
};

struct ChildEnd {
    bool finished = false;  // the work returned and the child exited 0
    std::string reason;     // otherwise how it ended, in a few words
    std::string chatter;    // what libraries printed, first 64 KiB
};

// Runs work in a child process and hands each record it sends to
// on_record in the parent, as it arrives.
ChildEnd run_in_child(const std::function<void(RecordSender&)>& work,
                      const std::function<void(char type, Wire& payload)>& on_record);

// The one line of the libraries' chatter that says most (an assertion that
// failed, or the first line), shortened; empty when there is none.
std::string chatter_line(const std::string& chatter);

// Only the test suite sets CRANE_IMPORT_TEST_FAULT (abort, segv, hang,
// memory, chatter): called where a child starts reading, it makes the child
// misbehave so that the tests see the parent deal with it.
void act_out_test_fault();

// True when the chatter holds a sanitizer's report, which must not be hidden.
bool sanitizer_report(const std::string& chatter);
