// The diagnostic log call used by every layer of the bridge.
//
// Each call writes exactly one line to standard error with a single write(2) (looping
// only if the kernel accepts part of a very long line), so lines from different threads
// never interleave. Standard output is never touched: it carries protocol responses only.
//
// The format is printf-style. "%@" stands for a string or object rendering and takes a
// `const char*` (render objects to a std::string first and pass .c_str()). A trailing
// line feed is added; the format should not end in one.
//
// Thread-safe; callable from any thread; never blocks on anything but the write itself.
#pragma once

#include <functional>
#include <string_view>

void bridgeLog(const char* format, ...);

// Test seam: while a sink is installed, every line (without its line feed) goes to the
// sink instead of standard error. The sink is called under an internal lock, so it sees
// whole lines one at a time. Pass an empty function to restore standard error.
void setLogSinkForTesting(std::function<void(std::string_view line)> sink);
