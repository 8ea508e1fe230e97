// Finishing a recording: the movie box written from the records of a side file.
#pragma once

#include <cstdint>
#include <string>

#include "side_file.h"

namespace spherolux::mp4 {

// Completes an MP4 file laid out by the writer (mp4/writer.h) from the records `side`
// yields: samples whose data is not wholly in the file, and every record after the first
// such sample, are left out. The 'mdat' size is set, the file is cut after the last kept
// sample and 'moov' is written there (or, with the head's movie-first setting, the file is
// rewritten with 'moov' before 'mdat'). `mp4_fd` is the open file (read-write), or -1 to
// open `mp4_path`, or the path in the side file's head when that is empty.
Mp4Status FinishFromSide(SideFileReader& side, int mp4_fd, const std::string& mp4_path, uint64_t* samples_kept);

}  // namespace spherolux::mp4
