#include "dialogs/converter_model.h"

#include "convert/words.h"
#include "probe/probe.h"
#include "ui/bar_logic.h"
#include "ui/strings.h"

namespace spherolux::dialogs {

ConverterModel::ConverterModel(ExistsFn exists) : exists_(std::move(exists)) {
  controls_.start = false;
  ShowProgress(0);
}

void ConverterModel::SetOutputDir(const std::string& dir) {
  output_dir_ = dir;
  if (!output_dir_.empty() && output_dir_.back() != '/') output_dir_ += '/';
}

void ConverterModel::Preload(const std::string& path, bool photo) {
  input_ = path;
  photo_ = photo;
  preloaded_ = true;
}

bool ConverterModel::ChooseFile(const std::string& path) {
  if (job_ == Job::kVideo) return false;
  photo_ = ui::IsPhotoPath(path);
  preloaded_ = false;
  input_ = path;
  RefreshOutputName();
  return true;
}

void ConverterModel::SetRotation(int degrees) {
  rotation_ = degrees;
  RefreshOutputName();
}

void ConverterModel::SetQuality(int index) {
  quality_ = index;
  RefreshOutputName();
}

void ConverterModel::SetCodec(convert::Codec codec) {
  codec_ = codec;
  RefreshOutputName();
}

void ConverterModel::RefreshOutputName() {
  progress_ = 0;
  if (input_.find('/') != std::string::npos) {
    output_name_ = ui::FileNameOf(OutputPathForJob());
    controls_.start = true;
  }
  controls_.stop = false;
  ShowProgress(0);
}

std::string ConverterModel::OutputPathForJob() {
  return convert::ProposeOutputPath(output_dir_, ui::FileNameOf(input_), photo_, exists_);
}

convert::ServiceJob ConversionJob(const std::string& input, bool photo, const std::string& output_dir, int rotation,
                                  int quality, convert::Codec codec, const convert::TrimRange& range, bool copy) {
  convert::ServiceJob job;
  job.kind = photo ? convert::ServiceJob::Kind::kPhoto : convert::ServiceJob::Kind::kEngine;
  job.input = input;
  job.output_dir = output_dir;
  job.rotation = rotation;
  job.quality = quality;
  if (!photo) {
    job.call = [input, range, q = static_cast<convert::Quality>(quality), codec, copy](const std::string& out) {
      return convert::ConversionCall(input, out, range, q, copy, convert::OutputName::kClaim, codec);
    };
  }
  return job;
}

convert::ServiceJob ConverterModel::MakeJob(const convert::TrimRange& range, bool copy) const {
  return ConversionJob(input_, photo_, output_dir_, rotation_, quality_, codec_, range, copy);
}

ConverterModel::Job ConverterModel::Start(int verdict) {
  if (verdict != kQualified || input_.empty()) return Job::kNone;
  job_ = photo_ ? Job::kPhoto : Job::kVideo;
  stopping_ = false;
  controls_.start = false;
  controls_.stop = job_ == Job::kVideo;
  controls_.editing = false;
  return job_;
}

void ConverterModel::OnProgress(const convert::JobProgress& progress) {
  if (job_ != Job::kVideo || stopping_) return;
  progress_ = progress.percent;
  progress_text_ = convert::ProgressText(progress.percent, ui::UiLanguage());
  time_left_text_ = convert::TimeLeftText(progress.remaining_seconds, ui::UiLanguage());
}

void ConverterModel::Stop() {
  if (job_ != Job::kVideo || photo_) return;
  stopping_ = true;
  progress_ = 0;
  ShowProgress(0);
  controls_.start = true;
  controls_.stop = false;
}

ConverterModel::Answer ConverterModel::OnVideoEnded(int result, bool cancelled, bool closing) {
  EndJob();
  if (cancelled) {
    if (!closing) RefreshOutputName();
    return Answer::kNone;
  }
  progress_ = result == 0 ? 100.0f : 0.0f;
  controls_.start = result != 0;
  ShowProgress(progress_);
  if (result == 0) return Answer::kAskOpenOutputDir;
  answer_text_ = convert::VideoFailureText(result, ui::UiLanguage());
  return Answer::kError;
}

ConverterModel::Answer ConverterModel::OnPhotoEnded(int result) {
  EndJob();
  controls_.start = result != 0;
  progress_ = result == 0 ? 100.0f : 0.0f;
  progress_text_ = ui::LoadString(result == 0 ? ui::kStrImageStitchingDone : ui::kStrImageStitchingFailed);
  if (result == 0) return Answer::kAskOpenOutputDir;
  answer_text_ = convert::PhotoFailureText(result, ui::UiLanguage());
  return Answer::kError;
}

void ConverterModel::EndJob() {
  job_ = Job::kNone;
  stopping_ = false;
  controls_.stop = false;
  controls_.editing = true;
}

// The display of a job that has not begun or has ended: nothing is left to wait for.
void ConverterModel::ShowProgress(float percent) {
  progress_text_ = convert::ProgressText(percent, ui::UiLanguage());
  time_left_text_ = convert::TimeLeftText(0, ui::UiLanguage());
}

}  // namespace spherolux::dialogs
