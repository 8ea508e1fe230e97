// Camera files for the dialogs' tests, made by spherolux-camgen as a user would run it, and
// ffprobe's view of what the jobs wrote.
#pragma once

#include <string>

namespace spherolux::dialogs::testing {

// spherolux-camgen KIND PATH ARGS ("video" or "photo"); returns PATH. A test failure when
// camgen fails.
std::string Camgen(const std::string& kind, const std::string& path, const std::string& args);

// The duration of a media file in seconds, as ffprobe reads it; -1 when it cannot.
double DurationSeconds(const std::string& path);

}  // namespace spherolux::dialogs::testing
