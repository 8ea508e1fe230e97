// The two kinds of job, each run on the calling thread of synth_trans.
#pragma once

#include <string>

#include "args.h"
#include "job_context.h"
#include "mp4/spherical.h"

namespace spherolux::convert {

// Conversion: stitch or transcode, or stream copy, of [start, start + duration).
int RunConvert(const Job& job, int rotation, JobContext& ctx);
// Stream copy of the files of a concat list, one after the other.
int RunMerge(const Job& job, JobContext& ctx);

// The spherical boxes of a file's first video track (none when unreadable).
mp4::SphericalBoxes SphericalBoxesOf(const std::string& path);

// Turns the muxer's file `raw` into `final_path`: movie box first, `boxes` added to the
// video track. Returns a result code.
int FinishMp4(const std::string& raw, const std::string& final_path, const mp4::SphericalBoxes& boxes, JobContext& ctx);

// The name our stitched outputs give as their stitching software.
inline constexpr const char* kSoftwareName = "SPHEROLUX Video Converter";

}  // namespace spherolux::convert
