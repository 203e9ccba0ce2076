/* LD_PRELOAD shim for the importer's tests: sends a signal to the process
 * at a chosen call, so that an interruption happens at a repeatable instant.
 * CRANE_SHIM_CALL: fsync, renameat2 (before the call) or renameat2-after;
 * CRANE_SHIM_AT: which call, counting from 1; CRANE_SHIM_SIGNAL: the signal. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int calls;

static int chosen(const char* call)
{
    const char* wanted = getenv("CRANE_SHIM_CALL");
    const char* at = getenv("CRANE_SHIM_AT");
    return wanted && at && strcmp(wanted, call) == 0 && ++calls == atoi(at);
}

static void fire(void)
{
    const char* signal = getenv("CRANE_SHIM_SIGNAL");
    raise(signal ? atoi(signal) : SIGTERM);
}

int fsync(int fd)
{
    int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    if (chosen("fsync")) fire();
    return real(fd);
}

int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, unsigned flags)
{
    int (*real)(int, const char*, int, const char*, unsigned) =
        (int (*)(int, const char*, int, const char*, unsigned))dlsym(RTLD_NEXT, "renameat2");
    const int before = chosen("renameat2");
    if (before) fire();
    const int result = real(olddirfd, oldpath, newdirfd, newpath, flags);
    if (!before && getenv("CRANE_SHIM_CALL") && strcmp(getenv("CRANE_SHIM_CALL"), "renameat2-after") == 0 &&
        ++calls == atoi(getenv("CRANE_SHIM_AT") ? getenv("CRANE_SHIM_AT") : "0"))
        fire();
    return result;
}
