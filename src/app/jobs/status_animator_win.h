// The status animator: one thread per process that appends a dot to the
// status line once a second while a cluster move is in progress, up to 31
// dots to a message.
//
// It waits on an event (the gate) that the job's display sets immediately
// before each cluster move and resets immediately after it; it is never
// suspended, so it can never be stopped while it holds anything. Its
// read-append-write of the status line runs on the window thread in one
// piece, and only while the gate is still open, so it never writes an older
// text back over a newer one: a text the job writes after a move (with the
// gate closed) is never touched.
#pragma once

#include <windows.h>

#include <cstddef>

namespace shardix {

// Creates the gate and the animator thread on first use. A failure shows
// its box ("CreateThread() Error") and the jobs run without the dots.
void EnsureStatusAnimator();

// The animator thread's body; it never returns.
DWORD WINAPI StatusAnimator(LPVOID);

// A cluster move on behalf of `window` begins / has ended. Any thread.
void OpenStatusAnimatorGate(HWND window);
void CloseStatusAnimatorGate(HWND window);

// One step of the animator on the status text in `text` (a buffer of
// `size` bytes): a text that does not end in "." starts the count again; a
// dot is appended while fewer than 31 have been (and the buffer has room).
// Returns whether the text changed.
bool AppendStatusDot(char* text, std::size_t size, int* dot_count);

// Time between two dots: 1000 ms; the tests shorten it.
void SetStatusAnimatorPeriod(DWORD milliseconds);

}  // namespace shardix
