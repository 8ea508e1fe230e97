#include "convert/client.h"

#include <dlfcn.h>
#include <unistd.h>

#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace spherolux::convert {

bool LoadEngine(const std::string& dir, EngineApi* api, std::string* error) {
  const std::string path = (dir.empty() ? std::string(".") : dir) + "/" + kEngineFileName;
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    if (error) *error = std::string("cannot load ") + path + ": " + dlerror();
    return false;
  }
  EngineApi a;
  a.handle = h;
  bool ok = true;
  auto resolve = [&](auto& fn, const char* name) {
    void* sym = dlsym(h, name);
    if (!sym) {
      ok = false;
      if (error) *error = path + " lacks " + name;
    }
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(sym);
  };
  resolve(a.synth_trans, "synth_trans");
  resolve(a.stop_transcoding, "stop_transcoding");
  resolve(a.setposition_callback, "setposition_callback");
  resolve(a.rescale_csconvert, "rescale_csconvert");
  resolve(a.synth_image, "synth_image");
  if (!ok) {
    dlclose(h);
    return false;
  }
  *api = a;
  return true;
}

std::string ProgramDir() {
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return ".";
  std::string path(buf.data(), size_t(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

int64_t MediaLengthMs(const std::string& path) {
  AVFormatContext* fmt = nullptr;
  av_log_set_level(AV_LOG_QUIET);
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return -1;
  int64_t ms = -1;
  if (avformat_find_stream_info(fmt, nullptr) >= 0 && fmt->duration > 0) ms = fmt->duration / 1000;
  avformat_close_input(&fmt);
  return ms;
}

}  // namespace spherolux::convert
