#include "media/media_info.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>

#include "base/input_file.h"

namespace spherolux::media {
namespace {

// MediaInfo's C interface on this platform: wide characters are wchar_t (UTF-32).
using NewFn = void* (*)();
using DeleteFn = void (*)(void*);
using OpenFn = size_t (*)(void*, const wchar_t*);
using CloseFn = void (*)(void*);
using GetFn = const wchar_t* (*)(void*, int, size_t, const wchar_t*, int, int);
using OptionFn = const wchar_t* (*)(void*, const wchar_t*, const wchar_t*);

constexpr int kNameCount = static_cast<int>(std::size(kMediaInfoNames));
constexpr int kInfoText = 1;
constexpr int kSearchByName = 0;

struct Binding {
  std::mutex mutex;
  void* handle = nullptr;  // guarded by mutex; set once, never cleared after a success
  void* names[kNameCount] = {};
  int count = 0;  // guarded by mutex
};

Binding& TheBinding() {
  static Binding binding;
  return binding;
}

template <typename Fn>
Fn Entry(const Binding& b, const char* name) {
  for (int i = 0; i < kNameCount; ++i) {
    if (std::strcmp(kMediaInfoNames[i], name) == 0) return reinterpret_cast<Fn>(b.names[i]);
  }
  return nullptr;
}

// MediaInfo opens files through wcstombs: the C library must speak UTF-8.
void EnsureUtf8Ctype() {
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  if (current != nullptr && std::strcmp(current, "C") == 0) std::setlocale(LC_CTYPE, "");
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr || std::strcmp(codeset, "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
}

// UTF-8 to UTF-32 (RFC 3629); an ill-formed sequence becomes U+FFFD.
std::wstring Widen(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned lead = s[i];
    const int extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : -1;
    bool ok = extra >= 0 && i + static_cast<size_t>(extra) < n;
    char32_t cp = ok ? lead & (0x7Fu >> extra) : 0;
    for (int k = 1; ok && k <= extra; ++k) {
      ok = (s[i + k] & 0xC0) == 0x80;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    ok = ok && cp >= kMin[extra] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    out.push_back(static_cast<wchar_t>(ok ? cp : 0xFFFD));
    i += ok ? static_cast<size_t>(extra) + 1 : 1;
  }
  return out;
}

// UTF-32 to UTF-8; MediaInfo's answers are short texts.
std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) {
    const auto cp = static_cast<char32_t>(*text);
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// The bound library, or null; binds on first use.
const Binding* Bound() {
  Binding& b = TheBinding();
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    if (b.handle != nullptr) return &b;
  }
  return BindMediaInfo() == 1 ? &b : nullptr;
}

// The name MediaInfo is given for `path`. MediaInfo turns wide names back into bytes with the
// C library's UTF-8 conversion, which cannot give back bytes that are not UTF-8 (valid file
// names on Linux): such a file is opened here and named as /proc/self/fd/N, which is ASCII,
// names the very file opened, and leaves nothing behind (a link in a temporary folder would
// outlive a killed process). MediaInfo takes a name with a scheme ("http://...") for a URL and
// fetches it, so every other name is made absolute. The descriptor lives as long as this object.
class MediaInfoName {
 public:
  explicit MediaInfoName(const std::string& path) : name_(AbsolutePath(path)) {
    if (Narrow(Widen(path).c_str()) == path) return;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ >= 0) name_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MediaInfoName() {
    if (fd_ >= 0) ::close(fd_);
  }
  MediaInfoName(const MediaInfoName&) = delete;
  MediaInfoName& operator=(const MediaInfoName&) = delete;
  const std::string& name() const { return name_; }

 private:
  int fd_ = -1;
  std::string name_;
};

// One open file; the answers are copied out at once.
class OpenFile {
 public:
  OpenFile(const Binding& b, const std::string& path) : b_(b), name_(path) {
    handle_ = Entry<NewFn>(b_, "MediaInfo_New")();
    if (handle_ != nullptr && Entry<OpenFn>(b_, "MediaInfo_Open")(handle_, Widen(name_.name()).c_str()) == 0) {
      Entry<DeleteFn>(b_, "MediaInfo_Delete")(handle_);
      handle_ = nullptr;
    }
  }
  ~OpenFile() {
    if (handle_ == nullptr) return;
    Entry<CloseFn>(b_, "MediaInfo_Close")(handle_);
    Entry<DeleteFn>(b_, "MediaInfo_Delete")(handle_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  bool ok() const { return handle_ != nullptr; }
  std::string Get(StreamKind kind, const char* parameter) const {
    if (handle_ == nullptr) return {};
    const wchar_t* answer = Entry<GetFn>(b_, "MediaInfo_Get")(handle_, static_cast<int>(kind), 0,
                                                              Widen(parameter).c_str(), kInfoText, kSearchByName);
    return Narrow(answer);
  }

 private:
  const Binding& b_;
  const MediaInfoName name_;
  void* handle_ = nullptr;
};

// A decimal answer: its integer part, or `fallback` when it is not a number.
int64_t Decimal(const std::string& text, int64_t fallback) {
  if (text.empty()) return fallback;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !std::isfinite(value) || value < 0 || value > 9.0e15) return fallback;
  return static_cast<int64_t>(value);
}

int Dimension(const std::string& text) {
  const int64_t v = Decimal(text, 0);
  return v > 0 && v <= 1 << 20 ? static_cast<int>(v) : 0;
}

}  // namespace

int BindMediaInfo(const char* library) {
  Binding& b = TheBinding();
  std::lock_guard<std::mutex> lock(b.mutex);
  if (b.handle == nullptr) {
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return -1;
    void* names[kNameCount] = {};
    for (int i = 0; i < kNameCount; ++i) {
      names[i] = dlsym(handle, kMediaInfoNames[i]);
      if (names[i] == nullptr) {
        dlclose(handle);
        return -1;
      }
    }
    EnsureUtf8Ctype();
    std::memcpy(b.names, names, sizeof names);
    b.handle = handle;
    // Plain text answers, one line each.
    const OptionFn option = Entry<OptionFn>(b, "MediaInfo_Option");
    option(nullptr, L"CharSet", L"");
    option(nullptr, L"LineSeparator", L"\n");
  }
  ++b.count;
  return 1;
}

int MediaInfoBindCount() {
  Binding& b = TheBinding();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.count;
}

std::string MediaInfoGet(const std::string& path, StreamKind kind, const char* parameter) {
  const Binding* b = Bound();
  if (b == nullptr) return {};
  return OpenFile(*b, path).Get(kind, parameter);
}

MediaFacts ReadMediaFacts(const std::string& path, bool photo) {
  MediaFacts facts;
  const Binding* b = Bound();
  if (b == nullptr) return facts;
  const OpenFile file(*b, path);
  if (!file.ok()) return facts;
  const StreamKind kind = photo ? StreamKind::kImage : StreamKind::kVideo;
  facts.width = Dimension(file.Get(kind, "Width"));
  facts.height = Dimension(file.Get(kind, "Height"));
  if (facts.width == 0 || facts.height == 0) facts.width = facts.height = 0;
  facts.duration_ms = Decimal(file.Get(StreamKind::kGeneral, "Duration"), -1);
  if (!photo) {
    facts.matrix_coefficients = file.Get(kind, "matrix_coefficients");
    facts.colour_range = file.Get(kind, "colour_range");
  }
  return facts;
}

bool MediaFrameSize(const std::string& path, bool photo, int* width, int* height) {
  const MediaFacts facts = ReadMediaFacts(path, photo);
  *width = facts.width;
  *height = facts.height;
  return facts.width > 0;
}

int64_t MediaDurationMs(const std::string& path) {
  const Binding* b = Bound();
  if (b == nullptr) return -1;
  return Decimal(OpenFile(*b, path).Get(StreamKind::kGeneral, "Duration"), -1);
}

}  // namespace spherolux::media
