// Loading the conversion engine (libconvert.so) by name, and the media facts the job
// front ends need before they call it.
#pragma once

#include <cstdint>
#include <string>

#include "convert/engine.h"

namespace spherolux::convert {

// The engine's five functions, resolved by name. All are set, or the load failed.
struct EngineApi {
  int (*synth_trans)(int, const char* const*, int, int, int) = nullptr;
  int (*stop_transcoding)() = nullptr;
  int (*setposition_callback)(convert_position_callback, void*) = nullptr;
  int (*rescale_csconvert)(const uint8_t*, uint8_t*, int, int, int, int, int, int) = nullptr;
  int (*synth_image)() = nullptr;
  void* handle = nullptr;  // kept loaded for the life of the process
};

inline constexpr const char* kEngineFileName = "libconvert.so";

// Loads kEngineFileName from `dir`. False with a message in *error when the file cannot be
// loaded or lacks one of the functions.
bool LoadEngine(const std::string& dir, EngineApi* api, std::string* error);

// The folder of the running program (from /proc/self/exe), ending without a separator.
std::string ProgramDir();

// Length of a video in milliseconds, or -1 when it cannot be read.
int64_t MediaLengthMs(const std::string& path);

}  // namespace spherolux::convert
