// The two kinds of job, each run on the calling thread of synth_trans.
#pragma once

#include <string>
#include <vector>

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

// The output file of a job: one temporary in the output's folder, which the muxer writes
// through path() and Finish rewrites in place (movie box first, spherical metadata added)
// and puts under the output's name. Without job.overwrite the name is claimed at Create and
// an existing file is never replaced. Whatever was not put in place is removed when the
// object goes away, also on a stop or a failure.
struct JobFiles {
  OutputFile file;

  // CONVERT_OK, CONVERT_ERR_OUTPUT_IS_INPUT (the output is one of `inputs`),
  // CONVERT_ERR_OUTPUT_EXISTS, CONVERT_ERR_PERMISSION or CONVERT_ERR_CREATE_OUTPUT. Finish
  // fails with CONVERT_ERR_INPUT_CHANGED when one of `inputs` changed meanwhile.
  int Create(const Job& job, const std::vector<std::string>& inputs);
  const std::string& path() const { return file.path(); }
  // Returns a result code.
  int Finish(const mp4::SphericalBoxes& boxes, JobContext& ctx);
};

// The result of a failed write from its errno (FFmpeg's errors are negated errnos): a full
// disk or quota is CONVERT_ERR_DISK_FULL, anything else CONVERT_ERR_WRITE.
int WriteError(int error);

// The FFmpeg URL of a file name: the file protocol only, whatever the name looks like.
inline std::string FileUrl(const std::string& path) { return "file:" + path; }

// CONVERT_OK for a regular file; CONVERT_ERR_NOT_A_FILE for a folder, pipe or device, which
// must not be opened (a pipe would block); CONVERT_ERR_PERMISSION or CONVERT_ERR_OPEN_INPUT
// when it cannot be looked at.
int CheckInputFile(const std::string& path);

// The result code of the exception being handled (call inside a catch block): no memory,
// or a thread or other resource the system refused.
int CurrentExceptionCode();

// The name our stitched outputs give as their stitching software.
inline constexpr const char* kSoftwareName = "SPHEROLUX Video Converter";

}  // namespace spherolux::convert
