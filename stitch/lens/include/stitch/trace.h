// Debug traces of the stitching tables. They are written only when the environment variable
// SPHEROLUX_TRACE_DIR names a folder; by default nothing is written anywhere.
#pragma once

#include "base/file.h"

namespace spherolux {

// Opens `name` inside the trace folder with the fopen `mode`, or returns null when no
// trace folder is set or the file cannot be opened (callers then skip the trace).
UniqueFile OpenTraceFile(const char* name, const char* mode);

}  // namespace spherolux
