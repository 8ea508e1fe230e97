// The skin: every image of the user interface by integer id, drawn from the vector art in
// ui/skin/ (compiled into the program as Qt resources), the fonts and the colours.
//
// An id names one look of one thing (the close button pressed, the seek track). The table in
// skin.cpp maps each id to its file and how it is drawn: art as drawn, a glyph recoloured for
// its state (normal, pressed, disabled, active) over an optional backdrop, or a three-slice
// piece whose caps keep their shape while the middle stretches.
//
// Images are rendered at the size asked (the natural size by default) for the given device
// pixel ratio and cached. An unknown id gives a null image; controls then draw without it.
// UI thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QSize>

class QPainter;

namespace spherolux::ui {

enum SkinImage : int {
  // Ids the bars and dialogs of the whole program share.
  kImgHover = 132,  // hover overlay of a 30 x 30 bar button
  kImgMaximise = 147,
  kImgCaptionStrip = 158,  // caption and dialog title band background
  kImgSoundOn = 176,
  kImgTitleRight = 188,  // right end of a dialog's title band
  kImgTitleLeft = 189,   // left end of a dialog's title band, with the logo
  kImgMuted = 190,
  kImgMenuBackground = 294,
  kImgRestore = 344,
  kImgHeaderBackground = 348,
  kImgHeaderSeparator = 349,
  kImgHeaderEnd = 350,
  kImgPanelSphere = 412,
  kImgPanelHalfBall = 417,
  kImgPanelTile = 418,
  kImgPanelInDome = 419,
  kImgPanelLayer = 420,
  kImgRangeTrack = 434,
  kImgRangeThumb = 435,
  kImgRangeMarker = 436,
  kImgUploadSocial = 450,
  kImgUploadGlobe = 452,
  kImgUploadVideo = 453,
  kImgPanelPlanet = 461,
  kImgRecordIdle = 467,
  kImgRecordIdlePressed = 468,
  kImgRecordOn = 469,   // recording, blink phase 1
  kImgRecordDim = 470,  // recording, blink phase 2

  // Caption bar buttons (30 x 30): normal, pressed, and where used hover or active.
  kImgClose = 600,
  kImgClosePressed,
  kImgCloseHover,
  kImgMinimise,
  kImgMinimisePressed,
  kImgMaximisePressed,
  kImgRestorePressed,
  kImgLanguage,
  kImgLanguagePressed,
  kImgPalette,
  kImgPalettePressed,
  kImgViewModes,
  kImgViewModesPressed,
  kImgViewModesActive,
  kImgFlat,
  kImgFlatPressed,
  kImgFlatActive,
  kImgSphere,
  kImgSpherePressed,
  kImgSphereActive,
  kImgHalfBall,
  kImgHalfBallPressed,
  kImgHalfBallActive,
  kImgInDome,
  kImgInDomePressed,
  kImgInDomeActive,
  kImgLayer,
  kImgLayerPressed,
  kImgLayerActive,
  kImgDirection,
  kImgDirectionPressed,
  kImgDirectionActive,

  // Floating panel buttons (30 x 30) beyond the fixed ids above.
  kImgPanelSpherePressed = 640,
  kImgPanelSphereActive,
  kImgPanelTilePressed,
  kImgPanelTileActive,
  kImgPanelPlanetPressed,
  kImgPanelPlanetActive,
  kImgPanelHalfBallPressed,
  kImgPanelHalfBallActive,
  kImgPanelInDomePressed,
  kImgPanelInDomeActive,
  kImgPanelLayerPressed,
  kImgPanelLayerActive,
  kImgPanelDirection,
  kImgPanelDirectionPressed,
  kImgPanelDirectionActive,
  kImgPanelReset,
  kImgPanelResetPressed,
  kImgPanelSnapshot,
  kImgPanelSnapshotPressed,
  kImgPanelConverter,
  kImgPanelConverterPressed,
  kImgRecordDisabled,

  // Bottom bar (36 x 36 buttons, 40 x 40 play button).
  kImgPlay = 670,
  kImgPlayPressed,
  kImgPlayDisabled,
  kImgPlayHover,
  kImgPause,
  kImgPausePressed,
  kImgPauseDisabled,
  kImgPauseHover,
  kImgStop,
  kImgStopPressed,
  kImgStopDisabled,
  kImgNextFrame,
  kImgNextFramePressed,
  kImgNextFrameDisabled,
  kImgRewind,
  kImgRewindPressed,
  kImgLoop,
  kImgLoopPressed,
  kImgNext,
  kImgNextPressed,
  kImgBack,
  kImgBackPressed,
  kImgFlipper,
  kImgFlipperPressed,
  kImgSoundOnPressed,
  kImgMutedPressed,
  kImgOpen,
  kImgOpenPressed,
  kImgConverter,
  kImgConverterPressed,
  kImgConverterDisabled,
  kImgHoverBottom,  // hover overlay of a 36 x 36 button

  // Backgrounds, sliders, marks.
  kImgBottomStrip = 710,
  kImgPanelStrip,
  kImgTrack,       // three-slice
  kImgTrackFill,   // three-slice
  kImgTrackLight,  // three-slice, on light dialogs
  kImgThumb,
  kImgThumbHot,
  kImgHoverMarker,
  kImgLogo,     // 64 x 64
  kImgAppIcon,  // 256 x 256

  // Dialogs (light background): text buttons (three-slice) and glyph buttons.
  kImgButton = 730,
  kImgButtonHover,
  kImgButtonPressed,
  kImgButtonDisabled,
  kImgRotate0,
  kImgRotate90,
  kImgRotate180,
  kImgRotate270,
  kImgRotate0Active,
  kImgRotate90Active,
  kImgRotate180Active,
  kImgRotate270Active,
  kImgUpload,
  kImgUploadPressed,
  kImgDialogHover,   // hover overlay of a 30 x 30 button on a light dialog
  kImgAccentButton,  // text button with white text (three-slice)
  kImgAccentButtonHover,
  kImgAccentButtonPressed,
  kImgAccentButtonDisabled,
  kImgPreviewPlay,  // the trim preview's small play/pause button (18 x 16)
  kImgPreviewPlayPressed,
  kImgPreviewPlayDisabled,
  kImgPreviewPause,
  kImgPreviewPausePressed,
};

// The natural size of an image in device-independent pixels; empty for an unknown id.
QSize SkinImageSize(int id);
// Whether the image is a three-slice piece (stretched by DrawSkinImage without distortion).
bool SkinImageIsSlice(int id);
// The image rendered at `size` (its natural size when empty) for `dpr`, before the colour
// adjustment. Null for an unknown id or missing art.
QImage LoadSkinImage(int id, QSize size = {}, qreal dpr = 1.0);
// Rendered images are kept for reuse, at most this many (the least recently used go first).
constexpr size_t kSkinImageCacheEntries = 512;
size_t SkinImageCacheSize();
// Draws image `id` into `target` through the skin's colour adjustment (color_matrix.h).
// Three-slice pieces fill `target`; other images are drawn into it. False when the image is
// missing (nothing is drawn).
bool DrawSkinImage(QPainter& painter, const QRect& target, int id);
// Draws the part of image `id` (at its natural size) that starts at `source_origin` into
// `target`, e.g. the piece of a bar's background strip under a button. Past the image's right
// or bottom edge the last part of the image is used.
bool DrawSkinImagePart(QPainter& painter, const QRect& target, int id, QPoint source_origin);

// Fonts: Noto Sans CJK (fonts-noto-cjk) at a pixel height, falling back to the system's sans.
QFont SkinFont(int pixel_height, int weight = 400);

// Colours of the skin that are not images.
namespace skin_color {
constexpr QRgb kWindow = 0xFF14161A;        // the main window behind the video
constexpr QRgb kDialog = 0xFFEDEDED;        // dialog background, RGB(237, 237, 237)
constexpr QRgb kTitleText = 0xFFE8EBF0;     // caption and title band text
constexpr QRgb kBarText = 0xFFAEB4BD;       // time labels
constexpr QRgb kDialogText = 0xFF2B3038;    // text on dialogs
constexpr QRgb kDisabledText = 0xFF9AA0A8;  // text of disabled controls on dialogs
constexpr QRgb kAccent = 0xFF2F9BEA;        // selection and progress
constexpr QRgb kHeader = 0xFFABC7EB;        // list header, RGB(171, 199, 235)
constexpr QRgb kHintText = 0xFF8A919B;      // the empty window's hint
}  // namespace skin_color

}  // namespace spherolux::ui
