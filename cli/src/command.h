// Subcommand registry of spherolux-cli.
//
// A subcommand is a function taking its own arguments (after the subcommand name) and
// returning the process exit code. Define one per file with a static Registration:
//
//   static int RunProbe(std::span<char* const> args);
//   static const cli::Registration kProbe{"probe", "FILE...", "Report camera type ...", RunProbe};
//
// Results go to stdout (JSON where a machine reads them), progress and errors to stderr.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/input_file.h"

namespace cli {

using CommandFn = int (*)(std::span<char* const> args);

struct Command {
  std::string_view name;
  std::string_view usage;    // argument synopsis, e.g. "FILE [--size WxH]"
  std::string_view summary;  // one or more lines of help text
  CommandFn run;
};

std::vector<Command>& Registry();

struct Registration {
  Registration(std::string_view name, std::string_view usage, std::string_view summary, CommandFn run) {
    Registry().push_back({name, usage, summary, run});
  }
};

// Exit codes shared by the subcommands.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;     // the operation failed (a message on stderr)
constexpr int kExitUnreadable = 2;  // an input could not be read at all
constexpr int kExitUsage = 64;      // bad command line

// Why `path` cannot be read as an input file, or empty when it can (base/input_file.h). Asked
// before the file is opened: opening a pipe would wait for a writer.
using spherolux::UnreadableReason;

}  // namespace cli
