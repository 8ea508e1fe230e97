#include "gl_context.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>
#include <QThread>
#include <QWindow>

namespace spherolux::render {
namespace {

QSurfaceFormat ContextFormat(const QWindow* window) {
  QSurfaceFormat format = window->requestedFormat();
  format.setRenderableType(QSurfaceFormat::OpenGL);
  format.setVersion(2, 0);
  format.setProfile(QSurfaceFormat::NoProfile);
  return format;
}

}  // namespace

struct GlContext::Impl {
  QWindow* window;
  std::unique_ptr<QOpenGLContext> context;
};

GlContext::GlContext(QWindow* window) : impl_(std::make_unique<Impl>(Impl{window, nullptr})) {}

GlContext::~GlContext() {
  if (impl_->context != nullptr && QOpenGLContext::currentContext() == impl_->context.get()) {
    impl_->context->doneCurrent();
  }
}

int GlContext::ProbeMajorVersion(QWindow* window) {
  QOpenGLContext probe;
  probe.setFormat(ContextFormat(window));
  if (!probe.create() || !probe.makeCurrent(window)) return 0;
  const GLubyte* version = probe.functions()->glGetString(GL_VERSION);
  const int major = (version != nullptr && version[0] >= '0' && version[0] <= '9') ? version[0] - '0' : 0;
  probe.doneCurrent();
  return major;
}

bool GlContext::MakeCurrent() {
  QThread* here = QThread::currentThread();
  if (impl_->context == nullptr) {
    impl_->context = std::make_unique<QOpenGLContext>();
    impl_->context->setFormat(ContextFormat(impl_->window));
    impl_->context->create();
  } else if (impl_->context->thread() == nullptr) {
    // Released by a teardown on another thread: take it over. A new context per output
    // thread costs both speed and memory.
    impl_->context->moveToThread(here);
  }
  return impl_->context->thread() == here && impl_->context->makeCurrent(impl_->window);
}

bool GlContext::IsCurrent() const {
  return impl_->context != nullptr && QOpenGLContext::currentContext() == impl_->context.get();
}

void GlContext::Release() {
  if (impl_->context == nullptr || impl_->context->thread() != QThread::currentThread()) return;
  impl_->context->doneCurrent();
  impl_->context->moveToThread(nullptr);
}

void GlContext::SwapBuffers() {
  if (IsCurrent()) impl_->context->swapBuffers(impl_->window);
}

}  // namespace spherolux::render
