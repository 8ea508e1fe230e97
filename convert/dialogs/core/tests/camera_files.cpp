#include "camera_files.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "testsupport/testsupport.h"

namespace spherolux::dialogs::testing {

std::string Camgen(const std::string& kind, const std::string& path, const std::string& args) {
  const std::string command =
      testsupport::BuiltProgram("spherolux-camgen") + " " + kind + " " + testsupport::ShellQuote(path) + " " + args;
  const testsupport::CommandResult run = testsupport::RunCommand(command);
  EXPECT_EQ(run.exit_code, 0) << command << "\n" << run.err;
  return path;
}

double DurationSeconds(const std::string& path) {
  const testsupport::CommandResult run = testsupport::RunCommand(
      "ffprobe -v error -show_entries format=duration -of csv=p=0 " + testsupport::ShellQuote(path));
  return run.exit_code != 0 || run.out.empty() ? -1 : std::atof(run.out.c_str());
}

}  // namespace spherolux::dialogs::testing
