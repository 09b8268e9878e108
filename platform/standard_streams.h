#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace pictrim::platform {

// What a command-line program gets from whoever started it: the standard
// streams.

// Opens the null device on whichever of the standard streams a parent left
// closed, so that no file the program opens later takes one of their
// numbers and receives its messages (a temporary image included). Makes a
// reader that went away (`| head`), and a file grown past the size limit
// (`ulimit -f`), fail writes instead of killing the process in the middle
// of a file. On Windows the streams are binary, so
// that what is written is what arrives.
void KeepStandardStreamsOpen();

// True when the stream is a terminal (a console window on Windows).
bool IsTerminal(std::FILE* stream);
// The terminal's width in columns; 0 when unknown.
std::size_t TerminalColumns(std::FILE* stream);

// printf to a standard stream. UTF-8 text reaches a terminal as text in any
// console code page, and a file or pipe as UTF-8.
#ifdef __MINGW32__
void Print(std::FILE* stream, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
#else
void Print(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
#endif

}  // namespace pictrim::platform
