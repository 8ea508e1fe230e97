#include "dialogs/converter_queue.h"

#include <cstdio>
#include <set>
#include <utility>

#include "convert/words.h"
#include "dialogs/trim_preview_model.h"
#include "ui/bar_logic.h"
#include "ui/strings.h"

namespace spherolux::dialogs {

ConverterQueue::ConverterQueue(ExistsFn exists) : exists_(std::move(exists)) {}

void ConverterQueue::SetOutputDir(const std::string& dir) {
  output_dir_ = dir;
  if (!output_dir_.empty() && output_dir_.back() != '/') output_dir_ += '/';
  ProposeOutputs();
}

void ConverterQueue::Add(const std::vector<std::string>& paths, int rotation, int quality, convert::Codec codec) {
  for (const std::string& path : paths) {
    Entry e;
    e.id = ++last_id_;
    e.input = path;
    e.photo = ui::IsPhotoPath(path);
    e.rotation = rotation;
    e.quality = quality;
    e.codec = codec;
    entries_.push_back(std::move(e));
  }
  ProposeOutputs();
}

bool ConverterQueue::Remove(size_t row) {
  if (row >= entries_.size() || entries_[row].state == State::kRunning) return false;
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(row));
  ProposeOutputs();
  return true;
}

bool ConverterQueue::Move(size_t row, int step) {
  const size_t to = row + static_cast<size_t>(step);
  if (!editable(row) || (step != -1 && step != 1) || to >= entries_.size()) return false;
  // The running job keeps its row.
  if (entries_[to].state == State::kRunning) return false;
  std::swap(entries_[row], entries_[to]);
  ProposeOutputs();
  return true;
}

bool ConverterQueue::editable(size_t row) const {
  return row < entries_.size() && entries_[row].state != State::kRunning && entries_[row].state != State::kDone;
}

bool ConverterQueue::SetRotation(size_t row, int degrees) {
  if (!editable(row)) return false;
  entries_[row].rotation = degrees;
  return true;
}

bool ConverterQueue::SetQuality(size_t row, int quality) {
  if (!editable(row)) return false;
  entries_[row].quality = quality;
  return true;
}

bool ConverterQueue::SetCodec(size_t row, convert::Codec codec) {
  if (!editable(row)) return false;
  entries_[row].codec = codec;
  return true;
}

bool ConverterQueue::SetRange(size_t row, int low, int high, int64_t length_ms) {
  if (!editable(row)) return false;
  Entry& e = entries_[row];
  e.low = low;
  e.high = high;
  e.length_ms = length_ms > 0 && length_ms != TrimPreviewModel::kUnknownLengthMs ? length_ms : -1;
  return true;
}

bool ConverterQueue::Start() {
  if (running_) return false;
  for (Entry& e : entries_) {
    if (e.state == State::kFailed || e.state == State::kStopped) {
      e.state = State::kWaiting;
      e.percent = 0;
      e.cause.clear();
    }
  }
  ProposeOutputs();
  stop_all_ = false;
  running_ = HasWork();
  return running_;
}

int ConverterQueue::Next() {
  if (!stop_all_) {
    for (size_t row = 0; row < entries_.size(); ++row) {
      if (entries_[row].state != State::kWaiting) continue;
      entries_[row].state = State::kRunning;
      entries_[row].percent = 0;
      entries_[row].remaining_seconds = 0;
      running_ = true;
      return static_cast<int>(row);
    }
  }
  running_ = false;
  return -1;
}

convert::ServiceJob ConverterQueue::MakeJob(size_t row, int64_t fallback_length_ms, bool copy) {
  Entry& e = entries_[row];
  int64_t length = e.length_ms > 0 ? e.length_ms : fallback_length_ms;
  if (length <= 0) length = TrimPreviewModel::kUnknownLengthMs;
  convert::ServiceJob job = ConversionJob(e.input, e.photo, output_dir_, e.rotation, e.quality, e.codec,
                                          convert::RangeFromPercent(e.low, e.high, length), copy);
  if (!e.photo) e.call = job.call(e.output);
  return job;
}

void ConverterQueue::OnProgress(uint64_t id, const convert::JobProgress& progress) {
  const int row = Row(id);
  if (row < 0 || entries_[row].state != State::kRunning) return;
  entries_[row].percent = progress.percent;
  entries_[row].remaining_seconds = progress.remaining_seconds;
}

void ConverterQueue::OnRefused(uint64_t id, const std::string& why) {
  const int row = Row(id);
  if (row < 0) return;
  entries_[row].state = State::kFailed;
  entries_[row].cause = why;
}

void ConverterQueue::OnEnded(uint64_t id, int result, bool stopped, const std::string& output) {
  const int row = Row(id);
  if (row < 0) return;
  Entry& e = entries_[row];
  e.remaining_seconds = 0;
  if (!output.empty()) e.output = output;
  if (stopped) {
    e.state = State::kStopped;
    e.percent = 0;
    e.cause = convert::CauseText(convert::Cause::kStopped, ui::UiLanguage());
  } else if (result == 0) {
    e.state = State::kDone;
    e.percent = 100;
  } else {
    e.state = State::kFailed;
    e.percent = 0;
    e.cause = e.photo ? convert::PhotoFailureText(result, ui::UiLanguage())
                      : convert::VideoFailureText(result, ui::UiLanguage());
  }
  ProposeOutputs();
}

bool ConverterQueue::HasWork() const {
  for (const Entry& e : entries_) {
    if (e.state != State::kDone && e.state != State::kRunning) return true;
  }
  return false;
}

bool ConverterQueue::can_start() const { return !running_ && HasWork(); }

int ConverterQueue::running_row() const {
  for (size_t row = 0; row < entries_.size(); ++row) {
    if (entries_[row].state == State::kRunning) return static_cast<int>(row);
  }
  return -1;
}

int ConverterQueue::Row(uint64_t id) const {
  for (size_t row = 0; row < entries_.size(); ++row) {
    if (entries_[row].id == id) return static_cast<int>(row);
  }
  return -1;
}

std::string ConverterQueue::StateText(size_t row) const {
  const Entry& e = entries_[row];
  switch (e.state) {
    case State::kWaiting:
      return ui::LoadString(ui::kStrQueueWaiting);
    case State::kRunning: {
      char text[96];
      std::snprintf(text, sizeof text, ui::LoadString(ui::kStrQueueConverting), static_cast<int>(e.percent));
      return text;
    }
    case State::kDone:
      return ui::LoadString(ui::kStrQueueDone);
    case State::kFailed:
      return std::string(ui::LoadString(ui::kStrQueueFailed)) + ui::LabelColon(": ") + e.cause;
    case State::kStopped:
      return ui::LoadString(ui::kStrQueueStopped);
  }
  return {};
}

std::string ConverterQueue::Summary(int* done) const {
  *done = 0;
  std::string missed;
  for (const Entry& e : entries_) {
    if (e.state == State::kDone) {
      ++*done;
    } else {
      missed += "\n" + ui::FileNameOf(e.input) + ui::LabelColon(": ") + e.cause;
    }
  }
  char head[160];
  std::snprintf(head, sizeof head, ui::LoadString(ui::kStrQueueSummary), *done, static_cast<int>(entries_.size()));
  std::string text = head;
  if (!missed.empty())
    text += "\n\n" + std::string(ui::LoadString(ui::kStrQueueNotConverted)) + ui::LabelColon(":") + missed;
  return text;
}

void ConverterQueue::ProposeOutputs() {
  // A waiting job gets the first name that is free and not promised to a job above it, as
  // the names are picked when the jobs run one after another.
  std::set<std::string> promised;
  for (Entry& e : entries_) {
    if (e.state == State::kWaiting) {
      // Without an output folder the file goes beside its input, as the service puts it.
      const std::string dir = output_dir_.empty() ? e.input.substr(0, e.input.rfind('/') + 1) : output_dir_;
      e.output = convert::ProposeOutputPath(dir, ui::FileNameOf(e.input), e.photo,
                                            [&](const std::string& p) { return promised.count(p) != 0 || exists_(p); });
    }
    if (e.state == State::kWaiting || e.state == State::kRunning) promised.insert(e.output);
  }
}

}  // namespace spherolux::dialogs
