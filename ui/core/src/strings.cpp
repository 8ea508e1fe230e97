#include "ui/strings.h"

#include <algorithm>
#include <atomic>
#include <iterator>

namespace spherolux::ui {

namespace {

struct Entry {
  int id;
  const char* english;
  const char* chinese;
};

// Sorted by id.
constexpr Entry kTable[] = {
    {kStrConfirm, "Confirm", "确定"},
    {kStrSelectLanguage, "Please select language:", "请选择语言："},
    {kStrConverterTitle, "Converter", "转换器"},
    {kStrMergerTitle, "Merger", "视频合并"},
    {kStrUploadTitle, "Upload To", "上传到"},
    {kStrOpenConverter, "Open Converter", "打开转换器"},
    {kStrOpenFile, "Open File", "打开文件"},
    {kStrCreateOutputFailed, "Failed to create output file.", "无法创建输出文件。"},
    {kStrFinish, "Finish", "完成"},
    {kStrOpenOutputDirQuestion, "Do you want to open the output directory?", "是否打开保存位置？"},
    {kStrOpen, "Open", "打开"},
    {kStrStart, "Start", "开始"},
    {kStrStop, "Stop", "停止"},
    {kStrOpenDir, "Open Dir", "打开位置"},
    {kStrBrowse, "Browse", "浏览"},
    {kStrMerge, "Merge", "合并"},
    {kStrSelectRotation, "Please select the rotation:", "请选择旋转角度："},
    {kStrVideoQuality, "Video Quality:", "视频质量："},
    {kStrOutputPath, "Output Path:", "保存位置："},
    {kStrOutputName, "Output Name:", "输出文件名："},
    {kStrQualityLow, "Low", "低"},
    {kStrQualityMedium, "Medium", "中等"},
    {kStrQualityHigh, "High", "高"},
    {kStrProgress, "Progress", "进度"},
    {kStrTimeLeft, "Time Left", "剩余时间"},
    {kStrNoGl2PlayFlat,
     "The driver of Video Card does not support OpenGL2.0. Do you want to play as non-panoramic video?",
     "显卡驱动不支持 OpenGL 2.0。是否以非全景方式播放？"},
    {kStrNotQualifiedCamera, "This file is not captured by a qualified camera!", "此文件并非由合格的全景相机拍摄！"},
    {kStrAlreadyStitched, "This file is already stitched!", "此文件已经拼接过了！"},
    {kStrGl2Required, "OpenGL2.0 is required. Please upgrade the driver of video card!",
     "需要 OpenGL 2.0，请升级显卡驱动！"},
    {kStrCancelStitching, "Do you want to cancel the stitching?", "是否取消拼接？"},
    {kStrImageStitchingDone, "Image stitching done", "图片拼接完成"},
    {kStrImageStitchingFailed, "Image stitching failed", "图片拼接失败"},
    {kStrOutputPathMissing, "Output Path does not exist!", "保存位置不存在！"},
    {kStrScreenshotSavedIn, "Screenshot saved in", "截图已保存至"},
    {kStrSelectFiles, "Please select Files!", "请选择文件！"},
    {kStrOutOfMemory, "Out of memory!", "内存不足！"},
    {kStrMergeSavedIn, "Merge file saved in", "合并后的视频已保存至"},
    {kStrMergeFailed, "Merge file failed!", "文件合并失败！"},
    {kStrNotYetStitched, "This file is not yet stitched, please stitch firstly!", "此文件尚未拼接，请先进行拼接！"},
    {kStrFilePath, "File Path", "文件路径"},
    {kStrAdd, "Add", "添加"},
    {kStrDelete, "Delete", "删除"},
    {kStrIndex, "Index", "序号"},
    {kStrInputFiles, "Input Files", "输入文件"},
    {kStrScreenRecordSavedIn, "Screen record saved in", "录屏已保存至"},
    {kStrSelectOutputDir, "Select Output Directory", "选择保存位置"},
    {kStrAppTitle, "SPHEROLUX Video Converter", "SPHEROLUX 全景视频转换器"},
    {kStrRestore, "Restore", "还原"},
    {kStrMaximise, "Maximize", "最大化"},
    {kStrMinimise, "Minimize", "最小化"},
    {kStrClose, "Close", "关闭"},
    {kStrLanguage, "Language", "语言"},
    {kStrViewModes, "View modes", "视图模式"},
    {kStrFlatView, "Flat view", "平面视图"},
    {kStrSphere, "Sphere", "球面"},
    {kStrTile, "Tile", "平铺"},
    {kStrPlanet, "Little planet", "小行星"},
    {kStrHalfBall, "Half ball", "半球"},
    {kStrInDome, "In-dome", "穹顶"},
    {kStrLayer, "Layer", "分层"},
    {kStrDirection, "Flip direction", "翻转方向"},
    {kStrResetView, "Reset view", "重置视角"},
    {kStrSnapshot, "Screenshot", "截图"},
    {kStrRecord, "Record the view", "录屏"},
    {kStrStopRecording, "Stop recording", "停止录屏"},
    {kStrPlay, "Play", "播放"},
    {kStrPause, "Pause", "暂停"},
    {kStrStopPlayback, "Stop", "停止"},
    {kStrNextFrame, "Next frame", "下一帧"},
    {kStrMute, "Mute", "静音"},
    {kStrSoundOn, "Sound on", "取消静音"},
    {kStrVolume, "Volume", "音量"},
    {kStrEmptyHint, "Drop a 360° photo or video here, or open one with Ctrl+O",
     "将全景照片或视频拖放到这里，或按 Ctrl+O 打开"},
    {kStrEmptyHintKeys, "Space play/pause · F full screen · 0–6 view modes · drag to look around",
     "空格 播放/暂停 · F 全屏 · 0–6 视图模式 · 拖动画面环顾四周"},
    {kStrOk, "OK", "确定"},
    {kStrCancel, "Cancel", "取消"},
    {kStrYes, "Yes", "是"},
    {kStrNo, "No", "否"},
    {kStrFilesFilter, "Files", "文件"},
    {kStrAllFilesFilter, "All Files", "所有文件"},
    {kStrLanguageSaveFailed, "The language could not be saved in %s.", "无法将语言设置保存到 %s。"},
    {kStrRecorderMissing, "Screen recording is not available in this build.", "此版本不支持录屏。"},
    {kStrConverterMissing, "The converter is not available in this build.", "此版本不含转换器。"},
    {kStrFullScreen, "Full screen", "全屏"},
    {kStrRotateLeft, "Rotate left", "向左旋转"},
    {kStrRotateRight, "Rotate right", "向右旋转"},
    {kStrExit, "Exit", "退出"},
    {kStrSnapshotFailed, "The snapshot could not be written.", "截图保存失败。"},
    {kStrStreamRecordSavedIn, "Stream recording saved in", "录像已保存至"},
    {kStrStreamRecordFailed, "The stream recording could not be saved.", "录像保存失败。"},
    {kStrScreenshotFailed, "The screenshot could not be written to %s.", "截图无法保存到 %s。"},
    {kStrNoDisplay, "spherolux needs a graphical display (DISPLAY or WAYLAND_DISPLAY is not set).",
     "spherolux 需要图形显示环境（未设置 DISPLAY 或 WAYLAND_DISPLAY）。"},
    {kStrPreviewHint, "Open a camera video or photo to preview it here", "打开相机拍摄的视频或照片，即可在此预览"},
    {kStrSelectFilesTitle, "Select Files", "选择文件"},
    {kStrMediaFilesFilter, "Media Files", "媒体文件"},
    {kStrEngineMissing, "The conversion engine could not be loaded: %s", "无法加载转换引擎：%s"},
    {kStrStitchingImage, "Stitching the image...", "正在拼接图片……"},
    {kStrCauseDiskFull, "The disk is full.", "磁盘已满。"},
    {kStrCausePermissionDenied, "Permission denied.", "没有访问权限。"},
    {kStrCauseFileError, "The output file cannot be created or written.", "无法创建或写入输出文件。"},
    {kStrCauseOutOfMemory, "Out of memory.", "内存不足。"},
    {kStrCauseCannotOpenInput, "The input file cannot be opened.", "无法打开输入文件。"},
    {kStrCauseNotAFile, "The input is not a regular file.", "输入的不是普通文件。"},
    {kStrCauseDamagedInput, "The input file is damaged or cut short.", "输入文件已损坏或不完整。"},
    {kStrCauseTooLarge, "The photo is larger than can be stitched (at most 16384 pixels wide and 134 million pixels).",
     "照片过大，无法拼接（宽度最多 16384 像素，总像素最多 1.34 亿）。"},
    {kStrCauseOutputExists, "A file of the output's name exists already; it was not replaced.",
     "已存在同名的输出文件，未将其覆盖。"},
    {kStrCauseOutputIsInput, "The output file is one of the input files.", "输出文件与某个输入文件是同一个文件。"},
    {kStrCauseWrongExtension,
     "The output's name does not fit its kind: a stitched photo is a .jpg file, a video an .mp4 file.",
     "输出文件名与文件类型不符：拼接后的照片应为 .jpg 文件，视频应为 .mp4 文件。"},
    {kStrCauseNoCalibration, "The input carries no usable camera calibration.", "输入文件中没有可用的相机标定数据。"},
    {kStrCauseUnsupportedMedia, "The input's format, codec or frame size is not supported.",
     "不支持输入文件的格式、编码或画面尺寸。"},
    {kStrCauseEncoderOptions, "The video encoder refuses the options.", "视频编码器不接受这些参数。"},
    {kStrCauseMergeMismatch, "The files to merge differ in codec, frame size, time base or audio parameters.",
     "要合并的文件在编码、画面尺寸、时间基或音频参数上不一致。"},
    {kStrCauseMergeList, "The list of files to merge cannot be read.", "无法读取要合并的文件列表。"},
    {kStrCauseStopped, "The job was stopped.", "任务已停止。"},
    {kStrCauseOther, "The job failed.", "任务失败。"},
    {kStrCauseNameTooLong, "The output's file name is longer than 255 bytes.", "输出文件名超过 255 字节。"},
    {kStrScreenRecordFailed, "The screen recording %s could not be saved in full.", "录屏 %s 未能完整保存。"},
    {kStrCauseRecordingGone, "The file or its folder was removed while recording.",
     "录制期间文件或其所在文件夹已被删除。"},
    {kStrCauseInputChanged, "An input file changed while the job ran; no output was written.",
     "任务运行期间输入文件被更改，未写入输出文件。"},
    {kStrNotARegularFile, "Only regular files can be opened: this is a folder, pipe or device.",
     "只能打开普通文件：这是文件夹、管道或设备。"},
    {kStrNestedTooDeep, "This file cannot be played safely: its boxes are nested too deeply.",
     "无法安全播放此文件：其数据盒嵌套层数过深。"},
    {kStrOutputDirFallback, "The output directory %s no longer exists. Files are saved in %s instead.",
     "保存位置 %s 已不存在，文件将改为保存在 %s。"},
    {kStrMoveUp, "Up", "上移"},
    {kStrMoveDown, "Down", "下移"},
    {kStrMergerListHint, "Add stitched videos with Add; they are merged in the order of this list.",
     "点击“添加”加入已拼接的视频，将按此列表的顺序合并。"},
    {kStrScreenRecordNotStarted, "The screen recording could not be started in %s.", "无法开始录屏：%s"},
    {kStrScreenRecordNothing,
     "Nothing was recorded: no picture was drawn while recording. Play the video while recording.",
     "未录到任何画面：录屏期间画面没有更新。请在播放视频时录屏。"},
    {kStrNoLauncher, "No program is set up to open %s.", "系统中没有可打开 %s 的程序。"},
    {kStrRecordingBadge, "Recording %s", "正在录屏 %s"},
    {kStrRecordingBadgeHelp, "The view is being recorded. Shift+R stops the recording.", "正在录屏，按 Shift+R 停止。"},
    {kStrDescClose, "Ends the program.", "退出程序。"},
    {kStrDescFullScreen, "Switches full screen on or off.", "进入或退出全屏。"},
    {kStrDescMinimise, "Hides the window in the task bar.", "将窗口最小化到任务栏。"},
    {kStrDescLanguage, "Chooses the language of the program; it restarts in that language.",
     "选择程序语言，程序将以所选语言重新启动。"},
    {kStrDescViewModes, "Shows or hides the panel of view modes.", "显示或隐藏视图模式面板。"},
    {kStrDescViewMode, "Shows the picture in this view.", "以此视图显示画面。"},
    {kStrDescDirection, "Turns the view to look the other way.", "将视角翻转到相反方向。"},
    {kStrDescResetView, "Turns the view back to where it started.", "将视角恢复到初始位置。"},
    {kStrDescPlay, "Plays or pauses the file.", "播放或暂停当前文件。"},
    {kStrDescStop, "Stops the playback and closes the file.", "停止播放并关闭文件。"},
    {kStrDescNextFrame, "Shows the next frame of the video.", "显示视频的下一帧。"},
    {kStrDescMute, "Turns the sound off or on.", "关闭或打开声音。"},
    {kStrDescOpenFile, "Opens a 360° photo or video.", "打开全景照片或视频。"},
    {kStrDescConverter, "Opens the converter with the current file.", "用当前文件打开转换器。"},
    {kStrDescScreenshot, "Saves a picture of the view in the output folder.", "将当前画面截图保存到保存位置。"},
    {kStrDescRecord, "Records the view as a video (Shift+R).", "将当前画面录屏（Shift+R）。"},
    {kStrSeekBar, "Position", "播放进度"},
    {kStrDescSeekBar, "Where the video is; click or drag to go elsewhere.", "视频的播放位置，点击或拖动可跳转。"},
    {kStrDescVolume, "How loud the sound is.", "声音大小。"},
    {kStrDescLanguageList, "The language the program restarts in.", "程序重新启动后使用的语言。"},
    {kStrDescConfirm, "Keeps the choice.", "确认所作的选择。"},
    {kStrDescCloseWindow, "Closes this window.", "关闭此窗口。"},
    {kStrDescMinimiseWindow, "Hides this window in the task bar.", "将此窗口最小化到任务栏。"},
    {kStrQueueFile, "File", "文件"},
    {kStrQueueOutputName, "Output Name", "输出文件名"},
    {kStrQueueState, "State", "状态"},
    {kStrQueueWaiting, "Waiting", "等待中"},
    {kStrQueueConverting, "Converting %d%%", "正在转换 %d%%"},
    {kStrQueueDone, "Done", "已完成"},
    {kStrQueueFailed, "Failed", "失败"},
    {kStrQueueStopped, "Stopped", "已停止"},
    {kStrQueueRemove, "Remove", "移除"},
    {kStrQueueStopAll, "Stop all", "全部停止"},
    {kStrQueueSummary, "%d of %d files were converted.", "已转换 %d 个文件，共 %d 个。"},
    {kStrQueueNotConverted, "Not converted", "未转换"},
    {kStrEngineSnapshot, "Snapshot of the frame", "原画截图"},
    {kStrStreamRecord, "Record the stream", "录像"},
    {kStrStopStreamRecord, "Stop the stream recording", "停止录像"},
    {kStrVideoCodec, "Video codec", "视频编码"},
    {kStrDescVideoCodec, "H.265 files are about half the size at the same quality; H.264 plays on more devices.",
     "同等画质下 H.265 文件约小一半；H.264 可在更多设备上播放。"},
    {kStrCauseMergeCodecs,
     "The files to merge are encoded with different video codecs (H.264 and H.265). Convert them with one codec to "
     "merge them.",
     "要合并的文件使用了不同的视频编码（H.264 与 H.265）。请用同一种编码转换后再合并。"},
    {kStrTooLargeToPlay, "This video is too large to play smoothly here; converting it works at any size.",
     "此视频过大，无法在本机流畅播放；转换不受视频尺寸限制。"},
    {kStrReframe, "Reframe", "重新取景"},
    {kStrAddKeyframe, "Add keyframe", "添加关键帧"},
    {kStrRecordPath, "Record path", "录制路径"},
    {kStrPlayPath, "Play path", "播放路径"},
    {kStrOutputSize, "Size", "尺寸"},
    {kStrCustomSize, "Custom", "自定义"},
    {kStrSavePath, "Save path…", "保存视角路径…"},
    {kStrLoadPath, "Load path…", "载入视角路径…"},
    {kStrExport, "Export…", "导出…"},
    {kStrViewPathFilter, "View paths", "视角路径"},
    {kStrViewPathNotRead, "The view path could not be read: %s", "无法读取视角路径：%s"},
    {kStrViewPathNotSaved, "The view path could not be saved to %s.", "视角路径无法保存到%s。"},
    {kStrNoKeyframes, "Add a keyframe first (K).", "请先添加关键帧（K）。"},
    {kStrReframeSavedIn, "Reframed video saved in", "重新取景的视频已保存至"},
    {kStrCloseReframe, "Close the reframe panel", "关闭重新取景面板"},
    {kStrKeyframeStrip, "Keyframes: click to go there, drag to move, Delete to remove",
     "关键帧：单击跳转，拖动移动，按Delete删除"},
};

std::atomic<Language> g_language{Language::kEnglish};

const Entry* Find(int id) {
  const auto it =
      std::lower_bound(std::begin(kTable), std::end(kTable), id, [](const Entry& e, int key) { return e.id < key; });
  return it != std::end(kTable) && it->id == id ? it : nullptr;
}

}  // namespace

void SetUiLanguage(Language language) { g_language.store(language); }
Language UiLanguage() { return g_language.load(); }

const char* LoadString(int id) { return LoadString(id, UiLanguage()); }

const char* LoadString(int id, Language language) {
  const Entry* entry = Find(id);
  if (entry == nullptr) return "";
  return language == Language::kChinese ? entry->chinese : entry->english;
}

const char* LabelColon(const char* english, Language language) {
  return language == Language::kChinese ? "\uFF1A" : english;
}
const char* LabelColon(const char* english) { return LabelColon(english, UiLanguage()); }

std::vector<int> AllStringIds() {
  std::vector<int> ids;
  for (const Entry& e : kTable) ids.push_back(e.id);
  return ids;
}

}  // namespace spherolux::ui
