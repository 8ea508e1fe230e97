#include "base/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testsupport/testsupport.h"

namespace spherolux {
namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(int fd, const std::string& text) {
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

// Each case runs with the unnamed temporary (where the file system has it) and with the
// named one that other file systems get.
class OutputFileTest : public ::testing::TestWithParam<bool> {
 protected:
  OutputOptions Options(bool overwrite = false) const {
    OutputOptions o;
    o.overwrite = overwrite;
    o.named_temporary = GetParam();
    return o;
  }
  testsupport::TempDir dir_{"output-file"};
};

TEST_P(OutputFileTest, AppearsWholeUnderItsNameWithTheUmaskPermissions) {
  struct Umask {
    mode_t old = ::umask(027);
    ~Umask() { ::umask(old); }
  } mask;
  const std::string target = dir_.Path("photo.jpg");
  OutputFile out;
  ASSERT_EQ(out.Create(target, Options()), OutputStatus::kOk);
  WriteAll(out.fd(), "first half ");
  // A writer that takes a path reaches the same file.
  std::ofstream(out.path(), std::ios::binary | std::ios::app) << "second half";
  EXPECT_FALSE(fs::exists(target));  // nothing under the name until it is complete
  EXPECT_EQ(Entries(dir_.path()).size(), GetParam() ? 1u : 0u);
  ASSERT_EQ(out.Publish(), OutputStatus::kOk);
  EXPECT_EQ(Read(target), "first half second half");
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries(dir_.path()), std::vector<std::string>{"photo.jpg"});
}

TEST_P(OutputFileTest, NeverReplacesAFileUnlessAskedTo) {
  const std::string target = dir_.Path("clip.mp4");
  dir_.Write("clip.mp4", std::string("theirs"));
  OutputFile out;
  EXPECT_EQ(out.Create(target, Options()), OutputStatus::kExists);

  // A file that appears while the output is written stays as it is.
  fs::remove(target);
  ASSERT_EQ(out.Create(target, Options()), OutputStatus::kOk);
  WriteAll(out.fd(), "ours");
  dir_.Write("clip.mp4", std::string("theirs"));
  EXPECT_EQ(out.Publish(), OutputStatus::kExists);
  EXPECT_EQ(Read(target), "theirs");
  EXPECT_EQ(Entries(dir_.path()), std::vector<std::string>{"clip.mp4"});

  // Asked to overwrite, it replaces the file in one step.
  ASSERT_EQ(out.Create(target, Options(true)), OutputStatus::kOk);
  WriteAll(out.fd(), "ours");
  ASSERT_EQ(out.Publish(), OutputStatus::kOk);
  EXPECT_EQ(Read(target), "ours");
  EXPECT_EQ(Entries(dir_.path()), std::vector<std::string>{"clip.mp4"});
}

TEST_P(OutputFileTest, AnInputThatChangesBeforePublishFailsTheOutput) {
  const std::string input = dir_.Write("in.jpg", std::string("photo")), target = dir_.Path("out.jpg");
  dir_.Write("out.jpg", std::string("theirs"));
  OutputOptions options = Options(true);
  options.inputs = {input};
  OutputFile out;
  EXPECT_EQ(out.Create(dir_.path() + "/./in.jpg", options), OutputStatus::kIsInput);

  // Data added to the input while the output is made from it.
  ASSERT_EQ(out.Create(target, options), OutputStatus::kOk);
  WriteAll(out.fd(), "ours");
  std::ofstream(input, std::ios::app) << " and more";
  EXPECT_EQ(out.Publish(), OutputStatus::kInputChanged);
  EXPECT_EQ(Read(target), "theirs");

  // The input replaced by another file of the same size and time.
  ASSERT_EQ(out.Create(target, options), OutputStatus::kOk);
  WriteAll(out.fd(), "ours");
  const std::string other = dir_.Write("other.jpg", Read(input));
  struct stat st;
  ASSERT_EQ(::stat(input.c_str(), &st), 0);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
  ASSERT_EQ(::rename(other.c_str(), input.c_str()), 0);
  EXPECT_EQ(out.Publish(), OutputStatus::kInputChanged);
  EXPECT_EQ(Read(target), "theirs");
  EXPECT_EQ(Read(input), "photo and more");
  std::vector<std::string> names = Entries(dir_.path());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"in.jpg", "out.jpg"}));

  // Unchanged inputs let it through.
  ASSERT_EQ(out.Create(target, options), OutputStatus::kOk);
  WriteAll(out.fd(), "ours");
  EXPECT_EQ(out.Publish(), OutputStatus::kOk);
  EXPECT_EQ(Read(target), "ours");
}

TEST_P(OutputFileTest, DiscardLeavesNothingAndTouchesNothingElse) {
  const std::string target = dir_.Path("out.jpg");
  {
    OutputFile out;
    ASSERT_EQ(out.Create(target, Options()), OutputStatus::kOk);
    WriteAll(out.fd(), "partial");
  }  // destroyed unpublished
  EXPECT_TRUE(Entries(dir_.path()).empty());

  OutputFile out;
  ASSERT_EQ(out.Create(target, Options()), OutputStatus::kOk);
  if (GetParam()) {
    // Someone else's file now has the temporary's name: it is not ours to remove.
    const std::string hidden = out.path();
    ASSERT_EQ(::unlink(hidden.c_str()), 0);
    std::ofstream(hidden) << "someone else's";
    out.Discard();
    EXPECT_EQ(Read(hidden), "someone else's");
  } else {
    out.Discard();
    EXPECT_TRUE(Entries(dir_.path()).empty());
  }
  EXPECT_EQ(out.fd(), -1);
}

TEST_P(OutputFileTest, LongNamesKeepTheirTemporaryWithinTheLimit) {
  // 255 bytes of three-byte characters: the hidden name has room for 247 bytes of it,
  // which would split a character, so it keeps 245.
  std::string name = "ab";
  while (name.size() + 3 <= 251) name += "\xE5\x9B\xBE";  // 图
  name += ".jpg";
  ASSERT_EQ(name.size(), 255u);
  OutputFile out;
  ASSERT_EQ(out.Create(dir_.Path(name), Options()), OutputStatus::kOk) << std::strerror(out.error());
  if (GetParam()) {
    const std::string hidden = fs::path(out.path()).filename().string();
    EXPECT_EQ(hidden.size(), 1 + 245 + 7u);
    EXPECT_EQ(hidden.substr(1, 245), name.substr(0, 245));
  }
  ASSERT_EQ(out.Publish(), OutputStatus::kOk);
  EXPECT_TRUE(fs::exists(dir_.Path(name)));

  EXPECT_EQ(out.Create(dir_.Path(std::string(256, 'x')), Options()), OutputStatus::kCannotCreate);
  EXPECT_EQ(out.error(), ENAMETOOLONG);
}

TEST_P(OutputFileTest, ReportsAFolderThatTakesNoFile) {
  OutputFile out;
  EXPECT_EQ(out.Create(dir_.Path("missing/out.mp4"), Options()), OutputStatus::kCannotCreate);
  EXPECT_EQ(out.error(), ENOENT);
  // A folder in the way of the name cannot be replaced.
  fs::create_directory(dir_.Path("taken"));
  ASSERT_EQ(out.Create(dir_.Path("taken"), Options(true)), OutputStatus::kOk);
  EXPECT_EQ(out.Publish(), OutputStatus::kCannotCreate);
  EXPECT_TRUE(fs::is_directory(dir_.Path("taken")));
  EXPECT_EQ(Entries(dir_.path()), std::vector<std::string>{"taken"});
}

TEST_P(OutputFileTest, AClaimHoldsTheNameUntilItsFileTakesItsPlace) {
  const std::string target = dir_.Path("IMG_spherolux_0.jpg");
  OutputOptions claim = Options();
  claim.claim = true;
  OutputFile first;
  ASSERT_EQ(first.Create(target, claim), OutputStatus::kOk);
  EXPECT_TRUE(fs::exists(target)) << "the name is taken at once";
  // A second run choosing the same name finds it taken.
  OutputFile second;
  EXPECT_EQ(second.Create(target, claim), OutputStatus::kExists);
  WriteAll(first.fd(), "panorama");
  ASSERT_EQ(first.Publish(), OutputStatus::kOk);
  EXPECT_EQ(Read(target), "panorama");
  EXPECT_EQ(Entries(dir_.path()), std::vector<std::string>{"IMG_spherolux_0.jpg"});

  // Given up, the claim goes with the temporary.
  const std::string other = dir_.Path("IMG_spherolux_1.jpg");
  {
    OutputFile dropped;
    ASSERT_EQ(dropped.Create(other, claim), OutputStatus::kOk);
    WriteAll(dropped.fd(), "half");
  }
  EXPECT_EQ(Entries(dir_.path()), std::vector<std::string>{"IMG_spherolux_0.jpg"});

  // A file put in the claim's place meanwhile is neither replaced nor removed.
  OutputFile raced;
  ASSERT_EQ(raced.Create(other, claim), OutputStatus::kOk);
  WriteAll(raced.fd(), "ours");
  ASSERT_EQ(::unlink(other.c_str()), 0);
  dir_.Write("IMG_spherolux_1.jpg", std::string("theirs"));
  EXPECT_EQ(raced.Publish(), OutputStatus::kExists);
  EXPECT_EQ(Read(other), "theirs");
  raced.Discard();
  EXPECT_EQ(Read(other), "theirs");
  EXPECT_EQ(Entries(dir_.path()).size(), 2u);
}

TEST_P(OutputFileTest, ASignalHandlerRemovesClaimsAndTemporaries) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGTERM, [](int) {
      DiscardOutputFilesOnSignal();
      ::_exit(143);
    });
    OutputFile out;
    OutputOptions claim = Options();
    claim.claim = true;
    if (out.Create(dir_.Path("claimed.mp4"), claim) == OutputStatus::kOk) (void)!::write(out.fd(), "data", 4);
    ::raise(SIGTERM);
    ::_exit(1);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 143);
  EXPECT_TRUE(Entries(dir_.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Temporaries, OutputFileTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

TEST(OutputFile, PublishesOnAMemoryCard) {
  // FAT through FUSE renames only by replacing and has no hard links.
  const testsupport::FatMount card;
  if (!card.missing().empty()) GTEST_SKIP() << card.missing();
  ASSERT_FALSE(card.path().empty());
  const std::string target = card.path() + "/out.jpg";
  OutputFile out;
  ASSERT_EQ(out.Create(target), OutputStatus::kOk);
  WriteAll(out.fd(), "ours");
  EXPECT_EQ(out.Publish(), OutputStatus::kOk);
  EXPECT_EQ(Read(target), "ours");
  ASSERT_EQ(::unlink(target.c_str()), 0);

  // A file that takes the name meanwhile, in whatever case, stays.
  ASSERT_EQ(out.Create(target), OutputStatus::kOk);
  WriteAll(out.fd(), "ours");
  std::ofstream(card.path() + "/OUT.JPG") << "theirs";
  EXPECT_EQ(out.Publish(), OutputStatus::kExists);
  EXPECT_EQ(Read(target), "theirs");
  EXPECT_EQ(Entries(card.path()), std::vector<std::string>{"OUT.JPG"});
}

TEST(OutputFile, AKilledWriterLeavesNothingBehind) {
  testsupport::TempDir dir("output-file-kill");
  {
    OutputFile probe;
    ASSERT_EQ(probe.Create(dir.Path("probe")), OutputStatus::kOk);
    if (probe.path().rfind("/proc/", 0) != 0) GTEST_SKIP() << "this file system has no unnamed temporary files";
  }
  const pid_t child = ::fork();
  if (child == 0) {
    OutputFile out;
    if (out.Create(dir.Path("video.mp4")) == OutputStatus::kOk) (void)!::write(out.fd(), "data", 4);
    ::raise(SIGKILL);
    ::_exit(1);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_TRUE(Entries(dir.path()).empty());
}

}  // namespace
}  // namespace spherolux
