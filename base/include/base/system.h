// Facts about the running program and the processor it runs on, and how its threads run.
//
// All are safe from any thread and never fail: a fact that cannot be read gets a safe
// answer (the current folder; no vector extension), a request the system refuses is left.
#pragma once

#include <string>

namespace spherolux {

// The folder of the running program (from /proc/self/exe), without a trailing separator;
// "." when the kernel does not tell.
std::string ProgramDir();

// True when the processor and the operating system both support AVX2 (the operating
// system must save the wide registers). Asked once; kernels choose their paths with it.
bool CpuHasAvx2();

// Lets the calling thread run only when no ordinary thread wants a processor (Linux's idle
// scheduling class; where that is refused, the lowest nice level), so that on a busy machine
// background work never delays the threads that keep the picture moving. Threads it starts
// afterwards inherit the class. Cannot be undone without privileges.
void RunThreadWhenIdle();

// Keeps the memory the program frees for its next allocations instead of handing it back to
// the system at once. A video player frees and allocates the same few megabytes for every
// picture (the graphics library's per-draw buffers among them); memory handed back must be
// faulted in and cleared again by the system on the next picture. All threads then share
// one heap. Call at the start of main, before any thread starts.
void KeepFreedMemoryForReuse();

}  // namespace spherolux
