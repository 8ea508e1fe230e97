// The two kinds of job, each run on the calling thread of synth_trans.
#pragma once

#include <string>

#include "args.h"
#include "base/output_file.h"
#include "job_context.h"
#include "mp4/spherical.h"

namespace spherolux::convert {

// Conversion: stitch or transcode, or stream copy, of [start, start + duration).
int RunConvert(const Job& job, int rotation, JobContext& ctx);
// Stream copy of the files of a concat list, one after the other.
int RunMerge(const Job& job, JobContext& ctx);

// The spherical boxes of a file's first video track (none when unreadable).
mp4::SphericalBoxes SphericalBoxesOf(const std::string& path);

// The files of a job, both temporaries in the output's folder: the muxer writes `raw`;
// Finish rewrites it into `finished` (movie box first, spherical metadata added) and puts
// that in place under the output name, replacing a file of that name. Whatever was not
// put in place is removed when the object goes away, also on a stop or a failure.
struct JobFiles {
  OutputFile raw, finished;

  // CONVERT_OK, or CONVERT_ERR_CREATE_OUTPUT when the folder takes no new file.
  int Create(const std::string& output);
  // Returns a result code.
  int Finish(const mp4::SphericalBoxes& boxes, JobContext& ctx);
};

// The result code of the exception being handled (call inside a catch block): no memory,
// or a thread or other resource the system refused.
int CurrentExceptionCode();

// The name our stitched outputs give as their stitching software.
inline constexpr const char* kSoftwareName = "SPHEROLUX Video Converter";

}  // namespace spherolux::convert
