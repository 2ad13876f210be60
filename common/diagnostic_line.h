#pragma once

#include <string>

// mingw's g++ checks `printf` formats against the Microsoft runtime's, which lacks
// %zu; libstdc++ has mingw's own C99 printf do the printing, so check against that.
#ifdef __MINGW32__
#define TOVRIN_PRINTF_FORMAT gnu_printf
#else
#define TOVRIN_PRINTF_FORMAT printf
#endif

// A diagnostic line (with its line end) for whoever watches the tool's output (socket failures, bad
// records, the start of programming), never shown to the operator. The core
// hands each to the one who asked for the work: a loader in its report, a link
// to its observer; the front end decides where they go.
std::string DiagnosticLine(const char* format, ...) __attribute__((format(TOVRIN_PRINTF_FORMAT, 1, 2)));

// `line` with every byte outside printable ASCII but a final line end written
// as \xHH (a backslash too): a record or a file name quoted in a line cannot
// drive the terminal that shows it. A command line writes its lines so; the
// window's log is left as it is.
std::string EscapedLine(const std::string& line);
