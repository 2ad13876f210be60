#pragma once

#include <cstdio>

// mingw's g++ checks `printf` formats against the Microsoft runtime's, which lacks
// %zu; libstdc++ has mingw's own C99 printf do the printing, so check against that.
#ifdef __MINGW32__
#define TOVRIN_PRINTF_FORMAT gnu_printf
#else
#define TOVRIN_PRINTF_FORMAT printf
#endif

// A diagnostic line for whoever watches the tool's output: socket failures, bad
// records, the start of programming. Never shown to the operator.
void LogLine(const char* format, ...) __attribute__((format(TOVRIN_PRINTF_FORMAT, 1, 2)));

// Where LogLine writes; standard output unless a front end needs that stream for
// itself (a machine-readable result, for instance).
void SetLogStream(std::FILE* stream);

// With escaping on, every byte of a line outside printable ASCII but its final
// line end is written as \xHH (a backslash too): a record or a file name quoted
// in a line cannot drive the terminal that shows it. A command line turns it
// on; the window's log is left as it is.
void SetLogEscaping(bool escape);

// A thread that runs one of several boards at once takes its own lines: while
// a sink is set, LogLine on this thread hands each line (escaped as the stream
// would get it) to sink(context, line) instead of writing it. A front end that
// draws one line per board puts them where they belong. Null removes it.
using LogSink = void (*)(void* context, const char* line);
void SetThreadLogSink(LogSink sink, void* context);
