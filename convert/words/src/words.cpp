#include "convert/words.h"

#include <cstdio>

#include "convert/engine.h"

namespace spherolux::convert {

namespace {

int CauseStringId(Cause cause) {
  switch (cause) {
    case Cause::kNone:
      return 0;
    case Cause::kDiskFull:
      return ui::kStrCauseDiskFull;
    case Cause::kPermissionDenied:
      return ui::kStrCausePermissionDenied;
    case Cause::kFileError:
      return ui::kStrCauseFileError;
    case Cause::kOutOfMemory:
      return ui::kStrCauseOutOfMemory;
    case Cause::kCannotOpenInput:
      return ui::kStrCauseCannotOpenInput;
    case Cause::kNotAFile:
      return ui::kStrCauseNotAFile;
    case Cause::kDamagedInput:
      return ui::kStrCauseDamagedInput;
    case Cause::kTooLarge:
      return ui::kStrCauseTooLarge;
    case Cause::kOutputExists:
      return ui::kStrCauseOutputExists;
    case Cause::kOutputIsInput:
      return ui::kStrCauseOutputIsInput;
    case Cause::kWrongExtension:
      return ui::kStrCauseWrongExtension;
    case Cause::kNameTooLong:
      return ui::kStrCauseNameTooLong;
    case Cause::kInputChanged:
      return ui::kStrCauseInputChanged;
    case Cause::kNoCalibration:
      return ui::kStrCauseNoCalibration;
    case Cause::kUnsupportedMedia:
      return ui::kStrCauseUnsupportedMedia;
    case Cause::kEncoderOptions:
      return ui::kStrCauseEncoderOptions;
    case Cause::kMergeMismatch:
      return ui::kStrCauseMergeMismatch;
    case Cause::kMergeCodecs:
      return ui::kStrCauseMergeCodecs;
    case Cause::kMergeList:
      return ui::kStrCauseMergeList;
    case Cause::kStopped:
      return ui::kStrCauseStopped;
    case Cause::kOther:
      break;
  }
  return ui::kStrCauseOther;
}

}  // namespace

const char* CauseText(Cause cause, ui::Language language) {
  const int id = CauseStringId(cause);
  return id == 0 ? "" : ui::LoadString(id, language);
}

std::string VideoFailureText(int engine_code, ui::Language language) {
  std::string text;
  if (engine_code == CONVERT_ERR_CREATE_OUTPUT) {
    text = ui::LoadString(ui::kStrCreateOutputFailed, language);
  } else {
    char head[160];
    std::snprintf(head, sizeof head, "%s(errno=%d):", ui::LoadString(ui::kStrOpenConverter, language), engine_code);
    text = head;
  }
  return text + " " + CauseText(CauseOfEngineResult(engine_code), language);
}

std::string PhotoFailureText(int photo_code, ui::Language language) {
  return std::string(ui::LoadString(ui::kStrImageStitchingFailed, language)) + ": " +
         CauseText(CauseOfPhotoResult(photo_code), language);
}

std::string MergeFailureText(int engine_code, ui::Language language) {
  return std::string(ui::LoadString(ui::kStrMergeFailed, language)) + " " +
         CauseText(CauseOfEngineResult(engine_code), language);
}

std::string RefusalText(const InputCheck& check, ui::Language language) {
  if (check.problem != Cause::kNone) return CauseText(check.problem, language);
  if (check.refusal != Cause::kNone) return CauseText(check.refusal, language);
  return ui::LoadString(check.verdict, language);
}

std::string MergeRefusalText(const std::string& path, ui::Language language) {
  return std::string(ui::LoadString(ui::kStrNotYetStitched, language)) + "\n" +
         ui::LoadString(ui::kStrFilePath, language) + ui::LabelColon(": ", language) + path;
}

std::string ProgressText(float percent, ui::Language language) {
  char buf[64];
  const char* label = ui::LoadString(ui::kStrProgress, language);
  if (percent < 100)
    std::snprintf(buf, sizeof buf, "%s%s%.2f%% ", label, ui::LabelColon(":", language), percent);
  else
    std::snprintf(buf, sizeof buf, "%s%s%d%% ", label, ui::LabelColon(":", language), int(percent));
  return buf;
}

std::string TimeLeftText(int remaining_seconds, ui::Language language) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s%s%02d:%02d:%02d", ui::LoadString(ui::kStrTimeLeft, language),
                ui::LabelColon(":", language), remaining_seconds / 3600, remaining_seconds / 60 % 60,
                remaining_seconds % 60);
  return buf;
}

}  // namespace spherolux::convert
