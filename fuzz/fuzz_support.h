// What every fuzz target shares: a quiet code under test, one worker
// thread, a scratch folder of its own and a loud end on a broken invariant.
#pragma once

#include <string>

// Called from LLVMFuzzerInitialize, before libFuzzer reads its flags:
// - adds -close_fd_mask=3 unless the command line sets it, so that what the
//   viewer and ITK print goes nowhere while libFuzzer's and the sanitizers'
//   reports still show;
// - one OpenMP and one ITK thread (the environment may say otherwise);
// - keeps a copy of standard error for invariant_failed.
void fuzz_setup(int* argc, char*** argv);

// A fresh folder for this process: $CRANE_FUZZ_TMP, else /dev/shm, else
// the system's temporary directory, then crane-fuzz-NAME-PID. Removed at exit.
std::string fuzz_scratch_folder(const char* name);

// Prints what failed on the saved standard error and aborts, which
// libFuzzer records as a crash with its input.
[[noreturn]] void invariant_failed(const std::string& what);
