// COpenglRender: draws a decoded video frame or a photo on the mesh of the current view model
// into a Qt window, with OpenGL 2.0 shaders reached through GLEW.
//
// Threads. The renderer reads the driver's GL major version once at construction, on the
// constructing thread, with a short-lived context. Initialise creates (or takes over) the GL
// context on the calling thread and makes it current there; Draw, TearDown and the captures
// run on that same thread (the engine's output thread for video, the window thread for
// photos). Draw on any other thread does nothing. View requests (SetViewMode, SetFlip, the
// models' view state, RequestScreenshot, SetWindowSize) may come from the window thread at
// any time; they are atomics or guarded and are picked up by the next draw. SetMediaKind and
// LoadPhoto are called by the player while no draw of the previous medium is running.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "render/lens_split.h"
#include "render/matrix.h"
#include "render/render_hooks.h"
#include "render/view_models.h"
#include "render/yuv.h"

class QWindow;

namespace spherolux::render {

class GlContext;

class COpenglRender {
 public:
  // Where the picture of the next draw comes from: a loaded photo, decoded frames in 32-bit
  // BGRA (Draw), or decoded frames in planar YUV 4:2:0 (DrawYuv). Initialise compiles the
  // shaders for the source set at that moment; the RGB ones serve photos and BGRA frames.
  enum FrameSource : int { kSourcePhoto = 0, kSourceDecoder = 1, kSourceDecoderYuv = 2 };

  // `window` has the OpenGL surface type and outlives the renderer; `sink` (may be null)
  // receives the messages. Reads the GL major version and creates the six models with the
  // window's diagonal.
  COpenglRender(QWindow* window, RenderMessageSink* sink);
  // Finishes an active recording (posting kMsgRecordSaved), then releases the context.
  ~COpenglRender();
  COpenglRender(const COpenglRender&) = delete;
  COpenglRender& operator=(const COpenglRender&) = delete;

  // 0 success or already initialised; 1 GL major version below 2; -1 GLEW failed; -2 a
  // shader or the program failed (the message and info log go to the log, base/log.h).
  int Initialise();
  // Deletes the program, shaders and texture and releases the context from this thread; the
  // next Initialise (on any thread) takes it over again.
  void TearDown();

  // The camera type of the medium (1 single lens, 2 dual lens, other: a panorama), its frame
  // size and its grids of `table_floats` floats each (null when absent). Regenerates the
  // meshes and chooses the shader pair of the next Initialise.
  void SetMediaKind(int kind, int width, int height, const float* table_a, const float* table_b, int table_floats);
  // The mode (0-6) entered at the next draw.
  void SetViewMode(int mode);
  // Forgets the current mode so that the next draw enters the requested one again.
  void ResetCurrentMode() { current_mode_.store(-1); }
  void SetFlip(bool on);

  // Loads any image Qt can read as the photo to draw (24-bit, rows top first) and sets the
  // texture size and the frame source. 0 success; -1 empty path; -2 the image failed to load
  // (logs "load file[%s] failed."); -3 out of memory.
  int LoadPhoto(const std::string& path);
  void SetTextureSize(int width, int height);
  // Turns the picture clockwise by 0, 90, 180 or 270 degrees through the texture
  // coordinates (the same picture, nothing resampled); other values are ignored.
  void SetRotation(int degrees);
  int rotation() const { return rotation_.load(); }
  void SetFrameSource(FrameSource source) { frame_source_.store(source); }
  // Where planar YUV pictures become RGB (render/yuv.h), chosen at Initialise.
  void SetYuvConversion(YuvConversion conversion) { yuv_conversion_.store(conversion); }
  // Whether the pictures of the current initialisation are converted on the processor.
  bool converts_yuv() const { return convert_yuv_; }
  // Size of the window in pixels, for draws on a thread other than the window's (the window
  // thread reads it itself).
  void SetWindowSize(int width, int height);

  // Uploads the picture (decoder: `pixels`, width x height x 4 bytes BGRA, top row first;
  // photo: the loaded photo), enters a requested mode, updates the model, draws, serves a
  // pending screenshot and the recorder, and presents. Nothing below GL 2 or before Initialise.
  // `repeated`: the picture is the one drawn last (a paused video's picture shown again):
  // nothing is uploaded, and nothing is drawn either unless the view moved, the window was
  // exposed (Invalidate), or a screenshot or the recorder wants the frame.
  void Draw(const uint8_t* pixels, bool repeated = false);
  // The same for a planar YUV picture (its own size; the texture size is not used). Nothing
  // unless Initialise ran for kSourceDecoderYuv.
  void DrawYuv(const YuvPicture& picture, bool repeated = false);
  // The window must be drawn again (uncovered, say): the next draw is made in full. Any thread.
  void Invalidate() { invalidated_.store(true); }

  // Writes the next drawn frame to `path` (UTF-8): our JPEG encoder for ".jpg", Qt's writer
  // chosen by the extension otherwise. kMsgScreenshotSaved follows, or
  // kMsgScreenshotFailed when the file could not be written.
  void RequestScreenshot(const std::string& path);
  // A recorder fed after each draw while it records (null detaches). Not owned.
  void AttachRecorder(FrameRecorder* recorder) { recorder_.store(recorder); }

  int gl_major_version() const { return gl_major_; }
  bool initialised() const { return initialised_; }
  int media_kind() const { return media_kind_; }
  bool blend_capable() const { return blend_capable_; }
  int current_mode() const { return current_mode_.load(); }
  int requested_mode() const { return requested_mode_.load(); }
  bool flip() const { return flip_.load(); }
  ViewModelSet& models() { return *models_; }
  // The model of the current mode (of the requested one while none is current); may be null.
  CShapeModel* current_model() const { return current_model_.load(); }
  // Field of view of the current model, 90 without one.
  float CurrentFov() const;
  // GL program id (0 before Initialise), for inspection.
  unsigned program() const { return program_.id < 0 ? 0u : static_cast<unsigned>(program_.id); }
  // Texture uploads so far: full allocations (glTexImage2D) and sub-image updates.
  int full_uploads() const { return full_uploads_.load(); }
  int sub_uploads() const { return sub_uploads_.load(); }
  // Draws after which GL reported an error.
  int gl_errors() const { return gl_errors_.load(); }
  // Where the drawing thread's time went, summed over the draws so far: texture upload,
  // drawing and presenting (until glFinish returns), and reading the frame back for a
  // screenshot or the recorder.
  struct DrawTimes {
    std::atomic<uint64_t> upload_ns{0};
    std::atomic<uint64_t> draw_ns{0};
    std::atomic<uint64_t> readback_ns{0};
    std::atomic<uint64_t> frames{0};
  };
  const DrawTimes& draw_times() const { return times_; }
  const Matrix4& model_view() const { return model_view_; }
  const Matrix4& projection() const { return projection_; }

 private:
  void DeleteGlObjects();
  // The draw of both kinds of picture: `yuv` when it is planar, else `pixels` as Draw has it.
  void DrawFrame(const uint8_t* pixels, const YuvPicture* yuv, bool repeated);
  // What the last draw showed, so that a repeated picture in the same view is not drawn again.
  struct DrawnView {
    int mode = -1, width = 0, height = 0;
    bool flip = false;
    uint64_t coordinates_pointed = 0;  // the texture coordinates as of that draw
    Matrix4 model_view, projection;
    bool operator==(const DrawnView& o) const;
  };
  // Whether the textures must be specified anew for a picture of width x height from
  // `source` (else they are updated in place); from then on they count as specified for it.
  bool BeginUpload(int width, int height, int source);
  void UploadRgb(const uint8_t* pixels);
  void UploadYuv(const YuvPicture& picture);
  void UploadBgra(const uint8_t* pixels, int width, int height, int source);
  // A linked program with the uniforms a draw sets.
  struct Program {
    int id = -1;
    int vertex_shader = -1;
    int fragment_shader = -1;
    int u_mmatrix = -1;
    int u_pmatrix = -1;
    int u_yuv_to_rgb = -1;
  };
  // Compiles and links `program` from its sources, its attributes at the fixed locations the
  // draws point at; 0, or -2 (logged) when a shader does not compile or link.
  int BuildProgram(Program& program, const char* vertex_source, const char* fragment_body, const char* label);
  static void DeleteProgram(Program& program);
  // Draws unseen with every program and texture kind of the pictures to come: a software
  // rasteriser compiles its code at a program's first draw, which would otherwise hold up
  // the first picture and make the ones behind it late.
  void WarmUp();
  void EnterMode(int mode);
  // Points a_UV (and a_UVB) at the coordinates of the mode's mesh, turned by the applied
  // rotation.
  void PointTextureCoordinates(int mode);
  // The view matrices of the current mode's model after its per-frame update.
  void UpdateMatrices();
  // Draws `count` indices of the current mesh with `program`, its uniforms set for `yuv`.
  void DrawTriangles(const Program& program, const YuvPicture* yuv, const uint16_t* indices, int count);
  void WindowSize(int& width, int& height);
  void ReadFrame(std::vector<uint8_t>& bgra, int width, int height);
  void ServeScreenshot(int width, int height, std::vector<uint8_t>& frame);
  void FeedRecorder(int width, int height);

  QWindow* window_;
  RenderMessageSink* sink_;
  std::unique_ptr<GlContext> context_;
  int gl_major_ = 0;

  // Medium (player thread, before drawing).
  int media_kind_ = 0;
  bool blend_capable_ = false;
  std::unique_ptr<ViewModelSet> models_;

  // Requests from the window thread.
  std::atomic<CShapeModel*> current_model_{nullptr};
  std::atomic<int> current_mode_{-1};
  std::atomic<int> requested_mode_{6};
  std::atomic<bool> flip_{false};
  std::atomic<int> frame_source_{kSourceDecoder};
  std::atomic<YuvConversion> yuv_conversion_{YuvConversion::kAuto};
  std::atomic<int> texture_width_{1};
  std::atomic<int> texture_height_{1};
  std::atomic<int> rotation_{0};
  std::atomic<int> window_width_{0};
  std::atomic<int> window_height_{0};
  std::atomic<bool> screenshot_requested_{false};
  std::atomic<bool> invalidated_{true};
  bool uploaded_ = false;             // the textures hold the last picture drawn
  uint64_t coordinates_pointed_ = 0;  // times the texture coordinates were pointed anew
  DrawnView drawn_;
  std::mutex screenshot_mutex_;
  std::string screenshot_path_;  // guarded by screenshot_mutex_
  std::atomic<FrameRecorder*> recorder_{nullptr};

  // Photo (player thread; drawn on the same thread).
  std::vector<uint8_t> photo_pixels_;
  int photo_width_ = 0;
  int photo_height_ = 0;

  // GL state (drawing thread).
  bool initialised_ = false;
  bool texture_needs_allocation_ = true;
  int allocated_width_ = 0;
  int allocated_height_ = 0;
  int allocated_source_ = -1;  // the FrameSource the textures were specified for
  bool program_uses_blend_ = false;
  bool program_uses_yuv_ = false;
  bool convert_yuv_ = false;  // YUV pictures converted into converted_, drawn as RGB
  std::vector<uint8_t> converted_;
  // The whole picture: the cross-fade of two lenses for a two-lens medium, else one texture.
  Program program_;
  // A two-lens medium's parts that show one lens alone (lens_triangles_): one texture read.
  Program lens_program_;
  int texture_ = -1;                   // the RGB picture, or the luma plane
  int chroma_textures_[2] = {-1, -1};  // the U and V planes of a YUV picture
  Matrix4 model_view_;
  Matrix4 projection_;
  const uint16_t* draw_indices_ = nullptr;
  int draw_index_count_ = 0;
  // With lens_program_: the current mesh's triangles by lens, drawn instead of draw_indices_.
  LensTriangles lens_triangles_;
  // The texture coordinates a_UV and a_UVB point at (turned by the applied rotation).
  const float* uv_ = nullptr;
  const float* uv_b_ = nullptr;
  int applied_rotation_ = 0;
  std::vector<float> turned_uv_;
  std::vector<float> turned_uv_b_;
  // The channel order the recorder's read-back uses: the driver's fastest (drawing thread).
  PixelOrder read_order_ = PixelOrder::kBgra;
  std::atomic<int> full_uploads_{0};
  std::atomic<int> sub_uploads_{0};
  std::atomic<int> gl_errors_{0};
  DrawTimes times_;
};

}  // namespace spherolux::render
