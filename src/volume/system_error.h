// An error as the system gave it (errno on Linux, a Win32 code on Windows)
// or as this program refuses something, for the front ends to say in the
// system's own words. The engine keeps its Windows numbers (error_codes.h);
// where one was made from a system error the original is kept beside it on
// the thread, as GetLastError keeps it, and SystemErrorFor finds it again.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace shardix {

using SystemError = std::error_code;

// This program's refusals: the own codes of error_codes.h, and outside
// Windows the Windows numbers that no system call gave (no NTFS found, the
// image in use, ...). Values are the Windows numbers.
const std::error_category& RefusalCategory();
// Windows numbers with no better source: FormatMessage's words on Windows,
// the table of error_text.cpp elsewhere.
const std::error_category& WindowsCategory();

// The value for a Windows number. Outside Windows a number with a plain
// errno counterpart becomes that errno, so it is said in strerror's words.
SystemError ErrorFromCode(uint32_t code);
// A POSIX errno value (the C library's words).
SystemError ErrnoError(int err);
// The Windows number closest to a POSIX errno value, keeping nothing
// (ErrorFromErrno also keeps the errno for SystemErrorFor).
uint32_t WindowsNumberOfErrno(int err);
// The Windows number the engine and the window use for `error`.
uint32_t WindowsCode(const SystemError& error);

// A stable name for scripts: "ENOENT" for an errno, "ERROR_FILE_NOT_FOUND"
// or "WIN32_<n>" for a Windows number, a kebab-case name ("not-an-image")
// for a refusal.
std::string ErrorName(const SystemError& error);

// Keeps `original` as the error behind `code` on this thread; returns `code`.
uint32_t KeepSystemError(uint32_t code, const SystemError& original);
// The error behind `code` on this thread: the one kept with that number,
// else ErrorFromCode(code).
SystemError SystemErrorFor(uint32_t code);
// Forgets the kept error, so an older one is not taken for a later failure.
void ForgetSystemError();

}  // namespace shardix
