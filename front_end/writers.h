// writers.h: the front end's three writers and the open-failure report.
#pragma once

// Writes the formatted text to the debug stream and flushes it at once; does
// nothing while no debug stream is open. Every diagnostic line goes here.
[[gnu::format(printf, 1, 2)]] void debug_printf(const char* format, ...);

// Writes the formatted text to standard output, whatever -out= names: usage,
// version, getoption results and getoption argument errors.
[[gnu::format(printf, 1, 2)]] void console_printf(const char* format, ...);

// Ends a run with a numbered failure: formats the message (at most 1023
// characters are kept), writes "!FAILURE <id>: <message>" to the debug
// stream and a one-message XML report rooted at the current report name to
// the output stream. Returns 1, the exit status the caller returns at once.
[[gnu::format(printf, 2, 3)]] int report_failure(int id, const char* format, ...);

// The system's error report for a file that could not be opened: "name: reason"
// on standard error, or the reason alone when name is empty (errno is read).
void report_system_error(const char* name);
