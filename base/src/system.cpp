#include "base/system.h"

#include <limits.h>
#include <malloc.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace spherolux {

std::string ProgramDir() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0 || n == static_cast<ssize_t>(sizeof buf)) return ".";
  const std::string path(buf, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool CpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  // GCC's check includes the operating system's support (XGETBV) for the AVX state.
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return avx2;
#else
  return false;
#endif
}

void RunThreadWhenIdle() {
  // On Linux both calls with 0 or the thread's id act on the calling thread alone.
  const sched_param param{};
  if (::sched_setscheduler(0, SCHED_IDLE, &param) == 0) return;
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

void KeepFreedMemoryForReuse() {
  // Blocks up to 32 MiB (the largest threshold the allocator accepts) come from its heaps,
  // which give free memory back only beyond 64 MiB.
  ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
  // And every thread allocates from the one main heap. A thread of its own gets heaps of its
  // own, and such a heap is unmapped the moment its last block is freed, whatever the
  // thresholds: a drawing thread that frees everything it allocated for a picture had a new
  // heap mapped and faulted in for each (over 40 000 faults a second at 1920 x 960).
  ::mallopt(M_ARENA_MAX, 1);
}

}  // namespace spherolux
