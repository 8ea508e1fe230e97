#include "media/vlc_api.h"

#include <dlfcn.h>

#include <cstring>

namespace spherolux::media {
namespace {

void* Open(const char* library, std::string* error) {
  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    *error = std::string("cannot load ") + library + (why != nullptr ? std::string(": ") + why : std::string());
  }
  return handle;
}

}  // namespace

VlcApi::~VlcApi() {
  if (vlc_ != nullptr) dlclose(vlc_);
  if (core_ != nullptr) dlclose(core_);
}

void VlcApi::Load(const char* vlc_library, const char* core_library) {
  if (vlc_ == nullptr) {
    vlc_name_ = vlc_library;
    vlc_ = Open(vlc_library, &vlc_error_);
  }
  if (core_ == nullptr) {
    core_name_ = core_library;
    core_ = Open(core_library, &core_error_);
  }
  for (int i = 0; i < kVlcNameCount; ++i) {
    void* library = kVlcNames[i].library == VlcLibrary::kVlc ? vlc_ : core_;
    entries_[i] = library != nullptr ? dlsym(library, kVlcNames[i].name) : nullptr;
  }
}

void* VlcApi::Find(const char* name) const {
  for (int i = 0; i < kVlcNameCount; ++i) {
    if (std::strcmp(kVlcNames[i].name, name) == 0) return entries_[i];
  }
  return nullptr;
}

std::string VlcApi::MissingFor(std::initializer_list<const char*> names) const {
  for (const char* name : names) {
    if (Find(name) != nullptr) continue;
    for (const VlcName& known : kVlcNames) {
      if (std::strcmp(known.name, name) != 0) continue;
      const bool core = known.library == VlcLibrary::kCore;
      const std::string& load_error = core ? core_error_ : vlc_error_;
      if (!load_error.empty()) return load_error;
      return (core ? core_name_ : vlc_name_) + " lacks " + name;
    }
    return std::string("the media engine table has no entry ") + name;
  }
  return {};
}

}  // namespace spherolux::media
