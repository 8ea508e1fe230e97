#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "base/log.h"
#include "command.h"

namespace cli {

std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

}  // namespace cli

namespace {

void PrintHelp(std::FILE* out) {
  auto commands = cli::Registry();
  std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  std::fprintf(out,
               "spherolux-cli - SPHEROLUX Video Converter for shells and scripts\n\n"
               "Usage: spherolux-cli [--quiet] COMMAND [ARGS...]\n"
               "       spherolux-cli --help | --version | COMMAND --help\n\n"
               "Results go to stdout, progress, errors and diagnostics to stderr;\n"
               "--quiet drops the diagnostics of the libraries. In every command \"--\" ends the\n"
               "options: each argument after it is a file name, even one that starts with \"-\".\n"
               "File names that are not UTF-8 appear in JSON as \\udcXX escapes of their bytes.\n\n"
               "Commands:\n");
  for (const auto& c : commands) {
    std::fprintf(out, "  %.*s %.*s\n", int(c.name.size()), c.name.data(), int(c.usage.size()), c.usage.data());
    std::string summary(c.summary);
    size_t start = 0;
    while (start < summary.size()) {
      size_t end = summary.find('\n', start);
      if (end == std::string::npos) end = summary.size();
      std::fprintf(out, "      %s\n", summary.substr(start, end - start).c_str());
      start = end + 1;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Diagnostics of the libraries go to stderr (the log's default): stdout carries only results.
  if (argc >= 2 && (!std::strcmp(argv[1], "--quiet") || !std::strcmp(argv[1], "-q"))) {
    spherolux::SetLogQuiet(true);
    argv[1] = argv[0];
    ++argv;
    --argc;
  }
  if (argc == 2 && !std::strcmp(argv[1], "--version")) {
    std::printf("spherolux-cli %s\n", SPHEROLUX_VERSION);
    return cli::kExitOk;
  }
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    PrintHelp(argc < 2 ? stderr : stdout);
    return argc < 2 ? cli::kExitUsage : cli::kExitOk;
  }
  for (const auto& c : cli::Registry()) {
    if (c.name != argv[1]) continue;
    if (argc == 3 && (!std::strcmp(argv[2], "--help") || !std::strcmp(argv[2], "-h"))) {
      std::printf("Usage: spherolux-cli %.*s %.*s\n%.*s\n", int(c.name.size()), c.name.data(), int(c.usage.size()),
                  c.usage.data(), int(c.summary.size()), c.summary.data());
      return cli::kExitOk;
    }
    // The last resort: a failure no subcommand foresaw ends it with a message, never an abort.
    try {
      return c.run(std::span<char* const>(argv + 2, argv + argc));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "spherolux-cli %s: %s\n", argv[1], e.what());
      return cli::kExitFailure;
    }
  }
  std::fprintf(stderr, "spherolux-cli: unknown command '%s' (see spherolux-cli --help)\n", argv[1]);
  return cli::kExitUsage;
}
