// Diagnostic lines of the libraries, sent where the program chooses.
//
// Libraries never print to stdout: a command-line program keeps it for its results. They call
// Logf, and the program decides where the line goes: to stderr by default, nowhere after
// SetLogQuiet(true), or to its own sink after SetLogSink (a log window, a test's capture).
//
// Threads: Logf may be called on any thread. A sink is called on the logging thread, possibly
// on several at once; it must be thread-safe and must not wait for the UI thread. Set the sink
// and the quiet flag at start-up, before other threads log.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace spherolux {

// Receives one line, without its final newline. The text is valid only during the call.
using LogSink = void (*)(const char* line);

namespace log_detail {
inline std::atomic<LogSink> sink{nullptr};
inline std::atomic<bool> quiet{false};
}  // namespace log_detail

// Null restores the default: each line to stderr.
inline void SetLogSink(LogSink sink) { log_detail::sink.store(sink); }
// While quiet, lines are dropped.
inline void SetLogQuiet(bool quiet) { log_detail::quiet.store(quiet); }

// Formats one line (printf rules, cut at 1023 bytes; a final newline is dropped) and hands it
// to the sink.
[[gnu::format(printf, 1, 2)]] inline void Logf(const char* format, ...) {
  if (log_detail::quiet.load()) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  const size_t length = std::strlen(line);
  if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
  if (const LogSink sink = log_detail::sink.load()) {
    sink(line);
  } else {
    std::fprintf(stderr, "%s\n", line);
  }
}

}  // namespace spherolux
