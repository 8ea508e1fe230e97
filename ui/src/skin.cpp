#include "ui/skin.h"

#include <QFile>
#include <QPaintDevice>
#include <QPainter>
#include <QSvgRenderer>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <list>
#include <map>
#include <tuple>

#include "ui/color_matrix.h"

namespace spherolux::ui {

namespace {

// Glyph colours of the looks.
constexpr const char* kNormal = "#d5dae1";
constexpr const char* kPressed = "#4fb3ff";
constexpr const char* kActive = "#4fb3ff";
constexpr const char* kDisabled = "#596069";
constexpr const char* kWhite = "#ffffff";
constexpr const char* kDark = "#3a4049";
constexpr const char* kAccentDisc = "#2f9bea";
constexpr const char* kAccentDiscHover = "#4fb3ff";
constexpr const char* kAccentDiscPressed = "#1f7cc4";
constexpr const char* kGreyDisc = "#3b4048";

enum class Kind { kArt, kGlyph, kSlice };

struct Entry {
  int id;
  Kind kind;
  const char* file;      // art, or the glyph
  const char* backdrop;  // glyphs: art drawn under the glyph (may be null); its currentColor is `color`
  int width, height;     // natural size
  int glyph;             // glyphs: side of the glyph's square, centred
  const char* color;     // glyphs: the colour put in place of currentColor
  const char* backdrop_color = nullptr;
  int rotation = 0;  // glyphs: degrees clockwise
};

constexpr Entry Art(int id, const char* file, int w, int h) {
  return {id, Kind::kArt, file, nullptr, w, h, 0, nullptr};
}
constexpr Entry Slice(int id, const char* file, int w, int h) {
  return {id, Kind::kSlice, file, nullptr, w, h, 0, nullptr};
}
constexpr Entry Glyph(int id, const char* glyph, int side, int glyph_px, const char* color,
                      const char* backdrop = nullptr, const char* backdrop_color = nullptr, int rotation = 0) {
  return {id, Kind::kGlyph, glyph, backdrop, side, side, glyph_px, color, backdrop_color, rotation};
}

// A bar button's looks: normal, pressed (accent over a dark backdrop).
#define BAR_BUTTON(normal, pressed, glyph, side, px) \
  Glyph(normal, glyph, side, px, kNormal), Glyph(pressed, glyph, side, px, kPressed, "pressed")
// ... and the active look of a toggle (accent, no backdrop).
#define BAR_TOGGLE(normal, pressed, active, glyph, side, px) \
  BAR_BUTTON(normal, pressed, glyph, side, px), Glyph(active, glyph, side, px, kActive)

const Entry kTable[] = {
    Art(kImgHover, "hover", 30, 30),
    Art(kImgCaptionStrip, "caption_strip", 1920, 30),
    Art(kImgTitleRight, "title_right", 6, 30),
    Art(kImgTitleLeft, "title_left", 36, 30),
    Art(kImgMenuBackground, "menu", 159, 25),
    Art(kImgHeaderBackground, "header", 100, 15),
    Art(kImgHeaderSeparator, "header_separator", 2, 15),
    Art(kImgHeaderEnd, "header_end", 4, 15),
    Slice(kImgRangeTrack, "range_track", 16, 8),
    Art(kImgRangeThumb, "range_thumb", 12, 22),
    Art(kImgRangeMarker, "range_marker", 10, 8),
    Art(kImgUploadSocial, "upload_social", 60, 60),
    Art(kImgUploadGlobe, "upload_globe", 60, 60),
    Art(kImgUploadVideo, "upload_video", 60, 60),
    Art(kImgRecordIdle, "record_idle", 30, 30),
    Art(kImgRecordIdlePressed, "record_idle_pressed", 30, 30),
    Art(kImgRecordOn, "record_on", 30, 30),
    Art(kImgRecordDim, "record_dim", 30, 30),

    // Caption bar.
    BAR_BUTTON(kImgClose, kImgClosePressed, "close", 30, 16),
    Glyph(kImgCloseHover, "close", 30, 16, kWhite, "hover_close"),
    BAR_BUTTON(kImgMinimise, kImgMinimisePressed, "minimise", 30, 16),
    BAR_BUTTON(kImgMaximise, kImgMaximisePressed, "maximise", 30, 16),
    BAR_BUTTON(kImgRestore, kImgRestorePressed, "restore", 30, 16),
    BAR_BUTTON(kImgLanguage, kImgLanguagePressed, "language", 30, 17),
    BAR_BUTTON(kImgPalette, kImgPalettePressed, "palette", 30, 17),
    BAR_TOGGLE(kImgViewModes, kImgViewModesPressed, kImgViewModesActive, "view_modes", 30, 17),
    BAR_TOGGLE(kImgFlat, kImgFlatPressed, kImgFlatActive, "flat", 30, 18),
    BAR_TOGGLE(kImgSphere, kImgSpherePressed, kImgSphereActive, "sphere", 30, 18),
    BAR_TOGGLE(kImgHalfBall, kImgHalfBallPressed, kImgHalfBallActive, "half_ball", 30, 18),
    BAR_TOGGLE(kImgInDome, kImgInDomePressed, kImgInDomeActive, "in_dome", 30, 18),
    BAR_TOGGLE(kImgLayer, kImgLayerPressed, kImgLayerActive, "layer", 30, 18),
    BAR_TOGGLE(kImgDirection, kImgDirectionPressed, kImgDirectionActive, "direction", 30, 18),

    // Floating panel.
    BAR_TOGGLE(kImgPanelSphere, kImgPanelSpherePressed, kImgPanelSphereActive, "sphere", 30, 18),
    BAR_TOGGLE(kImgPanelTile, kImgPanelTilePressed, kImgPanelTileActive, "tile", 30, 18),
    BAR_TOGGLE(kImgPanelPlanet, kImgPanelPlanetPressed, kImgPanelPlanetActive, "planet", 30, 18),
    BAR_TOGGLE(kImgPanelHalfBall, kImgPanelHalfBallPressed, kImgPanelHalfBallActive, "half_ball", 30, 18),
    BAR_TOGGLE(kImgPanelInDome, kImgPanelInDomePressed, kImgPanelInDomeActive, "in_dome", 30, 18),
    BAR_TOGGLE(kImgPanelLayer, kImgPanelLayerPressed, kImgPanelLayerActive, "layer", 30, 18),
    BAR_TOGGLE(kImgPanelDirection, kImgPanelDirectionPressed, kImgPanelDirectionActive, "direction", 30, 18),
    BAR_BUTTON(kImgPanelReset, kImgPanelResetPressed, "reset", 30, 18),
    BAR_BUTTON(kImgPanelSnapshot, kImgPanelSnapshotPressed, "snapshot", 30, 18),
    BAR_BUTTON(kImgPanelConverter, kImgPanelConverterPressed, "converter", 30, 18),
    Glyph(kImgRecordDisabled, "record", 30, 18, kDisabled),

    // Bottom bar: the play button is a disc, the others glyphs.
    Glyph(kImgPlay, "play", 40, 18, kWhite, "play_disc", kAccentDisc),
    Glyph(kImgPlayPressed, "play", 40, 18, kWhite, "play_disc", kAccentDiscPressed),
    Glyph(kImgPlayDisabled, "play", 40, 18, kDisabled, "play_disc", kGreyDisc),
    Glyph(kImgPlayHover, "play", 40, 18, kWhite, "play_disc", kAccentDiscHover),
    Glyph(kImgPause, "pause", 40, 18, kWhite, "play_disc", kAccentDisc),
    Glyph(kImgPausePressed, "pause", 40, 18, kWhite, "play_disc", kAccentDiscPressed),
    Glyph(kImgPauseDisabled, "pause", 40, 18, kDisabled, "play_disc", kGreyDisc),
    Glyph(kImgPauseHover, "pause", 40, 18, kWhite, "play_disc", kAccentDiscHover),
    BAR_BUTTON(kImgStop, kImgStopPressed, "stop", 36, 18),
    Glyph(kImgStopDisabled, "stop", 36, 18, kDisabled),
    BAR_BUTTON(kImgNextFrame, kImgNextFramePressed, "next_frame", 36, 18),
    Glyph(kImgNextFrameDisabled, "next_frame", 36, 18, kDisabled),
    BAR_BUTTON(kImgRewind, kImgRewindPressed, "rewind", 36, 20),
    BAR_BUTTON(kImgLoop, kImgLoopPressed, "loop", 36, 20),
    BAR_BUTTON(kImgNext, kImgNextPressed, "next", 36, 20),
    BAR_BUTTON(kImgBack, kImgBackPressed, "back", 36, 20),
    BAR_BUTTON(kImgFlipper, kImgFlipperPressed, "direction", 36, 20),
    BAR_BUTTON(kImgSoundOn, kImgSoundOnPressed, "volume", 36, 20),
    BAR_BUTTON(kImgMuted, kImgMutedPressed, "mute", 36, 20),
    BAR_BUTTON(kImgOpen, kImgOpenPressed, "open", 36, 20),
    BAR_BUTTON(kImgConverter, kImgConverterPressed, "converter", 36, 20),
    Glyph(kImgConverterDisabled, "converter", 36, 20, kDisabled),
    Glyph(kImgHoverBottom, nullptr, 36, 0, nullptr, "hover"),

    Art(kImgBottomStrip, "bottom_strip", 1920, 55),
    Art(kImgPanelStrip, "panel_strip", 1920, 30),
    Slice(kImgTrack, "track", 12, 4),
    Slice(kImgTrackFill, "track_fill", 12, 4),
    Slice(kImgTrackLight, "track_light", 12, 4),
    Art(kImgThumb, "thumb", 14, 14),
    Art(kImgThumbHot, "thumb_hot", 14, 14),
    Art(kImgHoverMarker, "marker", 2, 10),
    Art(kImgLogo, "logo", 64, 64),
    Art(kImgAppIcon, "app_icon", 256, 256),

    // Dialogs.
    Slice(kImgButton, "button", 30, 28),
    Slice(kImgButtonHover, "button_hover", 30, 28),
    Slice(kImgButtonPressed, "button_pressed", 30, 28),
    Slice(kImgButtonDisabled, "button_disabled", 30, 28),
    Glyph(kImgRotate0, "rotate", 36, 24, kDark, nullptr, nullptr, 0),
    Glyph(kImgRotate90, "rotate", 36, 24, kDark, nullptr, nullptr, 90),
    Glyph(kImgRotate180, "rotate", 36, 24, kDark, nullptr, nullptr, 180),
    Glyph(kImgRotate270, "rotate", 36, 24, kDark, nullptr, nullptr, 270),
    Glyph(kImgRotate0Active, "rotate", 36, 24, kAccentDisc, nullptr, nullptr, 0),
    Glyph(kImgRotate90Active, "rotate", 36, 24, kAccentDisc, nullptr, nullptr, 90),
    Glyph(kImgRotate180Active, "rotate", 36, 24, kAccentDisc, nullptr, nullptr, 180),
    Glyph(kImgRotate270Active, "rotate", 36, 24, kAccentDisc, nullptr, nullptr, 270),
    Glyph(kImgUpload, "upload", 30, 18, kDark),
    Glyph(kImgUploadPressed, "upload", 30, 18, kAccentDisc),
    Glyph(kImgDialogHover, nullptr, 30, 0, nullptr, "pressed"),
    Slice(kImgAccentButton, "accent_button", 30, 28),
    Slice(kImgAccentButtonHover, "accent_button_hover", 30, 28),
    Slice(kImgAccentButtonPressed, "accent_button_pressed", 30, 28),
    Slice(kImgAccentButtonDisabled, "accent_button_disabled", 30, 28),
    Glyph(kImgPreviewPlay, "play", 16, 14, kDark),
    Glyph(kImgPreviewPlayPressed, "play", 16, 14, kAccentDisc),
    Glyph(kImgPreviewPlayDisabled, "play", 16, 14, "#b4bcc7"),
    Glyph(kImgPreviewPause, "pause", 16, 14, kDark),
    Glyph(kImgPreviewPausePressed, "pause", 16, 14, kAccentDisc),
};

#undef BAR_BUTTON
#undef BAR_TOGGLE

const Entry* Find(int id) {
  for (const Entry& e : kTable) {
    if (e.id == id) return &e;
  }
  return nullptr;
}

QByteArray ReadArt(const char* name, bool glyph, const char* color) {
  QFile file(QString(glyph ? ":/skin/glyphs/%1.svg" : ":/skin/art/%1.svg").arg(name));
  if (!file.open(QIODevice::ReadOnly)) return {};
  QByteArray svg = file.readAll();
  if (color != nullptr) svg.replace("currentColor", color);
  return svg;
}

bool RenderSvg(QPainter& painter, const QByteArray& svg, const QRectF& target) {
  if (svg.isEmpty()) return false;
  QSvgRenderer renderer(svg);
  if (!renderer.isValid()) return false;
  renderer.render(&painter, target);
  return true;
}

// Caps keep their aspect at the target height; the middle takes the rest. The pieces meet on
// whole pixels and the middle reaches a pixel under each cap, so that no seam shows where the
// edges of two pieces would otherwise blend.
bool RenderSlice(QPainter& painter, const QByteArray& svg, const QRectF& target) {
  QSvgRenderer renderer(svg);
  if (!renderer.isValid()) return false;
  const qreal scale = target.height() / renderer.viewBoxF().height();
  qreal left_w = qRound(renderer.boundsOnElement("left").width() * scale);
  qreal right_w = qRound(renderer.boundsOnElement("right").width() * scale);
  if (left_w + right_w > target.width()) {
    const qreal shrink = target.width() / (left_w + right_w);
    left_w = qFloor(left_w * shrink);
    right_w = qFloor(right_w * shrink);
  }
  const qreal mid_left = target.left() + left_w - 1, mid_right = target.right() - right_w + 1;
  if (mid_right > mid_left) {
    renderer.render(&painter, "mid", QRectF(mid_left, target.top(), mid_right - mid_left, target.height()));
  }
  renderer.render(&painter, "left", QRectF(target.left(), target.top(), left_w, target.height()));
  renderer.render(&painter, "right", QRectF(target.right() - right_w, target.top(), right_w, target.height()));
  return true;
}

QImage Render(const Entry& e, QSize size, qreal dpr) {
  QImage image(QSize(qCeil(size.width() * dpr), qCeil(size.height() * dpr)), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  image.setDevicePixelRatio(dpr);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF canvas(0, 0, size.width(), size.height());
  bool drawn = false;
  switch (e.kind) {
    case Kind::kArt:
      drawn = RenderSvg(painter, ReadArt(e.file, false, nullptr), canvas);
      break;
    case Kind::kSlice:
      drawn = RenderSlice(painter, ReadArt(e.file, false, nullptr), canvas);
      break;
    case Kind::kGlyph: {
      if (e.backdrop != nullptr) drawn = RenderSvg(painter, ReadArt(e.backdrop, false, e.backdrop_color), canvas);
      if (e.file != nullptr) {
        // The glyph's square scales with the image.
        const qreal side = e.glyph * std::min(size.width() / qreal(e.width), size.height() / qreal(e.height));
        const QRectF square((size.width() - side) / 2, (size.height() - side) / 2, side, side);
        painter.translate(square.center());
        painter.rotate(e.rotation);
        painter.translate(-square.center());
        drawn = RenderSvg(painter, ReadArt(e.file, true, e.color), square);
      }
      break;
    }
  }
  painter.end();
  return drawn ? image : QImage();
}

// Rendered images by id, size and pixel ratio, the least recently used dropped first: every
// width a slider or bar is given renders its images again, and a window resized by dragging
// would otherwise keep one set per width for good.
using CacheKey = std::tuple<int, int, int, int>;  // id, width, height, dpr x 100
struct ImageCache {
  std::list<CacheKey> order;  // most recently used first
  std::map<CacheKey, std::pair<QImage, std::list<CacheKey>::iterator>> images;
};
ImageCache& Cache() {
  static ImageCache cache;
  return cache;
}

QImage Adjusted(const QImage& image) {
  const ColorMatrix matrix = MakeSkinColorMatrix(SkinColor());
  if (matrix.IsIdentity()) return image;
  QImage plain = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < plain.height(); ++y) {
    ApplyColorMatrix(matrix, reinterpret_cast<uint32_t*>(plain.scanLine(y)), static_cast<size_t>(plain.width()));
  }
  return plain.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

QSize SkinImageSize(int id) {
  const Entry* e = Find(id);
  return e != nullptr ? QSize(e->width, e->height) : QSize();
}

bool SkinImageIsSlice(int id) {
  const Entry* e = Find(id);
  return e != nullptr && e->kind == Kind::kSlice;
}

QImage LoadSkinImage(int id, QSize size, qreal dpr) {
  const Entry* e = Find(id);
  if (e == nullptr) return {};
  if (size.isEmpty()) size = QSize(e->width, e->height);
  const CacheKey key{id, size.width(), size.height(), static_cast<int>(std::lround(dpr * 100))};
  ImageCache& cache = Cache();
  if (auto it = cache.images.find(key); it != cache.images.end()) {
    cache.order.splice(cache.order.begin(), cache.order, it->second.second);
    return it->second.first;
  }
  QImage image = Render(*e, size, dpr);
  cache.order.push_front(key);
  cache.images.emplace(key, std::make_pair(image, cache.order.begin()));
  if (cache.images.size() > kSkinImageCacheEntries) {
    cache.images.erase(cache.order.back());
    cache.order.pop_back();
  }
  return image;
}

size_t SkinImageCacheSize() { return Cache().images.size(); }

bool DrawSkinImage(QPainter& painter, const QRect& target, int id) {
  if (target.isEmpty()) return false;
  const qreal dpr = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
  const QImage image = LoadSkinImage(id, target.size(), dpr);
  if (image.isNull()) return false;
  painter.drawImage(target, Adjusted(image));
  return true;
}

bool DrawSkinImagePart(QPainter& painter, const QRect& target, int id, QPoint source_origin) {
  if (target.isEmpty()) return false;
  const qreal dpr = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
  const QImage image = LoadSkinImage(id, {}, dpr);
  if (image.isNull()) return false;
  const QSize natural = SkinImageSize(id);
  const int x = std::clamp(source_origin.x(), 0, std::max(0, natural.width() - target.width()));
  const int y = std::clamp(source_origin.y(), 0, std::max(0, natural.height() - target.height()));
  const QRectF source(x * dpr, y * dpr, std::min(target.width(), natural.width()) * dpr,
                      std::min(target.height(), natural.height()) * dpr);
  painter.drawImage(QRectF(target), Adjusted(image), source);
  return true;
}

QFont SkinFont(int pixel_height, int weight) {
  // Named, not looked up: asking the font database first would read every installed font's
  // description at start-up; fontconfig falls back along the list by itself.
  QFont font;
  font.setFamilies({"Noto Sans CJK SC", "Noto Sans SC", "Noto Sans", "sans-serif"});
  font.setPixelSize(pixel_height);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

}  // namespace spherolux::ui
