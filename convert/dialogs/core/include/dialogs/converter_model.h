// What the converter dialog (CCompositeDlg) decides, without its window: the chosen file,
// rotation and quality, the proposed output name, which buttons are enabled while no job,
// a photo job or a video job runs, the progress texts, and the texts of its answers.
//
//   no file ──choose──▶ ready (Start enabled) ──Start──▶ checked ──▶ photo job | video job
//   video job ──ended / stopped──▶ ready (Start enabled after a failure or a stop,
//   disabled after a success until the output name is refreshed)
//
// The model never touches files except through the `exists` test it is given, and it
// never runs a job: it describes the job (MakeJob), the window hands it to the conversion
// service and reports its end here.
//
// Plain class, UI thread only. Paths are UTF-8; the output directory ends with a separator
// (or is empty: the output then goes beside nothing but the bare name).
#pragma once

#include <functional>
#include <string>

#include "convert/job.h"
#include "convert/runner.h"
#include "convert/service.h"

namespace spherolux::dialogs {

using ExistsFn = std::function<bool(const std::string&)>;

// The conversion service's job for one input: the photo, or the engine call of `range` with
// the quality and video codec (`copy`: recorded already stitched by the camera, copied
// whatever the quality and codec), with the rotation; its output the first free name in
// `output_dir`, picked when it starts (and again when another run took it meanwhile).
convert::ServiceJob ConversionJob(const std::string& input, bool photo, const std::string& output_dir, int rotation,
                                  int quality, convert::Codec codec, const convert::TrimRange& range, bool copy);

class ConverterModel {
 public:
  enum class Job { kNone, kPhoto, kVideo };

  // What the editing controls show and allow.
  struct Controls {
    bool start = false;
    bool stop = false;
    bool editing = true;  // Open, Merge, rotation, quality, codec and Browse
  };

  explicit ConverterModel(ExistsFn exists);

  void SetOutputDir(const std::string& dir);
  const std::string& output_dir() const { return output_dir_; }

  // The file the player window hands over before the dialog opens.
  void Preload(const std::string& path, bool photo);
  bool preloaded() const { return preloaded_; }
  // A file chosen with Open. While a video job runs the choice is dropped (false).
  bool ChooseFile(const std::string& path);

  // Rotation (0, 90, 180, 270) and quality (0 Low, 1 Medium, 2 High) as chosen; both refresh
  // the output name.
  void SetRotation(int degrees);
  void SetQuality(int index);
  int rotation() const { return rotation_; }
  int quality() const { return quality_; }
  // The video codec of the output (H.264 until another is chosen; photos ignore it); like
  // the quality it refreshes the output name.
  void SetCodec(convert::Codec codec);
  convert::Codec codec() const { return codec_; }

  // Progress to 0 and, when a file is chosen, the first free output name in the output
  // directory, which enables Start. Stop is disabled.
  void RefreshOutputName();

  // Start was pressed and the file judged (0 qualified, else the string id of the refusal:
  // 481 or 482). Returns the job to run, kNone when refused; the editing controls are
  // disabled while a job runs.
  Job Start(int verdict);
  Job job() const { return job_; }

  // The proposed output path of the current input (the name refreshed with the next free
  // index) as the job that starts now writes it.
  std::string OutputPathForJob();
  // The whole job of the current input for the conversion service: the photo, or the engine
  // call of the `range` (`copy`: recorded already stitched by the camera) with the chosen
  // rotation, quality and codec; its output the first free name in the output directory, picked
  // when it starts (and again when another run took it meanwhile).
  convert::ServiceJob MakeJob(const convert::TrimRange& range, bool copy) const;

  // The engine's progress once a second while a video job runs (ignored once it was
  // stopped: the display shows the stop).
  void OnProgress(const convert::JobProgress& progress);
  // Stop pressed during a video job (nothing for a photo): progress 0, Start enabled.
  void Stop();
  bool stopping() const { return stopping_; }

  // What to tell the user at the end of a job.
  enum class Answer { kNone, kAskOpenOutputDir, kError };
  // The video job ended with the engine's `result`; `cancelled` when Stop or a close
  // cancelled it (nothing is reported then). `closing`: the dialog is going away.
  Answer OnVideoEnded(int result, bool cancelled, bool closing);
  // The photo pipeline returned `result` (0 success).
  Answer OnPhotoEnded(int result);

  const Controls& controls() const { return controls_; }
  const std::string& input_path() const { return input_; }
  bool photo() const { return photo_; }
  const std::string& output_name() const { return output_name_; }
  const std::string& progress_text() const { return progress_text_; }
  const std::string& time_left_text() const { return time_left_text_; }
  float progress() const { return progress_; }
  // The text of the last answer (for kError) in the UI language.
  const std::string& answer_text() const { return answer_text_; }

 private:
  void ShowProgress(float percent);
  void EndJob();

  ExistsFn exists_;
  std::string output_dir_;
  std::string input_;
  bool photo_ = false;
  bool preloaded_ = false;
  int rotation_ = 0;
  int quality_ = 1;
  convert::Codec codec_ = convert::Codec::kH264;
  std::string output_name_;
  Job job_ = Job::kNone;
  bool stopping_ = false;
  Controls controls_;
  float progress_ = 0;
  std::string progress_text_;
  std::string time_left_text_;
  std::string answer_text_;
};

}  // namespace spherolux::dialogs
