// Diagnostic lines of the libraries, sent where the program chooses.
//
// Libraries never print to stdout: a command-line program keeps it for its results. They call
// Logf for warnings and Tracef for diagnostics, and the program decides where the lines go:
// warnings to stderr by default (diagnostics nowhere), nothing after SetLogQuiet(true), or
// both to its own sink after SetLogSink (a log file, a test's capture).
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

namespace log_detail {
inline void Emit(bool trace, const char* format, va_list args) {
  if (quiet.load()) return;
  const LogSink to = sink.load();
  if (to == nullptr && trace) return;
  char line[1024];
  std::vsnprintf(line, sizeof line, format, args);
  const size_t length = std::strlen(line);
  if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
  if (to != nullptr) {
    to(line);
  } else {
    std::fprintf(stderr, "%s\n", line);
  }
}
}  // namespace log_detail

// A warning: formats one line (printf rules, cut at 1023 bytes; a final newline is dropped) and
// hands it to the sink.
[[gnu::format(printf, 1, 2)]] inline void Logf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  log_detail::Emit(false, format, args);
  va_end(args);
}

// A diagnostic for developers and tests (what a window shows, what the engine was given): as
// Logf where a sink is set, dropped otherwise, so that stderr carries warnings only.
[[gnu::format(printf, 1, 2)]] inline void Tracef(const char* format, ...) {
  va_list args;
  va_start(args, format);
  log_detail::Emit(true, format, args);
  va_end(args);
}

}  // namespace spherolux
