// Facts about the running program and the processor it runs on.
//
// Both are safe from any thread and never fail: a fact that cannot be read gets a safe
// answer (the current folder; no vector extension).
#pragma once

#include <string>

namespace spherolux {

// The folder of the running program (from /proc/self/exe), without a trailing separator;
// "." when the kernel does not tell.
std::string ProgramDir();

// True when the processor and the operating system both support AVX2 (the operating
// system must save the wide registers). Asked once; kernels choose their paths with it.
bool CpuHasAvx2();

}  // namespace spherolux
