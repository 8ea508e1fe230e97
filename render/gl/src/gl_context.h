// The renderer's GL context on a Qt window. Kept apart from the GL calls because Qt's
// context header and GLEW's header cannot share a translation unit.
#pragma once

#include <memory>

class QWindow;

namespace spherolux::render {

class GlContext {
 public:
  explicit GlContext(QWindow* window);
  ~GlContext();
  GlContext(const GlContext&) = delete;
  GlContext& operator=(const GlContext&) = delete;

  // Reads GL_VERSION with a throw-away context on the calling thread: its major version, or
  // 0 when no context could be made current.
  static int ProbeMajorVersion(QWindow* window);

  // Makes the context current on the calling thread, creating it on first use and taking it
  // over when a teardown on another thread released it. False when that is not possible.
  bool MakeCurrent();
  // Current on the calling thread?
  bool IsCurrent() const;
  // Not current any more, and free to be taken over by any thread.
  void Release();
  void SwapBuffers();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace spherolux::render
