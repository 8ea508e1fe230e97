// The merge job: the files of a concat list joined by stream copy.
#include <cmath>
#include <fstream>
#include <vector>

#include "av.h"
#include "convert/engine.h"
#include "jobs.h"

namespace spherolux::convert {
namespace {

// Reads "file 'PATH'" lines (LF or CR LF; blank lines and "#" comments skipped). Inside the
// quotes, '\'' stands for one quote, as concat lists write it. Relative paths are relative
// to the list's folder.
bool ReadList(const std::string& list, std::vector<std::string>* files) {
  std::ifstream in(list, std::ios::binary);
  if (!in) return false;
  std::string dir;
  if (auto slash = list.rfind('/'); slash != std::string::npos) dir = list.substr(0, slash + 1);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    size_t p = line.find_first_not_of(" \t");
    if (p == std::string::npos || line[p] == '#') continue;
    if (line.compare(p, 5, "file ") != 0) return false;
    std::string rest = line.substr(p + 5);
    rest.erase(0, rest.find_first_not_of(" \t"));
    std::string path;
    if (!rest.empty() && rest[0] == '\'') {
      size_t i = 1;
      bool closed = false;
      while (i < rest.size()) {
        if (rest[i] == '\'') {
          if (rest.compare(i, 4, "'\\''") == 0) {
            path += '\'';
            i += 4;
            continue;
          }
          closed = true;
          ++i;
          break;
        }
        path += rest[i++];
      }
      if (!closed || i != rest.size()) return false;
    } else {
      path = rest;
    }
    if (path.empty()) return false;
    if (path[0] != '/') path = dir + path;
    files->push_back(path);
  }
  return !files->empty();
}

double ToSeconds(int64_t ts, AVRational tb) { return double(ts) * av_q2d(tb); }

struct Part {
  InputPtr fmt;
  int video = -1, audio = -1;
};

bool SameExtradata(const AVCodecParameters* a, const AVCodecParameters* b) {
  if (a->extradata_size != b->extradata_size) return false;
  return a->extradata_size == 0 || std::equal(a->extradata, a->extradata + a->extradata_size, b->extradata);
}

AVCodecID VideoCodec(const Part& p) { return p.fmt->streams[p.video]->codecpar->codec_id; }

// The parts can be joined by stream copy when the decoders set up for the first part can
// decode every other: same codec and codec setup, frame size, time base, audio format.
bool Compatible(const Part& a, const Part& b) {
  const AVStream* va = a.fmt->streams[a.video];
  const AVStream* vb = b.fmt->streams[b.video];
  const AVCodecParameters* pa = va->codecpar;
  const AVCodecParameters* pb = vb->codecpar;
  if (pa->codec_id != pb->codec_id || pa->width != pb->width || pa->height != pb->height || pa->format != pb->format ||
      av_cmp_q(va->time_base, vb->time_base) != 0 || !SameExtradata(pa, pb))
    return false;
  if ((a.audio < 0) != (b.audio < 0)) return false;
  if (a.audio < 0) return true;
  const AVStream* aa = a.fmt->streams[a.audio];
  const AVStream* ab = b.fmt->streams[b.audio];
  const AVCodecParameters* qa = aa->codecpar;
  const AVCodecParameters* qb = ab->codecpar;
  return qa->codec_id == qb->codec_id && qa->sample_rate == qb->sample_rate &&
         qa->ch_layout.nb_channels == qb->ch_layout.nb_channels && av_cmp_q(aa->time_base, ab->time_base) == 0 &&
         SameExtradata(qa, qb);
}

}  // namespace

int RunMerge(const Job& job, JobContext& ctx) {
  if (CheckInputFile(job.input) == CONVERT_ERR_NOT_A_FILE) return CONVERT_ERR_NOT_A_FILE;
  std::vector<std::string> files;
  if (!ReadList(job.input, &files)) return CONVERT_ERR_MERGE_LIST;
  for (const std::string& file : files) {
    const int rc = CheckInputFile(file);
    if (rc != CONVERT_OK) return rc;
  }
  JobFiles job_files;
  std::vector<std::string> inputs = files;
  inputs.push_back(job.input);
  if (const int rc = job_files.Create(job, inputs); rc != CONVERT_OK) return rc;
  const std::string& raw = job_files.path();

  std::vector<Part> parts(files.size());
  double total_duration = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    AVFormatContext* fmt = avformat_alloc_context();
    if (!fmt) return CONVERT_ERR_NO_MEMORY;
    fmt->interrupt_callback = {&JobContext::Interrupt, &ctx};
    if (avformat_open_input(&fmt, FileUrl(files[i]).c_str(), nullptr, nullptr) < 0)
      return ctx.stopped() ? CONVERT_ERR_STOPPED : CONVERT_ERR_OPEN_INPUT;
    parts[i].fmt.reset(fmt);
    if (avformat_find_stream_info(fmt, nullptr) < 0) return CONVERT_ERR_OPEN_INPUT;
    parts[i].video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (parts[i].video < 0) return CONVERT_ERR_NO_VIDEO;
    int a = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, parts[i].video, nullptr, 0);
    parts[i].audio = a >= 0 ? a : -1;
    if (i > 0 && VideoCodec(parts[0]) != VideoCodec(parts[i])) return CONVERT_ERR_MERGE_CODECS;
    if (i > 0 && !Compatible(parts[0], parts[i])) return CONVERT_ERR_MERGE_MISMATCH;
    total_duration += fmt->duration > 0 ? double(fmt->duration) / AV_TIME_BASE : 0;
  }

  AVFormatContext* oc = nullptr;
  if (avformat_alloc_output_context2(&oc, nullptr, "mp4", raw.c_str()) < 0 || !oc) return CONVERT_ERR_NO_MEMORY;
  OutputPtr out(oc);
  oc->interrupt_callback = {&JobContext::Interrupt, &ctx};
  const Part& first = parts[0];
  AVStream* streams[2] = {nullptr, nullptr};  // video, audio
  const int in_index[2] = {first.video, first.audio};
  for (int k = 0; k < 2; ++k) {
    if (in_index[k] < 0) continue;
    const AVStream* is = first.fmt->streams[in_index[k]];
    if (avformat_query_codec(oc->oformat, is->codecpar->codec_id, FF_COMPLIANCE_NORMAL) != 1)
      return k == 0 ? CONVERT_ERR_CODEC : CONVERT_ERR_AUDIO;
    streams[k] = avformat_new_stream(oc, nullptr);
    if (!streams[k] || avcodec_parameters_copy(streams[k]->codecpar, is->codecpar) < 0) return CONVERT_ERR_NO_MEMORY;
    streams[k]->codecpar->codec_tag = CopiedSampleEntry(is->codecpar);
    streams[k]->time_base = is->time_base;
  }
  if (avio_open2(&oc->pb, FileUrl(raw).c_str(), AVIO_FLAG_WRITE, &oc->interrupt_callback, nullptr) < 0)
    return CONVERT_ERR_CREATE_OUTPUT;
  if (const int r = avformat_write_header(oc, nullptr); r < 0) return WriteError(r);

  // Each part starts where the previous one's video ended (its track's duration), so that
  // the parts of one recording, cut at frame boundaries, join at exactly those instants; a
  // part whose video length is unknown ends at the latest end of its packets. The audio
  // keeps the part's offset, but continues exactly where the previous part's audio ended
  // when it would start less than a millisecond before or after that: a part cut between
  // two audio packets has its first one start that much after its video, and its edit
  // list gives that delay only to the movie's whole millisecond.
  double offset = 0, done = 0;
  double audio_end = NAN;  // where the audio written so far ends
  int64_t last_dts[2] = {INT64_MIN, INT64_MIN};
  PacketPtr pkt = MakePacket();
  for (auto& part : parts) {
    double part_end = offset;
    const double origin = part.fmt->start_time == AV_NOPTS_VALUE ? 0 : double(part.fmt->start_time) / AV_TIME_BASE;
    const double part_duration = part.fmt->duration > 0 ? double(part.fmt->duration) / AV_TIME_BASE : 0;
    const AVStream* video = part.fmt->streams[part.video];
    const int64_t video_start = video->start_time != AV_NOPTS_VALUE ? video->start_time : 0;
    const double video_end =
        video->duration > 0 ? ToSeconds(video_start + video->duration, video->time_base) - origin : 0;
    // A video packet without a duration (the demuxer leaves it out where an edit list
    // shifts the frames) lasts one frame, so that the last one keeps its time on screen.
    const AVRational rate = video->avg_frame_rate.num > 0 ? video->avg_frame_rate : video->r_frame_rate;
    const int64_t frame_ticks = rate.num > 0 && rate.den > 0 ? av_rescale_q(1, av_inv_q(rate), video->time_base) : 0;
    double audio_shift = NAN;  // seconds added to this part's audio times
    // The time an audio packet takes when decoded: its frame, the last one cut at the track's
    // end. (Where an empty edit delays the track, the demuxer gives the last packet a
    // length of its own.)
    const AVStream* sound = part.audio >= 0 ? part.fmt->streams[part.audio] : nullptr;
    const int64_t audio_frame_ticks =
        sound && sound->codecpar->frame_size > 0 && sound->codecpar->sample_rate > 0
            ? av_rescale_q(sound->codecpar->frame_size, {1, sound->codecpar->sample_rate}, sound->time_base)
            : 0;
    const int64_t sound_end = sound && sound->duration > 0 && sound->start_time != AV_NOPTS_VALUE
                                  ? sound->start_time + sound->duration
                                  : INT64_MAX;
    while (true) {
      if (ctx.stopped()) return CONVERT_ERR_STOPPED;
      int r = av_read_frame(part.fmt.get(), pkt.get());
      if (r == AVERROR_EOF || r < 0) break;
      int k = pkt->stream_index == part.video ? 0 : pkt->stream_index == part.audio ? 1 : -1;
      if (k < 0 || !streams[k]) {
        av_packet_unref(pkt.get());
        continue;
      }
      const AVRational tb = part.fmt->streams[pkt->stream_index]->time_base;
      if (k == 0 && pkt->duration <= 0) pkt->duration = frame_ticks;
      if (k == 1 && audio_frame_ticks > 0 && pkt->pts != AV_NOPTS_VALUE && pkt->pts < sound_end)
        pkt->duration = std::min(audio_frame_ticks, sound_end - pkt->pts);
      double shift_seconds = offset - origin;
      if (k == 1 && pkt->pts != AV_NOPTS_VALUE) {
        if (std::isnan(audio_shift)) {
          audio_shift = shift_seconds;
          const double start = double(pkt->pts) * av_q2d(tb) + audio_shift;
          if (std::abs(start - audio_end) < 1e-3) audio_shift += audio_end - start;
        }
        shift_seconds = audio_shift;
      }
      const int64_t shift = llround(shift_seconds / av_q2d(tb));
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += shift;
      if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += shift;
      // Decoding order must keep rising across the joint.
      if (pkt->dts != AV_NOPTS_VALUE) {
        if (pkt->dts <= last_dts[k]) {
          const int64_t fix = last_dts[k] + 1 - pkt->dts;
          pkt->dts += fix;
          if (pkt->pts != AV_NOPTS_VALUE && pkt->pts < pkt->dts) pkt->pts = pkt->dts;
        }
        last_dts[k] = pkt->dts;
      }
      if (pkt->pts != AV_NOPTS_VALUE) {
        const double end = double(pkt->pts + pkt->duration) * av_q2d(tb);
        part_end = std::max(part_end, end);
        if (k == 1) {
          const double decoded_end = double(pkt->pts + std::max(pkt->duration, audio_frame_ticks)) * av_q2d(tb);
          audio_end = std::isnan(audio_end) ? decoded_end : std::max(audio_end, decoded_end);
        }
      }
      if (part_duration > 0 && total_duration > 0) {
        const double t = pkt->pts != AV_NOPTS_VALUE ? double(pkt->pts) * av_q2d(tb) - offset : 0;
        ctx.SetProgress(
            float(std::clamp(100.0 * (done + std::clamp(t, 0.0, part_duration)) / total_duration, 0.0, 99.0)));
      }
      pkt->stream_index = streams[k]->index;
      pkt->pos = -1;
      av_packet_rescale_ts(pkt.get(), tb, streams[k]->time_base);
      if (const int r = av_interleaved_write_frame(oc, pkt.get()); r < 0) return WriteError(r);
    }
    // A part whose packets end well before its index says it does is missing media data.
    if (part_duration > 0 && part_end - offset < part_duration - 0.5) return CONVERT_ERR_DAMAGED_INPUT;
    done += part_duration;
    offset = video_end > 0 ? offset + video_end : part_end;
  }
  if (const int r = av_write_trailer(oc); r < 0) return WriteError(r);
  out.reset();
  // The joined file is what its parts are: carry the first part's spherical metadata.
  return job_files.Finish(SphericalBoxesOf(files[0]), ctx);
}

}  // namespace spherolux::convert
