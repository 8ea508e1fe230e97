#include "reframe/view_path.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "base/input_file.h"

namespace spherolux::reframe {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRad = kPi / 180.0;

using Vec = std::array<double, 3>;

Quaternion Multiply(const Quaternion& a, const Quaternion& b) {
  return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
          a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

Quaternion Conjugate(const Quaternion& q) { return {q.w, -q.x, -q.y, -q.z}; }

double Dot(const Quaternion& a, const Quaternion& b) { return a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z; }

Quaternion Negated(const Quaternion& q) { return {-q.w, -q.x, -q.y, -q.z}; }

// The half-angle vector of a unit quaternion (the shorter way round).
Vec Log(Quaternion q) {
  if (q.w < 0) q = Negated(q);
  const double s = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
  if (s < 1e-12) return {0, 0, 0};
  const double k = std::atan2(s, q.w) / s;
  return {q.x * k, q.y * k, q.z * k};
}

Quaternion Exp(const Vec& v) {
  const double a = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (a < 1e-12) return {1, v[0], v[1], v[2]};
  const double k = std::sin(a) / a;
  return {std::cos(a), v[0] * k, v[1] * k, v[2] * k};
}

Vec Scaled(const Vec& v, double k) { return {v[0] * k, v[1] * k, v[2] * k}; }

Quaternion Slerp(const Quaternion& a, Quaternion b, double s) {
  if (Dot(a, b) < 0) b = Negated(b);
  return Multiply(a, Exp(Scaled(Log(Multiply(Conjugate(a), b)), s)));
}

Quaternion AxisAngle(double x, double y, double z, double radians) {
  const double s = std::sin(radians / 2);
  return {std::cos(radians / 2), x * s, y * s, z * s};
}

// ---- A small JSON reader that knows the line of every value ----

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  int line = 1;
  double number = 0;
  bool boolean = false;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> fields;
};

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  bool Document(Json* out) {
    if (!Value(out, 0)) return false;
    Skip();
    return pos_ == s_.size() || Fail("text after the end of the document");
  }
  const std::string& error() const { return error_; }

 private:
  bool Fail(const std::string& what) {
    if (error_.empty()) error_ = "line " + std::to_string(line_) + ": " + what;
    return false;
  }
  void Skip() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r' || s_[pos_] == '\n')) {
      if (s_[pos_] == '\n') ++line_;
      ++pos_;
    }
  }
  bool Literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) return Fail("unexpected text");
    pos_ += word.size();
    return true;
  }
  bool String(std::string* out) {
    ++pos_;  // the opening quote
    while (pos_ < s_.size() && s_[pos_] != '"') {
      char c = s_[pos_++];
      if (c == '\n') return Fail("a line break inside a string");
      if (c == '\\') {
        if (pos_ >= s_.size()) break;
        c = s_[pos_++];
        if (c == 'u') {  // kept as written: names and numbers are all this file needs
          out->append("\\u");
          continue;
        }
        c = c == 'n' ? '\n' : c == 't' ? '\t' : c;
      }
      out->push_back(c);
    }
    if (pos_ >= s_.size()) return Fail("a string that does not end");
    ++pos_;
    return true;
  }
  bool Value(Json* out, int depth) {
    if (depth > 32) return Fail("nested too deeply");
    Skip();
    out->line = line_;
    if (pos_ >= s_.size()) return Fail("the text ends where a value was expected");
    const char c = s_[pos_];
    if (c == '{') {
      out->kind = Json::kObject;
      ++pos_;
      Skip();
      if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
      for (;;) {
        Skip();
        if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("a field name in double quotes was expected");
        std::string name;
        if (!String(&name)) return false;
        Skip();
        if (pos_ >= s_.size() || s_[pos_] != ':') return Fail("':' was expected after \"" + name + "\"");
        ++pos_;
        Json value;
        if (!Value(&value, depth + 1)) return false;
        out->fields[name] = std::move(value);
        Skip();
        if (pos_ < s_.size() && s_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
        return Fail("',' or '}' was expected");
      }
    }
    if (c == '[') {
      out->kind = Json::kArray;
      ++pos_;
      Skip();
      if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
      for (;;) {
        Json value;
        if (!Value(&value, depth + 1)) return false;
        out->items.push_back(std::move(value));
        Skip();
        if (pos_ < s_.size() && s_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
        return Fail("',' or ']' was expected");
      }
    }
    if (c == '"') {
      out->kind = Json::kString;
      return String(&out->text);
    }
    if (c == 't' || c == 'f') {
      out->kind = Json::kBool;
      out->boolean = c == 't';
      return Literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') return Literal("null");
    const std::string rest(s_.substr(pos_, 64));
    char* end = nullptr;
    out->number = std::strtod(rest.c_str(), &end);
    if (end == rest.c_str() || !std::isfinite(out->number)) return Fail("a value was expected");
    out->kind = Json::kNumber;
    pos_ += static_cast<size_t>(end - rest.c_str());
    return true;
  }

  std::string_view s_;
  size_t pos_ = 0;
  int line_ = 1;
  std::string error_;
};

// The key's problem, or empty.
std::string Check(const ViewKey& k) {
  if (!std::isfinite(k.t) || !std::isfinite(k.yaw) || !std::isfinite(k.roll)) return "a value is not a number";
  if (!(k.pitch >= -90 && k.pitch <= 90)) return "pitch must lie within -90..90";
  if (!(k.fov >= 1 && k.fov <= 170)) return "fov must lie within 1..170";
  return {};
}

// The velocity at a keyframe from its two chords (per second), weighted by the other's
// interval: the derivative of the parabola through the three keyframes.
template <typename T>
T Blend(const T& before, double d_before, const T& after, double d_after) {
  const double k = 1.0 / (d_before + d_after);
  if constexpr (std::is_same_v<T, double>) {
    return (before * d_after + after * d_before) * k;
  } else {
    return {(before[0] * d_after + after[0] * d_before) * k, (before[1] * d_after + after[1] * d_before) * k,
            (before[2] * d_after + after[2] * d_before) * k};
  }
}

}  // namespace

Quaternion RotationOf(double yaw, double pitch, double roll) {
  return Multiply(Multiply(AxisAngle(0, 1, 0, yaw * kRad), AxisAngle(1, 0, 0, -pitch * kRad)),
                  AxisAngle(0, 0, 1, -roll * kRad));
}

Vec RotateToWorld(const Quaternion& q, const Vec& v) {
  const Quaternion r = Multiply(Multiply(q, Quaternion{0, v[0], v[1], v[2]}), Conjugate(q));
  return {r.x, r.y, r.z};
}

void AnglesOf(const Quaternion& q, double* yaw, double* pitch, double* roll) {
  const Vec f = RotateToWorld(q, {0, 0, 1}), up = RotateToWorld(q, {0, 1, 0});
  *yaw = std::atan2(f[0], f[2]) / kRad;
  *pitch = std::asin(std::clamp(f[1], -1.0, 1.0)) / kRad;
  const Quaternion level = RotationOf(*yaw, *pitch, 0);
  const Vec up0 = RotateToWorld(level, {0, 1, 0}), right0 = RotateToWorld(level, {1, 0, 0});
  *roll = std::atan2(up[0] * right0[0] + up[1] * right0[1] + up[2] * right0[2],
                     up[0] * up0[0] + up[1] * up0[1] + up[2] * up0[2]) /
          kRad;
  if (*yaw <= -180) *yaw += 360;
}

bool ViewPath::Set(std::vector<ViewKey> keys, bool ease) {
  if (keys.empty()) return false;
  for (size_t i = 0; i < keys.size(); ++i)
    if (!Check(keys[i]).empty() || (i > 0 && !(keys[i].t > keys[i - 1].t))) return false;
  keys_ = std::move(keys);
  ease_ = ease;
  Prepare();
  return true;
}

void ViewPath::Prepare() {
  const size_t n = keys_.size();
  rotations_.resize(n);
  for (size_t i = 0; i < n; ++i) {
    rotations_[i] = RotationOf(keys_[i].yaw, keys_[i].pitch, keys_[i].roll);
    if (i > 0 && Dot(rotations_[i - 1], rotations_[i]) < 0) rotations_[i] = Negated(rotations_[i]);
  }
  spin_.assign(n, Vec{0, 0, 0});
  fov_rate_.assign(n, 0);
  for (size_t i = 0; i < n; ++i) {
    Vec before{}, after{};
    double fov_before = 0, fov_after = 0, d_before = 0, d_after = 0;
    if (i > 0) {
      d_before = keys_[i].t - keys_[i - 1].t;
      before = Scaled(Log(Multiply(Conjugate(rotations_[i]), rotations_[i - 1])), -1.0 / d_before);
      fov_before = (keys_[i].fov - keys_[i - 1].fov) / d_before;
    }
    if (i + 1 < n) {
      d_after = keys_[i + 1].t - keys_[i].t;
      after = Scaled(Log(Multiply(Conjugate(rotations_[i]), rotations_[i + 1])), 1.0 / d_after);
      fov_after = (keys_[i + 1].fov - keys_[i].fov) / d_after;
    }
    if (i > 0 && i + 1 < n) {
      spin_[i] = Blend(before, d_before, after, d_after);
      fov_rate_[i] = Blend(fov_before, d_before, fov_after, d_after);
    } else if (!ease_ && n > 1) {
      spin_[i] = i == 0 ? after : before;
      fov_rate_[i] = i == 0 ? fov_after : fov_before;
    }
  }
}

ViewState ViewPath::At(double t) const {
  ViewState v;
  if (keys_.empty()) return v;
  const size_t n = keys_.size();
  if (!(t > keys_.front().t) || n == 1) {
    v.rotation = rotations_.front();
    v.fov = keys_.front().fov;
  } else if (t >= keys_.back().t) {
    v.rotation = rotations_.back();
    v.fov = keys_.back().fov;
  } else {
    const size_t i = static_cast<size_t>(
        std::upper_bound(keys_.begin(), keys_.end(), t, [](double a, const ViewKey& k) { return a < k.t; }) -
        keys_.begin() - 1);
    const double d = keys_[i + 1].t - keys_[i].t, s = (t - keys_[i].t) / d;
    // A cubic Bézier on the sphere of rotations, by de Casteljau with slerp.
    const Quaternion c0 = rotations_[i], c3 = rotations_[i + 1];
    const Quaternion c1 = Multiply(c0, Exp(Scaled(spin_[i], d / 3))),
                     c2 = Multiply(c3, Exp(Scaled(spin_[i + 1], -d / 3)));
    const Quaternion a = Slerp(c0, c1, s), b = Slerp(c1, c2, s), c = Slerp(c2, c3, s);
    v.rotation = Slerp(Slerp(a, b, s), Slerp(b, c, s), s);
    // The field of view: the cubic Hermite curve with the same rates.
    const double f0 = keys_[i].fov, f1 = keys_[i + 1].fov, m0 = fov_rate_[i] * d, m1 = fov_rate_[i + 1] * d;
    const double s2 = s * s, s3 = s2 * s;
    v.fov = (2 * s3 - 3 * s2 + 1) * f0 + (s3 - 2 * s2 + s) * m0 + (-2 * s3 + 3 * s2) * f1 + (s3 - s2) * m1;
  }
  AnglesOf(v.rotation, &v.yaw, &v.pitch, &v.roll);
  return v;
}

bool ViewPath::Parse(std::string_view text, ViewPath* out, std::string* error) {
  Reader reader(text);
  Json doc;
  if (!reader.Document(&doc)) {
    *error = reader.error();
    return false;
  }
  const auto fail = [error](int line, const std::string& what) {
    *error = "line " + std::to_string(line) + ": " + what;
    return false;
  };
  if (doc.kind != Json::kObject) return fail(doc.line, "the file must hold one object");
  const auto keyframes = doc.fields.find("keyframes");
  if (keyframes == doc.fields.end() || keyframes->second.kind != Json::kArray || keyframes->second.items.empty())
    return fail(doc.line, "\"keyframes\" must be a list of at least one keyframe");
  bool ease = false;
  if (const auto e = doc.fields.find("ease"); e != doc.fields.end()) {
    if (e->second.kind != Json::kBool) return fail(e->second.line, "\"ease\" must be true or false");
    ease = e->second.boolean;
  }
  std::vector<ViewKey> keys;
  for (const Json& item : keyframes->second.items) {
    if (item.kind != Json::kObject) return fail(item.line, "a keyframe must be an object");
    ViewKey k;
    const std::pair<const char*, double*> fields[] = {
        {"t", &k.t}, {"yaw", &k.yaw}, {"pitch", &k.pitch}, {"roll", &k.roll}, {"fov", &k.fov}};
    for (const auto& [name, value] : fields) {
      const auto f = item.fields.find(name);
      if (f == item.fields.end()) {
        if (std::string_view(name) == "t" || std::string_view(name) == "yaw" || std::string_view(name) == "pitch")
          return fail(item.line, std::string("the keyframe has no \"") + name + "\"");
        continue;
      }
      if (f->second.kind != Json::kNumber)
        return fail(f->second.line, std::string("\"") + name + "\" must be a number");
      *value = f->second.number;
    }
    if (const std::string problem = Check(k); !problem.empty()) return fail(item.line, problem);
    if (!keys.empty() && !(k.t > keys.back().t)) return fail(item.line, "\"t\" must be later than the keyframe before");
    keys.push_back(k);
  }
  out->Set(std::move(keys), ease);
  return true;
}

bool ViewPath::ReadFile(const std::string& file, ViewPath* out, std::string* error) {
  constexpr size_t kLimit = 16u << 20;
  std::string text;
  std::FILE* f = InputStateOf(file) == InputState::kReadable ? std::fopen(file.c_str(), "rb") : nullptr;
  bool read = f != nullptr;
  if (f != nullptr) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() <= kLimit) text.append(buffer, n);
    read = !std::ferror(f) && text.size() <= kLimit;
    std::fclose(f);
  }
  if (!read) {
    *error = "cannot be read";
    return false;
  }
  return Parse(text, out, error);
}

std::string ViewPath::ToJson() const {
  std::string s = "{\"keyframes\": [\n";
  char line[200];
  for (size_t i = 0; i < keys_.size(); ++i) {
    const ViewKey& k = keys_[i];
    std::snprintf(line, sizeof line,
                  "  {\"t\": %.17g, \"yaw\": %.17g, \"pitch\": %.17g, \"roll\": %.17g, \"fov\": %.17g}%s\n", k.t, k.yaw,
                  k.pitch, k.roll, k.fov, i + 1 < keys_.size() ? "," : "");
    s += line;
  }
  s += std::string("], \"ease\": ") + (ease_ ? "true" : "false") + "}\n";
  return s;
}

}  // namespace spherolux::reframe
