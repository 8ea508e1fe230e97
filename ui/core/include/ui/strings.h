// The string table: every user-visible text of the program by id, in English and Simplified
// Chinese, and the user-interface language the texts are loaded in.
//
// Texts are UTF-8 and live as long as the program. The UI language is chosen once at start-up,
// before any thread but the UI thread exists (SetUiLanguage); LoadString may then be called
// from any thread. A language other than English or Chinese shows the English texts.
#pragma once

#include <cstdint>
#include <vector>

namespace spherolux::ui {

enum class Language { kEnglish, kChinese, kOther };

// Locale identifiers stored in the language file.
constexpr uint32_t kLocaleEnglishUs = 1033;   // 0x409
constexpr uint32_t kLocaleChinesePrc = 2052;  // 0x804

// Ids of the texts. The numbers below 600 are fixed: dialogs of the whole program refer to them.
enum StringId : int {
  kStrConfirm = 104,
  kStrSelectLanguage = 106,
  kStrConverterTitle = 201,
  kStrMergerTitle = 202,
  kStrUploadTitle = 203,
  kStrOpenConverter = 300,
  kStrOpenFile = 301,
  kStrCreateOutputFailed = 302,
  kStrFinish = 304,
  kStrOpenOutputDirQuestion = 305,
  kStrOpen = 465,
  kStrStart = 466,
  kStrStop = 467,
  kStrOpenDir = 468,
  kStrBrowse = 469,
  kStrMerge = 470,
  kStrSelectRotation = 471,
  kStrVideoQuality = 472,
  kStrOutputPath = 473,
  kStrOutputName = 474,
  kStrQualityLow = 475,
  kStrQualityMedium = 476,
  kStrQualityHigh = 477,
  kStrProgress = 478,
  kStrTimeLeft = 479,
  kStrNoGl2PlayFlat = 480,
  kStrNotQualifiedCamera = 481,
  kStrAlreadyStitched = 482,
  kStrGl2Required = 483,
  kStrCancelStitching = 484,
  kStrImageStitchingDone = 485,
  kStrImageStitchingFailed = 486,
  kStrOutputPathMissing = 487,
  kStrScreenshotSavedIn = 488,
  kStrSelectFiles = 489,
  kStrOutOfMemory = 491,
  kStrMergeSavedIn = 493,
  kStrMergeFailed = 494,
  kStrNotYetStitched = 495,
  kStrFilePath = 496,
  kStrAdd = 497,
  kStrDelete = 498,
  kStrIndex = 499,
  kStrInputFiles = 500,
  kStrScreenRecordSavedIn = 501,
  kStrSelectOutputDir = 502,

  // Texts of this program beyond the fixed ones.
  kStrAppTitle = 600,
  kStrRestore,
  kStrMaximise,
  kStrMinimise,
  kStrClose,
  kStrLanguage,
  kStrViewModes,
  kStrFlatView,
  kStrSphere,
  kStrTile,
  kStrPlanet,
  kStrHalfBall,
  kStrInDome,
  kStrLayer,
  kStrDirection,
  kStrResetView,
  kStrSnapshot,
  kStrRecord,
  kStrStopRecording,
  kStrPlay,
  kStrPause,
  kStrStopPlayback,
  kStrNextFrame,
  kStrMute,
  kStrSoundOn,
  kStrVolume,
  kStrEmptyHint,
  kStrEmptyHintKeys,
  kStrOk,
  kStrCancel,
  kStrYes,
  kStrNo,
  kStrFilesFilter,
  kStrAllFilesFilter,
  kStrLanguageSaveFailed,
  kStrRecorderMissing,
  kStrConverterMissing,
  kStrFullScreen,
  kStrRotateLeft,
  kStrRotateRight,
  kStrExit,
  kStrSnapshotFailed,
  kStrStreamRecordSavedIn,
  kStrStreamRecordFailed,
  kStrScreenshotFailed,
  kStrNoDisplay,
  kStrPreviewHint,
  kStrSelectFilesTitle,
  kStrMediaFilesFilter,
  kStrEngineMissing,
  kStrStitchingImage,
  // Why a conversion, stitch or merge failed (one sentence each).
  kStrCauseDiskFull,
  kStrCausePermissionDenied,
  kStrCauseFileError,
  kStrCauseOutOfMemory,
  kStrCauseCannotOpenInput,
  kStrCauseNotAFile,
  kStrCauseDamagedInput,
  kStrCauseTooLarge,
  kStrCauseOutputExists,
  kStrCauseOutputIsInput,
  kStrCauseWrongExtension,
  kStrCauseNoCalibration,
  kStrCauseUnsupportedMedia,
  kStrCauseEncoderOptions,
  kStrCauseMergeMismatch,
  kStrCauseMergeList,
  kStrCauseStopped,
  kStrCauseOther,
  kStrCauseNameTooLong,
  kStrScreenRecordFailed,
  kStrCauseRecordingGone,
  kStrCauseInputChanged,
  // Why the player refuses a file before any library reads it.
  kStrNotARegularFile,
  kStrNestedTooDeep,
  // The converter and the merger.
  kStrOutputDirFallback,
  kStrMoveUp,
  kStrMoveDown,
  kStrMergerListHint,
  // Failures of the player's own actions.
  kStrScreenRecordNotStarted,
  kStrScreenRecordNothing,
  kStrNoLauncher,
  // The sign over the picture while the view is recorded.
  kStrRecordingBadge,
  kStrRecordingBadgeHelp,
  // What each control does, for screen readers (the accessible descriptions).
  kStrDescClose,
  kStrDescFullScreen,
  kStrDescMinimise,
  kStrDescLanguage,
  kStrDescViewModes,
  kStrDescViewMode,
  kStrDescDirection,
  kStrDescResetView,
  kStrDescPlay,
  kStrDescStop,
  kStrDescNextFrame,
  kStrDescMute,
  kStrDescOpenFile,
  kStrDescConverter,
  kStrDescScreenshot,
  kStrDescRecord,
  kStrSeekBar,
  kStrDescSeekBar,
  kStrDescVolume,
  kStrDescLanguageList,
  kStrDescConfirm,
  kStrDescCloseWindow,
  kStrDescMinimiseWindow,
  // The converter's queue of several files.
  kStrQueueFile,
  kStrQueueOutputName,
  kStrQueueState,
  kStrQueueWaiting,
  kStrQueueConverting,
  kStrQueueDone,
  kStrQueueFailed,
  kStrQueueStopped,
  kStrQueueRemove,
  kStrQueueStopAll,
  kStrQueueSummary,
  kStrQueueNotConverted,
  // The context menu's entries for the media engine's own snapshot and stream recording.
  kStrEngineSnapshot,
  kStrStreamRecord,
  kStrStopStreamRecord,
  // The converter's choice of video codec, and the merge of files of different codecs.
  kStrVideoCodec,
  kStrDescVideoCodec,
  kStrCauseMergeCodecs,
  // The player's notice when the decoder cannot keep up with a video.
  kStrTooLargeToPlay,
  // The reframe panel: a flat video cut out of a 360° video along a path of views.
  kStrReframe,
  kStrAddKeyframe,
  kStrRecordPath,
  kStrPlayPath,
  kStrOutputSize,
  kStrCustomSize,
  kStrSavePath,
  kStrLoadPath,
  kStrExport,
  kStrViewPathFilter,
  kStrViewPathNotRead,
  kStrViewPathNotSaved,
  kStrNoKeyframes,
  kStrReframeSavedIn,
  kStrCloseReframe,
  kStrKeyframeStrip,
};

void SetUiLanguage(Language language);
Language UiLanguage();

// The text of `id` in the UI language (English for kOther), or "" for an id without text.
const char* LoadString(int id);
const char* LoadString(int id, Language language);

// The colon between a label and what code puts after it: the full-width "：" (no space
// follows it) in Chinese, `english` (":" or ": ") otherwise.
const char* LabelColon(const char* english);
const char* LabelColon(const char* english, Language language);

// Every id that has a text, ascending.
std::vector<int> AllStringIds();

}  // namespace spherolux::ui
