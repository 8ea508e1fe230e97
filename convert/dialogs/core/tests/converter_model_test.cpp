// The converter's rules without its window: output names, which controls a job leaves
// enabled, the progress texts, and what the user is told at the end.
#include "dialogs/converter_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "convert/client.h"
#include "convert/words.h"
#include "photo/stitch_photo.h"
#include "ui/strings.h"

namespace spherolux::dialogs {
namespace {

using Job = ConverterModel::Job;
using Answer = ConverterModel::Answer;

// A folder that holds exactly the given files.
struct Folder {
  std::set<std::string> files;
  ExistsFn Exists() {
    return [this](const std::string& p) { return files.count(p) != 0; };
  }
};

TEST(ConverterModelTest, ChoosingAFileProposesTheFirstFreeNameAndEnablesStart) {
  Folder folder;
  folder.files = {"/out/VID_0001_spherolux_0.mp4"};
  ConverterModel m(folder.Exists());
  m.SetOutputDir("/out");
  EXPECT_EQ(m.output_dir(), "/out/");
  EXPECT_FALSE(m.controls().start) << "no file yet";
  ASSERT_TRUE(m.ChooseFile("/cam/VID_0001.MP4"));
  EXPECT_FALSE(m.photo());
  EXPECT_EQ(m.output_name(), "VID_0001_spherolux_1.mp4");
  EXPECT_TRUE(m.controls().start);
  EXPECT_FALSE(m.controls().stop);
  // Photos by their name, whatever the letter case.
  ASSERT_TRUE(m.ChooseFile("/cam/IMG_0002.JPG"));
  EXPECT_TRUE(m.photo());
  EXPECT_EQ(m.output_name(), "IMG_0002_spherolux_0.jpg");
  EXPECT_EQ(m.OutputPathForJob(), "/out/IMG_0002_spherolux_0.jpg");
}

TEST(ConverterModelTest, AVideoJobLocksTheEditingControlsUntilItEnds) {
  Folder folder;
  ConverterModel m(folder.Exists());
  m.SetOutputDir("/out/");
  m.ChooseFile("/cam/clip.MOV");
  EXPECT_EQ(m.output_name(), "clip_spherolux_0.mp4");

  EXPECT_EQ(m.Start(kNotQualified), Job::kNone);
  EXPECT_TRUE(m.controls().editing);
  EXPECT_EQ(m.Start(kQualified), Job::kVideo);
  EXPECT_FALSE(m.controls().start);
  EXPECT_TRUE(m.controls().stop);
  EXPECT_FALSE(m.controls().editing);
  // A file chosen meanwhile is dropped.
  EXPECT_FALSE(m.ChooseFile("/cam/other.mp4"));
  EXPECT_EQ(m.input_path(), "/cam/clip.MOV");

  convert::JobProgress p;
  p.percent = 37.25f;
  p.remaining_seconds = 65;
  m.OnProgress(p);
  EXPECT_EQ(m.progress_text(), "Progress:37.25% ");
  EXPECT_EQ(m.time_left_text(), "Time Left:00:01:05");

  // Success: 100 %, Start stays off until the name is refreshed, and the user is asked about
  // the output directory.
  folder.files.insert("/out/clip_spherolux_0.mp4");
  EXPECT_EQ(m.OnVideoEnded(0, false, false), Answer::kAskOpenOutputDir);
  EXPECT_EQ(m.progress_text(), "Progress:100% ");
  EXPECT_EQ(m.time_left_text(), "Time Left:00:00:00");
  EXPECT_FALSE(m.controls().start);
  EXPECT_FALSE(m.controls().stop);
  EXPECT_TRUE(m.controls().editing);
  // A change of quality (or rotation, or range) refreshes it: the next free index.
  m.SetQuality(2);
  EXPECT_EQ(m.output_name(), "clip_spherolux_1.mp4");
  EXPECT_TRUE(m.controls().start);
  EXPECT_EQ(m.progress_text(), "Progress:0.00% ");
}

// The codec chosen in the window goes into the engine call of the job, and a change of it
// after a job is done proposes the next name as a change of quality does.
TEST(ConverterModelTest, TheChosenCodecReachesTheJob) {
  Folder folder;
  ConverterModel m(folder.Exists());
  m.SetOutputDir("/out/");
  m.ChooseFile("/cam/clip.mp4");
  const convert::TrimRange range{0, 2000};
  const auto encoder = [&] {
    const std::vector<std::string> args = m.MakeJob(range, false).call("/out/clip_spherolux_0.mp4").args;
    const auto at = std::find(args.begin(), args.end(), "-c:v");
    return at == args.end() ? std::string("default") : *(at + 1);
  };
  EXPECT_EQ(m.codec(), convert::Codec::kH264);
  EXPECT_EQ(encoder(), "default");
  m.SetCodec(convert::Codec::kH265);
  EXPECT_EQ(encoder(), "libx265");
  // Copies stay copies.
  const std::vector<std::string> copy = m.MakeJob(range, true).call("/out/c.mp4").args;
  EXPECT_EQ(std::find(copy.begin(), copy.end(), "-c:v"), copy.end());

  ASSERT_EQ(m.Start(kQualified), Job::kVideo);
  folder.files.insert("/out/clip_spherolux_0.mp4");
  m.OnVideoEnded(0, false, false);
  EXPECT_FALSE(m.controls().start);
  m.SetCodec(convert::Codec::kH264);
  EXPECT_EQ(m.output_name(), "clip_spherolux_1.mp4");
  EXPECT_TRUE(m.controls().start);
  EXPECT_EQ(encoder(), "default");
}

TEST(ConverterModelTest, StopShowsTheStopAtOnceAndIgnoresLateProgress) {
  Folder folder;
  ConverterModel m(folder.Exists());
  m.ChooseFile("/cam/clip.mp4");
  m.Start(kQualified);
  convert::JobProgress p;
  p.percent = 50;
  m.Stop();
  EXPECT_TRUE(m.controls().start);
  EXPECT_FALSE(m.controls().stop);
  EXPECT_FALSE(m.controls().editing) << "until the service has cleaned up";
  m.OnProgress(p);
  EXPECT_EQ(m.progress_text(), "Progress:0.00% ");
  // The cancelled job reports nothing and frees the controls.
  EXPECT_EQ(m.OnVideoEnded(-1, true, false), Answer::kNone);
  EXPECT_TRUE(m.controls().editing);
  EXPECT_TRUE(m.controls().start);
  EXPECT_EQ(m.job(), Job::kNone);
}

TEST(ConverterModelTest, FailuresSayWhatHappened) {
  Folder folder;
  ConverterModel m(folder.Exists());
  m.ChooseFile("/cam/clip.mp4");
  m.Start(kQualified);
  EXPECT_EQ(m.OnVideoEnded(CONVERT_ERR_CREATE_OUTPUT, false, false), Answer::kError);
  EXPECT_TRUE(m.answer_text().starts_with("Failed to create output file.")) << m.answer_text();
  EXPECT_TRUE(m.controls().start) << "a failed job may be started again";
  m.Start(kQualified);
  EXPECT_EQ(m.OnVideoEnded(-5, false, false), Answer::kError);
  EXPECT_TRUE(m.answer_text().starts_with("Open Converter(errno=-5)")) << m.answer_text();
  EXPECT_EQ(m.progress_text(), "Progress:0.00% ");
  // A full disk reads as such, not as a bare engine code.
  m.Start(kQualified);
  m.OnVideoEnded(CONVERT_ERR_DISK_FULL, false, false);
  EXPECT_NE(m.answer_text().find("disk is full"), std::string::npos) << m.answer_text();

  convert::InputCheck check;
  check.verdict = kAlreadyStitched;
  EXPECT_EQ(convert::RefusalText(check, ui::Language::kEnglish), "This file is already stitched!");
  check.verdict = kNotQualified;
  EXPECT_EQ(convert::RefusalText(check, ui::Language::kEnglish), "This file is not captured by a qualified camera!");

  // A photo: Stop stays off during the job; the label tells the result.
  m.ChooseFile("/cam/IMG_1.jpg");
  EXPECT_EQ(m.Start(kQualified), Job::kPhoto);
  EXPECT_FALSE(m.controls().stop);
  m.Stop();
  EXPECT_EQ(m.job(), Job::kPhoto);
  EXPECT_EQ(m.OnPhotoEnded(1001), Answer::kError);
  EXPECT_TRUE(m.answer_text().starts_with("Image stitching failed")) << m.answer_text();
  m.Start(kQualified);
  m.OnPhotoEnded(kPhotoDiskFull);
  EXPECT_NE(m.answer_text().find("disk is full"), std::string::npos) << m.answer_text();
  EXPECT_EQ(m.progress_text(), "Image stitching failed");
  EXPECT_TRUE(m.controls().start);
  m.Start(kQualified);
  EXPECT_EQ(m.OnPhotoEnded(0), Answer::kAskOpenOutputDir);
  EXPECT_EQ(m.progress_text(), "Image stitching done");
  EXPECT_FALSE(m.controls().start);
}

TEST(ConverterModelTest, TextsFollowTheUserInterfaceLanguage) {
  ui::SetUiLanguage(ui::Language::kChinese);
  Folder folder;
  ConverterModel m(folder.Exists());
  m.ChooseFile("/cam/clip.mp4");
  m.Start(kQualified);
  m.OnVideoEnded(-5, false, false);
  const std::string progress = m.progress_text();
  const std::string error = m.answer_text();
  // The cause is told in the same language as the headline.
  m.Start(kQualified);
  m.OnVideoEnded(CONVERT_ERR_DISK_FULL, false, false);
  const std::string disk_full = m.answer_text();
  ui::SetUiLanguage(ui::Language::kEnglish);
  EXPECT_EQ(progress, "进度：0.00% ");
  EXPECT_TRUE(error.starts_with("打开转换器(errno=-5)")) << error;
  EXPECT_NE(disk_full.find("磁盘已满"), std::string::npos) << disk_full;
}

}  // namespace
}  // namespace spherolux::dialogs
