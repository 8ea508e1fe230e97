// A small streaming JSON writer for the CLI's machine-readable output.
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
  void Quote(std::string_view s) {
    out_ += '"';
    for (unsigned char c : s) {
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
