// GLEW must come before any header that pulls in GL/gl.h, Qt's included.
#include <GL/glew.h>
// clang-format off
#include "render/opengl_render.h"
// clang-format on

#include <QImage>
#include <QThread>
#include <QWindow>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "base/log.h"
#include "base/system.h"
#include "gl_context.h"
#include "screenshot_writer.h"
#include "shaders.h"

namespace spherolux::render {
namespace {

constexpr int kFlatIndexCount = 6;
// Attribute locations, the same in every program, so that the arrays stay pointed at across
// a change of program.
constexpr GLuint kPositionAttribute = 0;
constexpr GLuint kUvAttribute = 1;
constexpr GLuint kUvbAttribute = 2;
constexpr float kDefaultFov = 90.0f;

// The flat view: a quad filling the view of a camera at z = -1 with a 90-degree field.
constexpr float kFlatPositions[12] = {-1, -1, 0, 1, -1, 0, -1, 1, 0, 1, 1, 0};
constexpr float kFlatUv[8] = {1, 1, 0, 1, 1, 0, 0, 0};
constexpr uint16_t kFlatIndices[kFlatIndexCount] = {0, 1, 2, 1, 3, 2};

const char* GlString(GLenum name) {
  const GLubyte* s = glGetString(name);
  return s != nullptr ? reinterpret_cast<const char*>(s) : "(none)";
}

// Mesa's rasterisers that run on the processor, by the names they report.
bool IsSoftwareRasteriser(const std::string& renderer) {
  for (const char* name : {"llvmpipe", "softpipe", "Software Rasterizer", "SWR"}) {
    if (renderer.find(name) != std::string::npos) return true;
  }
  return false;
}

// Compiles one shader from its source strings, in order; on failure prints up to 256 bytes
// of its log and returns 0.
GLuint CompileShader(GLenum type, std::initializer_list<const char*> sources, const char* label) {
  const GLuint shader = glCreateShader(type);
  glShaderSource(shader, static_cast<GLsizei>(sources.size()), sources.begin(), nullptr);
  glCompileShader(shader);
  GLint status = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
  if (status != GL_TRUE) {
    char log[256] = {};
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    Logf("COpenglRender::InitShader[%s]:%s", label, log);
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

// A texture sampled with `filter`, bound to the active unit.
GLuint NewTexture(GLint filter) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  return texture;
}

void DeleteTexture(int& id) {
  if (id < 0) return;
  const GLuint texture = static_cast<GLuint>(id);
  glDeleteTextures(1, &texture);
  id = -1;
}

// The matrix that takes (Y, U, V, 1), each read from its plane as 0..1, to (R, G, B, 1).
Matrix4 YuvToRgbMatrix(const YuvColour& colour) {
  const YuvWeights w = YuvToRgbWeights(colour);
  const float c_offset = 128.0f / 255.0f;
  const float y_add = -w.y_offset * w.y_scale;
  Matrix4 m;
  // Columns: the weights of Y, U, V and the constant term.
  const float columns[4][4] = {
      {w.y_scale, w.y_scale, w.y_scale, 0},
      {0, w.g_u, w.b_u, 0},
      {w.r_v, w.g_v, 0, 0},
      {y_add - c_offset * w.r_v, y_add - c_offset * (w.g_u + w.g_v), y_add - c_offset * w.b_u, 1},
  };
  std::memcpy(m.m, columns, sizeof m.m);
  return m;
}

// The byte order in which the driver reads the default framebuffer back fastest, as it
// reports it (GL 4.1 / ARB_ES2_compatibility). Mesa's llvmpipe says RGBA, which it reads in
// about a third less time than BGRA. BGRA where the driver does not say.
PixelOrder FastestReadOrder() {
  if (!GLEW_VERSION_4_1 && !GLEW_ARB_ES2_compatibility) return PixelOrder::kBgra;
  GLint format = 0;
  GLint type = 0;
  glGetIntegerv(GL_IMPLEMENTATION_COLOR_READ_FORMAT, &format);
  glGetIntegerv(GL_IMPLEMENTATION_COLOR_READ_TYPE, &type);
  return format == GL_RGBA && type == GL_UNSIGNED_BYTE ? PixelOrder::kRgba : PixelOrder::kBgra;
}

}  // namespace

COpenglRender::COpenglRender(QWindow* window, RenderMessageSink* sink)
    : window_(window), sink_(sink), context_(std::make_unique<GlContext>(window)) {
  if (window_->handle() == nullptr) window_->create();
  // A short-lived context only to learn what the driver offers.
  gl_major_ = GlContext::ProbeMajorVersion(window_);
  const qreal ratio = window_->devicePixelRatio();
  const int w = static_cast<int>(window_->width() * ratio);
  const int h = static_cast<int>(window_->height() * ratio);
  window_width_.store(w);
  window_height_.store(h);
  models_ = std::make_unique<ViewModelSet>(std::sqrt(static_cast<float>(w) * w + static_cast<float>(h) * h));
}

COpenglRender::~COpenglRender() {
  FrameRecorder* recorder = recorder_.load();
  if (recorder != nullptr && recorder->IsRecording()) {
    recorder->Finish();
    if (sink_ != nullptr) sink_->Post(kMsgRecordSaved);
  }
  if (context_->IsCurrent() && initialised_) DeleteGlObjects();
  context_.reset();
}

void COpenglRender::DeleteProgram(Program& program) {
  if (program.id >= 0) glDeleteProgram(static_cast<GLuint>(program.id));
  if (program.vertex_shader >= 0) glDeleteShader(static_cast<GLuint>(program.vertex_shader));
  if (program.fragment_shader >= 0) glDeleteShader(static_cast<GLuint>(program.fragment_shader));
  program = Program{};
}

void COpenglRender::DeleteGlObjects() {
  DeleteProgram(program_);
  DeleteProgram(lens_program_);
  DeleteTexture(texture_);
  DeleteTexture(chroma_textures_[0]);
  DeleteTexture(chroma_textures_[1]);
}

int COpenglRender::BuildProgram(Program& program, const char* vertex_source, const char* fragment_body,
                                const char* label) {
  const GLuint vertex = CompileShader(GL_VERTEX_SHADER, {vertex_source}, "Vertex");
  if (vertex == 0) return -2;
  program.vertex_shader = static_cast<int>(vertex);
  const GLuint fragment = CompileShader(
      GL_FRAGMENT_SHADER, {program_uses_yuv_ ? kYuvPictureSource : kRgbPictureSource, fragment_body}, "Fragment");
  if (fragment == 0) return -2;
  program.fragment_shader = static_cast<int>(fragment);

  const GLuint id = glCreateProgram();
  program.id = static_cast<int>(id);
  glAttachShader(id, vertex);
  glAttachShader(id, fragment);
  glBindAttribLocation(id, kPositionAttribute, "a_Position");
  glBindAttribLocation(id, kUvAttribute, "a_UV");
  glBindAttribLocation(id, kUvbAttribute, "a_UVB");
  glLinkProgram(id);
  GLint linked = GL_FALSE;
  glGetProgramiv(id, GL_LINK_STATUS, &linked);
  if (linked != GL_TRUE) {
    char log[256] = {};
    glGetProgramInfoLog(id, sizeof log, nullptr, log);
    Logf("COpenglRender::InitShaders[%s]:%s", label, log);
    return -2;
  }
  program.u_mmatrix = glGetUniformLocation(id, "u_MMatrix");
  program.u_pmatrix = glGetUniformLocation(id, "u_PMatrix");
  program.u_yuv_to_rgb = glGetUniformLocation(id, "u_YuvToRgb");
  if (program_uses_yuv_) {
    // The colour planes on units 1 and 2; the luma stays on unit 0 with the RGB texture.
    glUseProgram(id);
    glUniform1i(glGetUniformLocation(id, "sTextureU"), 1);
    glUniform1i(glGetUniformLocation(id, "sTextureV"), 2);
  }
  return 0;
}

int COpenglRender::Initialise() {
  if (initialised_) return 0;
  if (gl_major_ < 2) return 1;
  texture_needs_allocation_ = true;
  uploaded_ = false;
  context_->MakeCurrent();
  Tracef("Status: Using GL %s", GlString(GL_VERSION));
  const GLenum glew = glewInit();
  if (glew != GLEW_OK) {
    Logf("Error: %s", reinterpret_cast<const char*>(glewGetErrorString(glew)));
    context_->Release();
    return -1;
  }
  Tracef("Status: Using GLEW %s", reinterpret_cast<const char*>(glewGetString(GLEW_VERSION)));

  program_uses_blend_ = media_kind_ == kMediaDualLens && blend_capable_;
  // A software rasteriser draws a picture that is one 32-bit texture read per pixel in a
  // fraction of the time the three planes and the colour matrix take (at 1200 x 600 about
  // 4 ms less per draw), more than the AVX2 conversion costs (0.7 ms for 1920 x 960; without
  // AVX2 ten times that); a GPU does the matrix for free and is given the smaller planes.
  const bool planar = frame_source_.load() == kSourceDecoderYuv;
  const YuvConversion conversion = yuv_conversion_.load();
  convert_yuv_ =
      planar && (conversion == YuvConversion::kProcessor ||
                 (conversion == YuvConversion::kAuto && CpuHasAvx2() && IsSoftwareRasteriser(GlString(GL_RENDERER))));
  program_uses_yuv_ = planar && !convert_yuv_;
  // A two-lens medium also gets the one-lens program for the parts of the sphere the
  // cross-fade gives to one lens alone: half the texture reads of the blend there.
  if (BuildProgram(program_, program_uses_blend_ ? kBlendVertexShader : kSimpleVertexShader,
                   program_uses_blend_ ? kBlendFragmentBody : kSimpleFragmentBody, "Program") != 0 ||
      (program_uses_blend_ && BuildProgram(lens_program_, kSimpleVertexShader, kLensFragmentBody, "Lens") != 0)) {
    TearDown();
    return -2;
  }

  texture_ = static_cast<int>(NewTexture(GL_LINEAR));
  if (program_uses_yuv_) {
    // Each colour sample is taken for the 2 x 2 pixels it was coded for, unfiltered: the
    // picture's detail is in the luma, and on a software rasteriser filtering two more
    // planes at every fragment took about 10 ms more per draw than the upload saves.
    for (int i = 0; i < 2; ++i) {
      glActiveTexture(GL_TEXTURE1 + i);
      chroma_textures_[i] = static_cast<int>(NewTexture(GL_NEAREST));
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture_));
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  read_order_ = FastestReadOrder();
  if (frame_source_.load() != kSourcePhoto) WarmUp();
  initialised_ = true;
  return 0;
}

void COpenglRender::WarmUp() {
  // Textures of the pictures' kind with sides that are not powers of two (the compiled code
  // depends on both), specified anew by the first picture.
  constexpr int kSide = 6;
  const uint8_t texels[kSide * kSide * 4] = {};
  if (program_uses_yuv_) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int i = 0; i < 3; ++i) {
      glActiveTexture(GL_TEXTURE0 + i);
      glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(i == 0 ? texture_ : chroma_textures_[i - 1]));
      const int side = i == 0 ? kSide : kSide / 2;
      glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE8, side, side, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, texels);
    }
    glActiveTexture(GL_TEXTURE0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  } else {
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kSide, kSide, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, texels);
  }
  texture_needs_allocation_ = true;

  // One small triangle with every program a picture is drawn with, finished before the first
  // picture comes; what it leaves in the back buffer is cleared by the first draw.
  static constexpr float kPositions[] = {-0.5f, -0.5f, 0, 0.5f, -0.5f, 0, 0, 0.5f, 0};
  static constexpr float kUv[] = {0, 0, 1, 0, 0.5f, 1};
  static constexpr uint16_t kIndices[] = {0, 1, 2};
  glVertexAttribPointer(kPositionAttribute, 3, GL_FLOAT, GL_FALSE, 0, kPositions);
  glEnableVertexAttribArray(kPositionAttribute);
  for (const GLuint attribute : {kUvAttribute, kUvbAttribute}) {
    glVertexAttribPointer(attribute, 2, GL_FLOAT, GL_FALSE, 0, kUv);
    glEnableVertexAttribArray(attribute);
  }
  model_view_.SetIdentity();
  projection_.SetIdentity();
  const YuvPicture picture;
  const YuvPicture* yuv = program_uses_yuv_ ? &picture : nullptr;
  DrawTriangles(program_, yuv, kIndices, 3);
  if (lens_program_.id >= 0) DrawTriangles(lens_program_, yuv, kIndices, 3);
  glFinish();
}

void COpenglRender::TearDown() {
  if (context_->IsCurrent()) DeleteGlObjects();
  program_ = lens_program_ = Program{};
  texture_ = chroma_textures_[0] = chroma_textures_[1] = -1;
  converted_ = std::vector<uint8_t>();  // 66 MB for a 5760 x 2880 picture
  context_->Release();
  initialised_ = false;
  uploaded_ = false;
  current_mode_.store(-1);
}

void COpenglRender::SetMediaKind(int kind, int width, int height, const float* table_a, const float* table_b,
                                 int table_floats) {
  media_kind_ = kind;
  blend_capable_ = kind == kMediaSingleLens || kind == kMediaDualLens;
  models_->SetMediaKind(kind, width, height, table_a, table_b, table_floats);
}

void COpenglRender::SetViewMode(int mode) {
  requested_mode_.store(mode);
  const int current = current_mode_.load();
  CShapeModel* model = models_->ForMode(current >= 0 ? current : mode);
  // The flat view keeps the model of the mode before it.
  if (model != nullptr) current_model_.store(model);
}

void COpenglRender::SetFlip(bool on) {
  flip_.store(on);
  models_->SetFlip(on);
}

float COpenglRender::CurrentFov() const {
  const CShapeModel* model = current_model_.load();
  return model != nullptr ? model->fov() : kDefaultFov;
}

int COpenglRender::LoadPhoto(const std::string& path) {
  if (path.empty()) return -1;
  QImage image(QString::fromStdString(path));
  if (image.isNull()) {
    Logf("load file[%s] failed.", path.c_str());
    return -2;
  }
  // 24-bit blue-green-red rows, each padded to 4 bytes like the unpack alignment.
  const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
  if (bgr.isNull()) return -3;
  const size_t stride = static_cast<size_t>(bgr.bytesPerLine());
  try {
    photo_pixels_.assign(stride * static_cast<size_t>(bgr.height()), 0);
  } catch (const std::bad_alloc&) {
    photo_pixels_.clear();
    return -3;
  }
  for (int y = 0; y < bgr.height(); ++y) std::memcpy(photo_pixels_.data() + y * stride, bgr.constScanLine(y), stride);
  photo_width_ = bgr.width();
  photo_height_ = bgr.height();
  SetTextureSize(photo_width_, photo_height_);
  frame_source_.store(kSourcePhoto);
  return 0;
}

void COpenglRender::SetTextureSize(int width, int height) {
  texture_width_.store(width);
  texture_height_.store(height);
}

void COpenglRender::SetRotation(int degrees) {
  if (degrees == 0 || degrees == 90 || degrees == 180 || degrees == 270) rotation_.store(degrees);
}

void COpenglRender::SetWindowSize(int width, int height) {
  window_width_.store(width);
  window_height_.store(height);
}

void COpenglRender::WindowSize(int& width, int& height) {
  if (QThread::currentThread() == window_->thread()) {
    const qreal ratio = window_->devicePixelRatio();
    window_width_.store(static_cast<int>(window_->width() * ratio));
    window_height_.store(static_cast<int>(window_->height() * ratio));
  }
  width = window_width_.load();
  height = window_height_.load();
}

void COpenglRender::RequestScreenshot(const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(screenshot_mutex_);
    screenshot_path_ = path;
  }
  screenshot_requested_.store(true);
}

void COpenglRender::EnterMode(int mode) {
  const float* positions = kFlatPositions;
  if (mode == kModeFlat) {
    draw_indices_ = kFlatIndices;
    draw_index_count_ = kFlatIndexCount;
  } else {
    CShapeModel* model = models_->ForMode(mode);
    if (model == nullptr) return;
    current_model_.store(model);
    if (mode == kModeIndome) models_->indome().SetFlip(flip_.load());
    positions = model->positions();
    draw_indices_ = model->indices();
    draw_index_count_ = model->index_count();
  }
  glVertexAttribPointer(kPositionAttribute, 3, GL_FLOAT, GL_FALSE, 0, positions);
  glEnableVertexAttribArray(kPositionAttribute);
  PointTextureCoordinates(mode);
  if (lens_program_.id >= 0) {
    // Only the two-lens sphere has a second set; elsewhere both sets are the same and the
    // one-lens program draws everything.
    if (mode != kModeFlat && media_kind_ == kMediaDualLens && models_->ForMode(mode)->uv_b() != nullptr) {
      lens_triangles_ = SplitTrianglesByLens(positions, draw_indices_, draw_index_count_);
    } else {
      lens_triangles_ = LensTriangles{};
      lens_triangles_.lens_a.assign(draw_indices_, draw_indices_ + draw_index_count_);
    }
  }
  if (mode == kModeFlat) {
    projection_.SetIdentity();
    projection_.Perspective(90.0f, 1.0f, 0.1f, 100.0f);
    model_view_.SetIdentity();
    model_view_.LookAt(0, 0, -1, 0, 0, 0, 0, 1, 0);
  }
}

void COpenglRender::PointTextureCoordinates(int mode) {
  ++coordinates_pointed_;
  const float* uv = kFlatUv;
  const float* uv_b = nullptr;
  int pairs = 4;
  if (mode != kModeFlat) {
    const CShapeModel* model = models_->ForMode(mode);
    uv = model->uv_a();
    if (media_kind_ == kMediaDualLens) uv_b = model->uv_b();
    pairs = model->vertex_count();
  }
  // Geometry without a second set samples the same point twice, so the cross-fade cannot
  // mix in an unrelated texel.
  if (uv_b == nullptr) uv_b = uv;
  if (applied_rotation_ != 0) {
    turned_uv_.resize(static_cast<size_t>(pairs) * 2);
    RotateTextureCoordinates(uv, pairs, applied_rotation_, turned_uv_.data());
    turned_uv_b_.resize(static_cast<size_t>(pairs) * 2);
    RotateTextureCoordinates(uv_b, pairs, applied_rotation_, turned_uv_b_.data());
    uv = turned_uv_.data();
    uv_b = turned_uv_b_.data();
  }
  uv_ = uv;
  uv_b_ = uv_b;
  glVertexAttribPointer(kUvAttribute, 2, GL_FLOAT, GL_FALSE, 0, uv);
  glEnableVertexAttribArray(kUvAttribute);
  if (program_uses_blend_) {
    glVertexAttribPointer(kUvbAttribute, 2, GL_FLOAT, GL_FALSE, 0, uv_b);
    glEnableVertexAttribArray(kUvbAttribute);
  }
}

void COpenglRender::UpdateMatrices() {
  const int mode = current_mode_.load();
  if (mode != kModeFlat) {
    CShapeModel* model = current_model_.load();
    const bool flipped = flip_.load();
    model->Update(flipped);
    if (mode == kModeLayer && models_->layer().TakeUvDirty()) {
      PointTextureCoordinates(mode);
    }
    const bool planet = mode == kModePlanet;
    projection_.SetIdentity();
    projection_.Perspective(model->fov(), 1.0f, planet ? 0.001f : model->near_plane(), planet ? 80000.0f : 100.0f);
    model_view_.SetIdentity();
    model_view_.LookAt(0, 0, model->eye_distance(), 0, 0, 0, 0, 1, 0);
    model_view_.Rotate(model->GetPitch(), 1, 0, 0);
    const float yaw = model->GetYaw();
    model_view_.Rotate(flipped ? -yaw : yaw, 0, 1, 0);
  }
  if (sink_ != nullptr) sink_->Post(kMsgFrameDrawn);
}

void COpenglRender::ReadFrame(std::vector<uint8_t>& bgra, int width, int height) {
  bgra.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, bgra.data());
}

void COpenglRender::Draw(const uint8_t* pixels, bool repeated) { DrawFrame(pixels, nullptr, repeated); }

void COpenglRender::DrawYuv(const YuvPicture& picture, bool repeated) { DrawFrame(nullptr, &picture, repeated); }

bool COpenglRender::DrawnView::operator==(const DrawnView& o) const {
  return mode == o.mode && width == o.width && height == o.height && flip == o.flip &&
         coordinates_pointed == o.coordinates_pointed &&
         std::equal(std::begin(model_view.m), std::end(model_view.m), std::begin(o.model_view.m)) &&
         std::equal(std::begin(projection.m), std::end(projection.m), std::begin(o.projection.m));
}

bool COpenglRender::BeginUpload(int width, int height, int source) {
  const bool allocate = texture_needs_allocation_ || width != allocated_width_ || height != allocated_height_ ||
                        source != allocated_source_;
  if (allocate) {
    texture_needs_allocation_ = false;
    allocated_width_ = width;
    allocated_height_ = height;
    allocated_source_ = source;
    full_uploads_.fetch_add(1);
  } else {
    sub_uploads_.fetch_add(1);
  }
  return allocate;
}

void COpenglRender::UploadRgb(const uint8_t* pixels) {
  // One texture for the whole stream: specified in full once, then updated in place.
  const int source = frame_source_.load();
  if (source != kSourcePhoto) {
    if (pixels != nullptr) UploadBgra(pixels, texture_width_.load(), texture_height_.load(), source);
    return;
  }
  if (photo_pixels_.empty()) return;
  if (BeginUpload(photo_width_, photo_height_, source)) {
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, photo_width_, photo_height_, 0, GL_BGR, GL_UNSIGNED_BYTE,
                 photo_pixels_.data());
  } else {
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, photo_width_, photo_height_, GL_BGR, GL_UNSIGNED_BYTE,
                    photo_pixels_.data());
  }
}

void COpenglRender::UploadBgra(const uint8_t* pixels, int width, int height, int source) {
  // Whole 32-bit pixels in BGRA byte order with an unsized internal format, which lets the
  // driver keep the texels in the order they come in: the upload is then a copy. A sized
  // GL_RGBA8 made Mesa store them as RGBA and swap two bytes of every texel on each upload
  // (about 6 ms of the drawing thread per 1920x960 picture).
  if (BeginUpload(width, height, source)) {
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels);
  } else {
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels);
  }
}

void COpenglRender::UploadYuv(const YuvPicture& picture) {
  const int w = picture.width;
  const int h = picture.height;
  const bool allocate = BeginUpload(w, h, kSourceDecoderYuv);
  // Single bytes, rows `pitch` bytes apart: nothing is converted, each row is one copy.
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  for (int i = 0; i < 3; ++i) {
    const int pw = i == 0 ? w : (w + 1) / 2;
    const int ph = i == 0 ? h : (h + 1) / 2;
    glActiveTexture(GL_TEXTURE0 + i);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(i == 0 ? texture_ : chroma_textures_[i - 1]));
    glPixelStorei(GL_UNPACK_ROW_LENGTH, picture.pitches[i]);
    if (allocate) {
      glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE8, pw, ph, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, picture.planes[i]);
    } else {
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, pw, ph, GL_LUMINANCE, GL_UNSIGNED_BYTE, picture.planes[i]);
    }
  }
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glActiveTexture(GL_TEXTURE0);
}

void COpenglRender::DrawFrame(const uint8_t* pixels, const YuvPicture* yuv, bool repeated) {
  if (gl_major_ < 2 || !initialised_ || !context_->IsCurrent()) return;
  // Each kind of picture needs the shaders made for it.
  if ((yuv != nullptr) != (program_uses_yuv_ || convert_yuv_)) return;
  const auto start = std::chrono::steady_clock::now();
  int w = 0;
  int h = 0;
  WindowSize(w, h);
  const bool in_full = invalidated_.exchange(false) || !uploaded_;
  repeated = repeated && !in_full;

  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture_));
  if (yuv != nullptr && convert_yuv_) {
    if (!repeated) {
      converted_.resize(static_cast<size_t>(yuv->width) * static_cast<size_t>(yuv->height) * 4);
      YuvToBgra(*yuv, converted_.data(), static_cast<ptrdiff_t>(yuv->width) * 4);
      UploadBgra(converted_.data(), yuv->width, yuv->height, kSourceDecoderYuv);
    }
    yuv = nullptr;  // drawn as the RGB picture it now is
  } else if (repeated) {
    // The textures hold this picture already.
  } else if (yuv != nullptr) {
    UploadYuv(*yuv);
  } else {
    UploadRgb(pixels);
  }
  uploaded_ = true;

  const auto uploaded = std::chrono::steady_clock::now();
  const int requested = requested_mode_.load();
  if (const int rotation = rotation_.load(); rotation != applied_rotation_) {
    applied_rotation_ = rotation;
    if (const int current = current_mode_.load(); current >= 0) PointTextureCoordinates(current);
  }
  if (requested != current_mode_.load() && requested >= 0 && requested < kViewModeCount) {
    EnterMode(requested);
    current_mode_.store(requested);
  }
  const int mode = current_mode_.load();
  if (mode < 0) return;
  UpdateMatrices();
  // A picture shown again in the same view, with nobody reading the frame, is on the screen.
  const DrawnView view{mode, w, h, flip_.load(), coordinates_pointed_, model_view_, projection_};
  const bool want_screenshot = screenshot_requested_.load();
  const FrameRecorder* recorder = recorder_.load();
  if (repeated && view == drawn_ && !want_screenshot && (recorder == nullptr || !recorder->IsRecording())) return;
  drawn_ = view;

  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  if (const std::optional<Viewport> viewport = ComputeViewport(mode, w, h, flip_.load())) {
    glViewport(viewport->x, viewport->y, viewport->width, viewport->height);
  }
  glCullFace(GL_FRONT);
  glEnable(GL_CULL_FACE);
  if (lens_program_.id >= 0) {
    const LensTriangles& t = lens_triangles_;
    DrawTriangles(lens_program_, yuv, t.lens_a.data(), static_cast<int>(t.lens_a.size()));
    if (!t.lens_b.empty()) {
      glVertexAttribPointer(kUvAttribute, 2, GL_FLOAT, GL_FALSE, 0, uv_b_);
      DrawTriangles(lens_program_, yuv, t.lens_b.data(), static_cast<int>(t.lens_b.size()));
      glVertexAttribPointer(kUvAttribute, 2, GL_FLOAT, GL_FALSE, 0, uv_);
    }
    DrawTriangles(program_, yuv, t.band.data(), static_cast<int>(t.band.size()));
  } else {
    DrawTriangles(program_, yuv, draw_indices_, draw_index_count_);
  }
  glBindTexture(GL_TEXTURE_2D, 0);

  // The captures read the frame before it is presented: after a swap the back buffer's
  // contents are undefined.
  std::vector<uint8_t> screenshot;
  const auto read_start = std::chrono::steady_clock::now();
  if (want_screenshot) ReadFrame(screenshot, w, h);
  FeedRecorder(w, h);
  const auto read_end = std::chrono::steady_clock::now();
  context_->SwapBuffers();
  if (want_screenshot) ServeScreenshot(w, h, screenshot);
  glFinish();
  bool failed = false;
  for (int i = 0; i < 8 && glGetError() != GL_NO_ERROR; ++i) failed = true;
  if (failed) gl_errors_.fetch_add(1);
  auto ns = [](auto d) {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
  };
  const auto end = std::chrono::steady_clock::now();
  times_.upload_ns.fetch_add(ns(uploaded - start));
  times_.readback_ns.fetch_add(ns(read_end - read_start));
  times_.draw_ns.fetch_add(ns(end - uploaded) - ns(read_end - read_start));
  times_.frames.fetch_add(1);
}

void COpenglRender::DrawTriangles(const Program& program, const YuvPicture* yuv, const uint16_t* indices, int count) {
  if (count <= 0) return;
  glUseProgram(static_cast<GLuint>(program.id));
  glUniformMatrix4fv(program.u_mmatrix, 1, GL_FALSE, model_view_.m);
  glUniformMatrix4fv(program.u_pmatrix, 1, GL_FALSE, projection_.m);
  if (yuv != nullptr) glUniformMatrix4fv(program.u_yuv_to_rgb, 1, GL_FALSE, YuvToRgbMatrix(yuv->colour).m);
  glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_SHORT, indices);
}

void COpenglRender::ServeScreenshot(int width, int height, std::vector<uint8_t>& frame) {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(screenshot_mutex_);
    path = screenshot_path_;
  }
  screenshot_requested_.store(false);
  // Rows come bottom-up from GL; the writer takes them top first.
  const size_t row = static_cast<size_t>(width) * 4;
  std::vector<uint8_t> top_first(frame.size());
  for (int y = 0; y < height; ++y) {
    std::memcpy(top_first.data() + static_cast<size_t>(y) * row,
                frame.data() + static_cast<size_t>(height - 1 - y) * row, row);
  }
  const bool written = WriteScreenshot(path, top_first.data(), width, height);
  if (!written) Logf("screenshot [%s] could not be written.", path.c_str());
  if (sink_ != nullptr) sink_->Post(written ? kMsgScreenshotSaved : kMsgScreenshotFailed);
}

void COpenglRender::FeedRecorder(int width, int height) {
  FrameRecorder* recorder = recorder_.load();
  if (recorder == nullptr || !recorder->IsRecording() || width <= 0 || height <= 0) return;
  // Straight into the recorder's memory, bottom row first as GL gives it: the drawing thread
  // neither copies nor turns the rows over.
  const GLenum format = read_order_ == PixelOrder::kRgba ? GL_RGBA : GL_BGRA;
  recorder->Capture(width, height, read_order_, [width, height, format](uint8_t* dst) {
    glReadPixels(0, 0, width, height, format, GL_UNSIGNED_BYTE, dst);
  });
}

}  // namespace spherolux::render
