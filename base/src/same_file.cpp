#include "base/same_file.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <algorithm>

namespace spherolux {
namespace {

// Runs an ICU function that writes a string into (buffer, capacity) and returns its length:
// once to learn the length, once to fill `out`. False when ICU reports an error (invalid input).
template <typename String, typename Write>
bool Fill(String* out, const Write& write) {
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length = write(nullptr, 0, &status);
  if (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR) return false;
  out->resize(static_cast<size_t>(length));
  status = U_ZERO_ERROR;
  write(out->data(), length, &status);
  return U_SUCCESS(status);
}

bool Decompose(const std::u16string& in, std::u16string* out) {
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
  if (U_FAILURE(status)) return false;
  return Fill(out, [&](UChar* buffer, int32_t capacity, UErrorCode* error) {
    return unorm2_normalize(nfd, in.data(), static_cast<int32_t>(in.size()), buffer, capacity, error);
  });
}

std::string AsciiFolded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

// The folders of `path` from the root down, with symbolic links, "." and ".." resolved, then
// its own name as given; empty when the folder cannot be resolved.
std::vector<std::string> Components(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char resolved[PATH_MAX];
  if (name.empty() || name == "." || name == ".." || !::realpath(dir.c_str(), resolved)) return {};
  std::vector<std::string> parts;
  const std::string_view folder = resolved;
  for (size_t start = 0; start < folder.size();) {
    const size_t end = std::min(folder.find('/', start), folder.size());
    if (end > start) parts.emplace_back(folder.substr(start, end - start));
    start = end + 1;
  }
  parts.push_back(name);
  return parts;
}

// Whether `folder` lists both `a` and `b`: then they are two files. A folder that cannot be
// read tells nothing, and the names are taken for one file.
bool ListsBoth(const std::string& folder, const std::string& a, const std::string& b) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return false;
  bool seen_a = false, seen_b = false;
  while (const dirent* entry = ::readdir(dir)) {
    seen_a = seen_a || a == entry->d_name;
    seen_b = seen_b || b == entry->d_name;
  }
  ::closedir(dir);
  return seen_a && seen_b;
}

// Two existing paths on one file system that reach one file through names that match
// caselessly, component by component.
bool SameFileByName(const std::string& a, const std::string& b) {
  const std::vector<std::string> pa = Components(a), pb = Components(b);
  if (pa.empty() || pa.size() != pb.size()) return false;
  std::string folder;
  for (size_t i = 0; i < pa.size(); ++i) {
    if (pa[i] != pb[i] &&
        (CaselessName(pa[i]) != CaselessName(pb[i]) || ListsBoth(folder.empty() ? "/" : folder, pa[i], pb[i])))
      return false;
    folder += "/" + pa[i];
  }
  return true;
}

}  // namespace

std::string CaselessName(std::string_view name) {
  std::u16string utf16, decomposed, folded, key;
  const bool ok =
      Fill(&utf16,
           [&](UChar* buffer, int32_t capacity, UErrorCode* error) {
             int32_t length = 0;
             u_strFromUTF8(buffer, capacity, &length, name.data(), static_cast<int32_t>(name.size()), error);
             return length;
           }) &&
      Decompose(utf16, &decomposed) &&
      Fill(&folded,
           [&](UChar* buffer, int32_t capacity, UErrorCode* error) {
             return u_strFoldCase(buffer, capacity, decomposed.data(), static_cast<int32_t>(decomposed.size()),
                                  U_FOLD_CASE_DEFAULT, error);
           }) &&
      Decompose(folded, &key);
  std::string utf8;
  if (ok && Fill(&utf8, [&](char* buffer, int32_t capacity, UErrorCode* error) {
        int32_t length = 0;
        u_strToUTF8(buffer, capacity, &length, key.data(), static_cast<int32_t>(key.size()), error);
        return length;
      }))
    return utf8;
  return AsciiFolded(name);
}

bool IsSameFileAsAny(const std::string& path, const std::vector<std::string>& others) {
  for (const std::string& other : others)
    if (other == path) return true;
  struct stat mine;
  if (::stat(path.c_str(), &mine) != 0) return false;
  for (const std::string& other : others) {
    struct stat st;
    if (::stat(other.c_str(), &st) != 0 || st.st_dev != mine.st_dev) continue;
    if (st.st_ino == mine.st_ino || SameFileByName(path, other)) return true;
  }
  return false;
}

}  // namespace spherolux
