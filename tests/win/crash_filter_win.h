// Every test program of a Windows tree links crash_filter_win.cpp: a crash
// prints "Unhandled exception 0x..." and ends the program with this code,
// instead of starting a debugger that Wine may let end with 0.
#pragma once

namespace shardix::test {

// Passes Wine's exit codes, which are taken modulo 256.
constexpr int kCrashExitCode = 229;

}  // namespace shardix::test
