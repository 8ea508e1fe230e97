// How the front ends word what the conversion side reports: the causes of
// convert/messages.h, the failure messages of jobs, the refusals of inputs and the progress
// display, from the string table (ui/strings.h) in the language the caller names.
// spherolux-cli words in English whatever the process's UI language; the windows pass
// ui::UiLanguage().
//
// Pure functions; any thread.
#pragma once

#include <string>

#include "convert/client.h"
#include "convert/messages.h"
#include "ui/strings.h"

namespace spherolux::convert {

// One sentence for the cause ("The disk is full."); "" for kNone.
const char* CauseText(Cause cause, ui::Language language);

// The failure message of a video job: string 302 for an output that cannot be created,
// else string 300 with the code ("Open Converter(errno=-1021):"), then the cause.
std::string VideoFailureText(int engine_code, ui::Language language);
// "Image stitching failed" (string 486), then the cause.
std::string PhotoFailureText(int photo_code, ui::Language language);
// "Merge file failed!" (string 494), then the cause.
std::string MergeFailureText(int engine_code, ui::Language language);

// What the user is told of an input that does not qualify: the cause of `problem` or
// `refusal` when one is set, else the verdict's string (481 or 482).
std::string RefusalText(const InputCheck& check, ui::Language language);
// The merger's refusal of one file (strings 495 and 496):
// "This file is not yet stitched, please stitch firstly!\nFile Path: PATH".
std::string MergeRefusalText(const std::string& path, ui::Language language);

// "Progress:37.25% " below 100, "Progress:100% " at 100.
std::string ProgressText(float percent, ui::Language language);
// "Time Left:00:01:02".
std::string TimeLeftText(int remaining_seconds, ui::Language language);

}  // namespace spherolux::convert
