// A small streaming JSON writer for the CLI's machine-readable output.
//
// Strings are bytes (file names on Linux need not be UTF-8). Well-formed UTF-8 (RFC 3629) is
// written as it is; every byte outside it is written as the lone surrogate escape \udcXX, XX
// the byte, the way Python's "surrogateescape" error handler decodes it, so a reader gets the
// exact bytes back (Python: os.fsencode(json.loads(line)["path"])). RFC 8259 section 8.2
// allows such escapes; the output stays valid UTF-8.
//
//   JsonWriter w;
//   w.BeginObject(); w.Key("path"); w.String(p); w.Key("n"); w.Int(3); w.EndObject();
//   std::puts(w.str().c_str());
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

class JsonWriter {
 public:
  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }

  void Key(std::string_view key) {
    Separate();
    Quote(key);
    out_ += ':';
    after_key_ = true;
  }
  void String(std::string_view s) {
    Separate();
    Quote(s);
  }
  void Int(int64_t v) {
    Separate();
    out_ += std::to_string(v);
  }
  void Bool(bool v) {
    Separate();
    out_ += v ? "true" : "false";
  }
  // Shortest text that reads back as the same float; non-finite values become null.
  void Float(float v) {
    Separate();
    if (!std::isfinite(v)) {
      out_ += "null";
      return;
    }
    char buf[32];
    for (int precision = 6; precision <= 9; ++precision) {
      std::snprintf(buf, sizeof buf, "%.*g", precision, double(v));
      if (std::strtof(buf, nullptr) == v) break;
    }
    out_ += buf;
  }

  const std::string& str() const { return out_; }

 private:
  void Open(char c) {
    Separate();
    out_ += c;
    first_.push_back(true);
  }
  void Close(char c) {
    out_ += c;
    first_.pop_back();
  }
  void Separate() {
    if (after_key_) {
      after_key_ = false;
      return;
    }
    if (!first_.empty()) {
      if (!first_.back()) out_ += ',';
      first_.back() = false;
    }
  }
  // The length of the well-formed UTF-8 sequence at the start of `s` (RFC 3629, table 3-7
  // of Unicode: no overlong forms, no surrogates, nothing above U+10FFFF), or 0.
  static size_t Utf8Sequence(std::string_view s) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned lead = byte(0);
    const size_t n = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    if (n == 0 || s.size() < n) return 0;
    const unsigned lo = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned hi = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (byte(1) < lo || byte(1) > hi) return 0;
    for (size_t i = 2; i < n; ++i)
      if ((byte(i) & 0xC0) != 0x80) return 0;
    return n;
  }

  void Quote(std::string_view s) {
    out_ += '"';
    for (size_t i = 0; i < s.size(); ++i) {
      const auto c = static_cast<unsigned char>(s[i]);
      if (c >= 0x80) {
        if (const size_t n = Utf8Sequence(s.substr(i)); n > 0) {
          out_ += s.substr(i, n);
          i += n - 1;
        } else {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\udc%02x", c);
          out_ += buf;
        }
        continue;
      }
      switch (c) {
        case '"':
          out_ += "\\\"";
          break;
        case '\\':
          out_ += "\\\\";
          break;
        case '\n':
          out_ += "\\n";
          break;
        case '\r':
          out_ += "\\r";
          break;
        case '\t':
          out_ += "\\t";
          break;
        default:
          if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out_ += buf;
          } else {
            out_ += char(c);
          }
      }
    }
    out_ += '"';
  }

  std::string out_;
  std::vector<bool> first_;
  bool after_key_ = false;
};

}  // namespace cli
