// Allocation through the caller's callbacks, for the codec contexts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "jpeg/codec.h"

namespace spherolux::jpeg {

struct Memory {
  JpegAllocFn alloc = nullptr;
  JpegReleaseFn release = nullptr;

  // Uninitialised storage for n objects of T, or nullptr (also when n * sizeof(T) overflows).
  template <typename T>
  T* Array(size_t n) const {
    if (n == 0 || n > SIZE_MAX / sizeof(T)) return nullptr;
    return static_cast<T*>(alloc(n * sizeof(T)));
  }
  void Free(void* p) const {
    if (p) release(p);
  }
  template <typename T, typename... Args>
  T* New(Args&&... args) const {
    void* p = alloc(sizeof(T));
    return p ? new (p) T(std::forward<Args>(args)...) : nullptr;
  }
  template <typename T>
  void Delete(T* p) const {
    if (!p) return;
    p->~T();
    release(p);
  }
};

}  // namespace spherolux::jpeg
