// The converter's queue without its window: the order jobs run in, what may change while
// they wait, the names they are promised, the jobs handed to the service, and the summary.
#include "dialogs/converter_queue.h"

#include <gtest/gtest.h>

#include <set>

#include "convert/engine.h"
#include "photo/stitch_photo.h"
#include "ui/strings.h"

namespace spherolux::dialogs {
namespace {

using State = ConverterQueue::State;

ExistsFn In(const std::set<std::string>* files) {
  return [files](const std::string& p) { return files->count(p) != 0; };
}

std::vector<std::string> Inputs(const ConverterQueue& q) {
  std::vector<std::string> inputs;
  for (const auto& e : q.entries()) inputs.push_back(e.input);
  return inputs;
}

// Two files of one name once both proposed NAME_spherolux_0, and a job moved up kept the
// name promised to it below.
TEST(ConverterQueueTest, WaitingJobsArePromisedDistinctFreeNamesInTheirOrder) {
  std::set<std::string> files = {"/out/a_spherolux_0.mp4"};
  ConverterQueue q(In(&files));
  q.SetOutputDir("/out");
  q.Add({"/cam1/a.MP4", "/cam2/a.mov", "/cam/IMG_1.JPG"}, 90, 2);
  ASSERT_EQ(q.entries().size(), 3u);
  EXPECT_EQ(q.entry(0).output, "/out/a_spherolux_1.mp4");
  EXPECT_EQ(q.entry(1).output, "/out/a_spherolux_2.mp4");
  EXPECT_EQ(q.entry(2).output, "/out/IMG_1_spherolux_0.jpg");
  EXPECT_TRUE(q.entry(2).photo);
  EXPECT_EQ(q.entry(1).rotation, 90);
  EXPECT_EQ(q.entry(1).quality, 2);
  EXPECT_EQ(q.StateText(0), "Waiting");

  ASSERT_TRUE(q.Move(1, -1));
  EXPECT_EQ(Inputs(q), (std::vector<std::string>{"/cam2/a.mov", "/cam1/a.MP4", "/cam/IMG_1.JPG"}));
  EXPECT_EQ(q.entry(0).output, "/out/a_spherolux_1.mp4") << "the first to run takes the first free name";
  EXPECT_EQ(q.entry(1).output, "/out/a_spherolux_2.mp4");
  EXPECT_FALSE(q.Move(0, -1));
  EXPECT_FALSE(q.Move(2, 1));
  ASSERT_TRUE(q.Remove(0));
  EXPECT_EQ(q.entry(0).output, "/out/a_spherolux_1.mp4");

  // Without an output folder, beside each input.
  q.SetOutputDir("");
  EXPECT_EQ(q.entry(0).output, "/cam1/a_spherolux_0.mp4");
}

TEST(ConverterQueueTest, JobsRunInListOrderAndOnlyWaitingOnesChange) {
  std::set<std::string> files;
  ConverterQueue q(In(&files));
  q.SetOutputDir("/out/");
  EXPECT_FALSE(q.can_start()) << "nothing to run";
  q.Add({"/cam/a.mp4", "/cam/b.mp4", "/cam/c.jpg"}, 0, 1);
  ASSERT_TRUE(q.SetRange(1, 10, 60, 20000));
  ASSERT_TRUE(q.SetRotation(1, 270));
  ASSERT_TRUE(q.SetQuality(1, 0));
  ASSERT_TRUE(q.SetCodec(1, convert::Codec::kH265));
  ASSERT_TRUE(q.Move(1, -1));  // b runs first
  EXPECT_TRUE(q.can_start());
  ASSERT_TRUE(q.Start());
  EXPECT_FALSE(q.can_start()) << "while it runs";
  ASSERT_EQ(q.Next(), 0);
  EXPECT_EQ(q.entry(0).input, "/cam/b.mp4");
  EXPECT_EQ(q.running_row(), 0);

  // The running job keeps its settings, place and row.
  EXPECT_FALSE(q.editable(0));
  EXPECT_FALSE(q.SetRotation(0, 90));
  EXPECT_FALSE(q.SetRange(0, 0, 100, 20000));
  EXPECT_FALSE(q.SetCodec(0, convert::Codec::kH264));
  EXPECT_FALSE(q.Move(0, 1));
  EXPECT_FALSE(q.Move(1, -1)) << "nothing passes the running job either way it moves";
  EXPECT_FALSE(q.Remove(0));

  // Its engine call: its own range (10-60 % of 20 s), quality Low in H.265, rotation in the
  // job.
  const convert::ServiceJob job = q.MakeJob(0, 99999, false);
  EXPECT_EQ(job.kind, convert::ServiceJob::Kind::kEngine);
  EXPECT_EQ(job.rotation, 270);
  EXPECT_TRUE(job.output.empty()) << "the service picks the free name when it starts";
  EXPECT_EQ(job.output_dir, "/out/");
  const std::vector<std::string>& args = q.entry(0).call.args;
  ASSERT_GE(args.size(), 8u);
  EXPECT_EQ(args[3], "00:00:02.000");
  EXPECT_EQ(args[7], "00:00:10.000");
  EXPECT_EQ(args.size(), 25u) << "Low, and the encoder's name";
  EXPECT_EQ(std::vector<std::string>(args.begin() + 8, args.begin() + 10),
            (std::vector<std::string>{"-c:v", "libx265"}));

  convert::JobProgress p;
  p.percent = 42.6f;
  q.OnProgress(q.entry(0).id, p);
  EXPECT_EQ(q.StateText(0), "Converting 42%");
  q.OnEnded(q.entry(0).id, 0, false, "/out/b_spherolux_0.mp4");
  EXPECT_EQ(q.entry(0).state, State::kDone);
  EXPECT_FALSE(q.editable(0)) << "a done job is not run again";

  // A job without a range from the preview takes the whole length the check measured.
  ASSERT_EQ(q.Next(), 1);
  q.MakeJob(1, 8000, false);
  EXPECT_EQ(q.entry(1).call.args[3], "00:00:00.000");
  EXPECT_EQ(q.entry(1).call.args[7], "00:00:08.000");
  EXPECT_EQ(q.entry(1).call.args[8], "-pix_fmt") << "H.264, as added";
}

// Stop all once let the queue start its next job; the waiting ones must stay unrun.
TEST(ConverterQueueTest, StopAllEndsTheQueueAndStartRunsWhatIsLeft) {
  std::set<std::string> files;
  ConverterQueue q(In(&files));
  q.SetOutputDir("/out/");
  q.Add({"/cam/a.mp4", "/cam/b.mp4", "/cam/c.mp4"}, 0, 1);
  ASSERT_TRUE(q.Start());
  ASSERT_EQ(q.Next(), 0);
  q.OnEnded(q.entry(0).id, CONVERT_ERR_STOPPED, true, "");  // Stop: the queue goes on
  EXPECT_EQ(q.StateText(0), "Stopped");
  ASSERT_EQ(q.Next(), 1);
  q.StopAll();
  q.OnEnded(q.entry(1).id, CONVERT_ERR_STOPPED, true, "");
  EXPECT_EQ(q.Next(), -1);
  EXPECT_FALSE(q.running());
  EXPECT_TRUE(q.stopped_all());
  EXPECT_EQ(q.entry(2).state, State::kWaiting);

  // Start again: the stopped jobs wait again and all three run.
  ASSERT_TRUE(q.can_start());
  ASSERT_TRUE(q.Start());
  EXPECT_FALSE(q.stopped_all());
  int runs = 0;
  for (int row; (row = q.Next()) >= 0; ++runs) q.OnEnded(q.entry(static_cast<size_t>(row)).id, 0, false, "");
  EXPECT_EQ(runs, 3);
  EXPECT_FALSE(q.can_start()) << "all done";
}

TEST(ConverterQueueTest, TheSummaryCountsTheDoneAndNamesEachOtherWithItsCause) {
  std::set<std::string> files;
  ConverterQueue q(In(&files));
  q.SetOutputDir("/out/");
  q.Add({"/cam/a.mp4", "/cam/b.mp4", "/cam/c.jpg", "/cam/d.mp4"}, 0, 1);
  ASSERT_TRUE(q.Start());
  ASSERT_EQ(q.Next(), 0);
  q.OnEnded(q.entry(0).id, 0, false, "/out/a_spherolux_0.mp4");
  ASSERT_EQ(q.Next(), 1);
  q.OnEnded(q.entry(1).id, CONVERT_ERR_DISK_FULL, false, "/out/b_spherolux_0.mp4");
  ASSERT_EQ(q.Next(), 2);
  q.OnEnded(q.entry(2).id, kPhotoDamaged, false, "");
  ASSERT_EQ(q.Next(), 3);
  q.OnRefused(q.entry(3).id, "This file is not captured by a qualified camera!");
  EXPECT_EQ(q.Next(), -1);
  EXPECT_FALSE(q.stopped_all());

  EXPECT_EQ(q.StateText(1).rfind("Failed: Open Converter(errno=", 0), 0u) << q.StateText(1);
  int done = -1;
  const std::string summary = q.Summary(&done);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(summary.rfind("1 of 4 files were converted.\n\nNot converted:\nb.mp4: ", 0), 0u) << summary;
  EXPECT_NE(summary.find("The disk is full"), std::string::npos) << summary;
  EXPECT_NE(summary.find("\nc.jpg: Image stitching failed: "), std::string::npos) << summary;
  EXPECT_NE(summary.find("\nd.mp4: This file is not captured by a qualified camera!"), std::string::npos) << summary;
  EXPECT_EQ(summary.find("a.mp4"), std::string::npos) << "the done one is only counted";

  ui::SetUiLanguage(ui::Language::kChinese);
  EXPECT_EQ(q.Summary(&done).rfind("已转换 1 个文件，共 4 个。\n\n未转换：\nb.mp4：", 0), 0u) << q.Summary(&done);
  ui::SetUiLanguage(ui::Language::kEnglish);
}

}  // namespace
}  // namespace spherolux::dialogs
