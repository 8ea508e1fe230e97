#include "stitch/trace.h"

#include <cstdlib>
#include <string>

namespace spherolux {

UniqueFile OpenTraceFile(const char* name, const char* mode) {
  const char* dir = std::getenv("SPHEROLUX_TRACE_DIR");
  if (dir == nullptr || *dir == '\0' || name == nullptr) return nullptr;
  std::string path(dir);
  if (path.back() != '/') path += '/';
  path += name;
  return OpenFile(path.c_str(), mode);
}

}  // namespace spherolux
