// The media engine's function table: libvlc.so.5 and libvlccore.so.9 loaded with dlopen and
// every name of kVlcNames resolved with dlsym, in that order. Nothing is linked at build
// time; <vlc/vlc.h> only lends the types.
//
// Names this build of libvlc lacks stay null (libvlc 3 has no stream recording, no
// libvlc_get_input_thread and no media "arc" calls). Nothing is checked at load time; a
// caller asks MissingFor() before it relies on an entry, and never calls a null one.
//
// Each CMediaPlayer owns one table (the libraries are reference-counted by the loader and
// stay loaded while any table lives). Load on one thread; afterwards the table is read-only
// and may be used from any thread.
#pragma once

#include <vlc/vlc.h>

#include <initializer_list>
#include <iterator>
#include <string>

namespace spherolux::media {

inline constexpr const char* kVlcLibrary = "libvlc.so.5";
inline constexpr const char* kVlcCoreLibrary = "libvlccore.so.9";

enum class VlcLibrary { kVlc, kCore };
struct VlcName {
  VlcLibrary library;
  const char* name;
};

// Resolution order: the engine's own table, then what this platform adds (drawing into an
// X11 window, the player's reference count, the playback statistics and the mute state).
inline constexpr VlcName kVlcNames[] = {
    {VlcLibrary::kVlc, "libvlc_audio_get_volume"},
    {VlcLibrary::kVlc, "libvlc_audio_set_volume"},
    {VlcLibrary::kVlc, "libvlc_event_attach"},
    {VlcLibrary::kVlc, "libvlc_media_new_path"},
    {VlcLibrary::kVlc, "libvlc_media_player_event_manager"},
    {VlcLibrary::kVlc, "libvlc_media_player_get_length"},
    {VlcLibrary::kVlc, "libvlc_media_player_get_position"},
    {VlcLibrary::kVlc, "libvlc_media_player_get_time"},
    {VlcLibrary::kVlc, "libvlc_media_player_is_playing"},
    {VlcLibrary::kVlc, "libvlc_media_player_new_from_media"},
    {VlcLibrary::kVlc, "libvlc_media_player_next_frame"},
    {VlcLibrary::kVlc, "libvlc_media_player_pause"},
    {VlcLibrary::kVlc, "libvlc_media_player_play"},
    {VlcLibrary::kVlc, "libvlc_media_player_release"},
    {VlcLibrary::kVlc, "libvlc_media_player_set_hwnd"},
    {VlcLibrary::kVlc, "libvlc_video_set_format_callbacks"},
    {VlcLibrary::kVlc, "libvlc_video_set_callbacks"},
    {VlcLibrary::kVlc, "libvlc_media_player_set_position"},
    {VlcLibrary::kVlc, "libvlc_media_player_stop"},
    {VlcLibrary::kVlc, "libvlc_media_release"},
    {VlcLibrary::kVlc, "libvlc_new"},
    {VlcLibrary::kVlc, "libvlc_release"},
    {VlcLibrary::kVlc, "libvlc_media_new_location"},
    {VlcLibrary::kVlc, "libvlc_video_set_subtitle_file"},
    {VlcLibrary::kVlc, "libvlc_media_tracks_get"},
    {VlcLibrary::kVlc, "libvlc_media_get_tracks_info"},
    {VlcLibrary::kVlc, "libvlc_media_parse"},
    {VlcLibrary::kVlc, "libvlc_video_get_track_description"},
    {VlcLibrary::kVlc, "libvlc_media_tracks_release"},
    {VlcLibrary::kCore, "vlc_fourcc_GetDescription"},
    {VlcLibrary::kVlc, "libvlc_get_input_thread"},
    {VlcLibrary::kCore, "input_item_IsPreparsed"},
    {VlcLibrary::kVlc, "libvlc_media_get_duration"},
    {VlcLibrary::kCore, "input_item_GetDuration"},
    {VlcLibrary::kVlc, "libvlc_audio_get_channel"},
    {VlcLibrary::kVlc, "libvlc_audio_output_list_get"},
    {VlcLibrary::kVlc, "libvlc_audio_get_track"},
    {VlcLibrary::kVlc, "libvlc_audio_get_track_description"},
    {VlcLibrary::kVlc, "libvlc_audio_get_track_count"},
    {VlcLibrary::kVlc, "libvlc_media_is_parsed"},
    {VlcLibrary::kVlc, "libvlc_media_player_get_fps"},
    {VlcLibrary::kVlc, "libvlc_media_tracks_get_arc"},
    {VlcLibrary::kVlc, "libvlc_video_get_title_description"},
    {VlcLibrary::kVlc, "libvlc_audio_set_mute"},
    {VlcLibrary::kVlc, "libvlc_media_add_option"},
    {VlcLibrary::kVlc, "libvlc_media_player_set_media"},
    {VlcLibrary::kVlc, "libvlc_video_set_format"},
    {VlcLibrary::kVlc, "libvlc_media_player_new"},
    {VlcLibrary::kVlc, "libvlc_video_take_snapshot"},
    {VlcLibrary::kVlc, "libvlc_media_player_is_recordable"},
    {VlcLibrary::kVlc, "libvlc_media_player_is_recording"},
    {VlcLibrary::kVlc, "libvlc_media_player_record_start"},
    {VlcLibrary::kVlc, "libvlc_media_player_record_stop"},
    {VlcLibrary::kVlc, "libvlc_video_get_crop_geometry"},
    {VlcLibrary::kVlc, "libvlc_media_tracks_get_lock"},
    {VlcLibrary::kVlc, "libvlc_video_get_size"},
    {VlcLibrary::kVlc, "libvlc_media_tracks_get_unlock"},
    {VlcLibrary::kCore, "vlc_object_find_name"},
    {VlcLibrary::kVlc, "libvlc_media_get_object_arc"},
    {VlcLibrary::kCore, "config_PutPsz"},
    {VlcLibrary::kCore, "config_GetPsz"},
    {VlcLibrary::kCore, "var_SetChecked"},
    {VlcLibrary::kCore, "input_Control"},
    {VlcLibrary::kCore, "vlc_object_release"},
    // Platform additions.
    {VlcLibrary::kVlc, "libvlc_media_player_set_xwindow"},
    {VlcLibrary::kVlc, "libvlc_media_player_retain"},
    {VlcLibrary::kVlc, "libvlc_media_get_stats"},
    {VlcLibrary::kVlc, "libvlc_audio_get_mute"},
};
inline constexpr int kVlcNameCount = static_cast<int>(std::size(kVlcNames));

class VlcApi {
 public:
  VlcApi() = default;
  ~VlcApi();
  VlcApi(const VlcApi&) = delete;
  VlcApi& operator=(const VlcApi&) = delete;

  // Loads both libraries (by file name, from the loader's search path) and resolves every
  // name. Libraries that do not load leave their names null; the reason is kept for
  // MissingFor.
  void Load(const char* vlc_library = kVlcLibrary, const char* core_library = kVlcCoreLibrary);

  // The resolved address of kVlcNames[index] (null when absent).
  void* entry(int index) const { return entries_[index]; }
  // By name; null when absent or not in the table.
  void* Find(const char* name) const;

  // "" when every one of `names` is present; otherwise a message naming the library that did
  // not load or the first missing entry, e.g. "libvlc.so.5 lacks libvlc_video_set_callbacks".
  std::string MissingFor(std::initializer_list<const char*> names) const;

  // Typed views of the entries the player calls (null when absent).
  decltype(&libvlc_new) new_instance() const { return As<decltype(&libvlc_new)>("libvlc_new"); }
  decltype(&libvlc_release) release_instance() const { return As<decltype(&libvlc_release)>("libvlc_release"); }
  decltype(&libvlc_media_new_path) media_new_path() const {
    return As<decltype(&libvlc_media_new_path)>("libvlc_media_new_path");
  }
  decltype(&libvlc_media_release) media_release() const {
    return As<decltype(&libvlc_media_release)>("libvlc_media_release");
  }
  decltype(&libvlc_media_get_duration) media_get_duration() const {
    return As<decltype(&libvlc_media_get_duration)>("libvlc_media_get_duration");
  }
  decltype(&libvlc_media_get_stats) media_get_stats() const {
    return As<decltype(&libvlc_media_get_stats)>("libvlc_media_get_stats");
  }
  decltype(&libvlc_media_player_new_from_media) player_new_from_media() const {
    return As<decltype(&libvlc_media_player_new_from_media)>("libvlc_media_player_new_from_media");
  }
  decltype(&libvlc_media_player_release) player_release() const {
    return As<decltype(&libvlc_media_player_release)>("libvlc_media_player_release");
  }
  decltype(&libvlc_media_player_retain) player_retain() const {
    return As<decltype(&libvlc_media_player_retain)>("libvlc_media_player_retain");
  }
  decltype(&libvlc_media_player_play) play() const {
    return As<decltype(&libvlc_media_player_play)>("libvlc_media_player_play");
  }
  decltype(&libvlc_media_player_pause) pause() const {
    return As<decltype(&libvlc_media_player_pause)>("libvlc_media_player_pause");
  }
  decltype(&libvlc_media_player_stop) stop() const {
    return As<decltype(&libvlc_media_player_stop)>("libvlc_media_player_stop");
  }
  decltype(&libvlc_media_player_is_playing) is_playing() const {
    return As<decltype(&libvlc_media_player_is_playing)>("libvlc_media_player_is_playing");
  }
  decltype(&libvlc_media_player_get_time) get_time() const {
    return As<decltype(&libvlc_media_player_get_time)>("libvlc_media_player_get_time");
  }
  decltype(&libvlc_media_player_get_length) get_length() const {
    return As<decltype(&libvlc_media_player_get_length)>("libvlc_media_player_get_length");
  }
  decltype(&libvlc_media_player_set_position) set_position() const {
    return As<decltype(&libvlc_media_player_set_position)>("libvlc_media_player_set_position");
  }
  decltype(&libvlc_audio_set_volume) set_volume() const {
    return As<decltype(&libvlc_audio_set_volume)>("libvlc_audio_set_volume");
  }
  decltype(&libvlc_audio_get_volume) get_volume() const {
    return As<decltype(&libvlc_audio_get_volume)>("libvlc_audio_get_volume");
  }
  decltype(&libvlc_audio_set_mute) set_mute() const {
    return As<decltype(&libvlc_audio_set_mute)>("libvlc_audio_set_mute");
  }
  decltype(&libvlc_audio_get_mute) get_mute() const {
    return As<decltype(&libvlc_audio_get_mute)>("libvlc_audio_get_mute");
  }
  decltype(&libvlc_video_set_format_callbacks) set_format_callbacks() const {
    return As<decltype(&libvlc_video_set_format_callbacks)>("libvlc_video_set_format_callbacks");
  }
  decltype(&libvlc_video_set_callbacks) set_callbacks() const {
    return As<decltype(&libvlc_video_set_callbacks)>("libvlc_video_set_callbacks");
  }
  decltype(&libvlc_media_player_set_xwindow) set_xwindow() const {
    return As<decltype(&libvlc_media_player_set_xwindow)>("libvlc_media_player_set_xwindow");
  }
  decltype(&libvlc_media_player_event_manager) event_manager() const {
    return As<decltype(&libvlc_media_player_event_manager)>("libvlc_media_player_event_manager");
  }
  decltype(&libvlc_event_attach) event_attach() const {
    return As<decltype(&libvlc_event_attach)>("libvlc_event_attach");
  }
  decltype(&libvlc_video_get_size) video_get_size() const {
    return As<decltype(&libvlc_video_get_size)>("libvlc_video_get_size");
  }
  decltype(&libvlc_video_take_snapshot) take_snapshot() const {
    return As<decltype(&libvlc_video_take_snapshot)>("libvlc_video_take_snapshot");
  }

 private:
  template <typename Fn>
  Fn As(const char* name) const {
    return reinterpret_cast<Fn>(Find(name));
  }

  void* vlc_ = nullptr;
  void* core_ = nullptr;
  std::string vlc_name_ = kVlcLibrary;
  std::string core_name_ = kVlcCoreLibrary;
  std::string vlc_error_;   // why libvlc did not load
  std::string core_error_;  // why libvlccore did not load
  void* entries_[kVlcNameCount] = {};
};

// The entries every panoramic video open relies on; plain playback (below OpenGL 2.0) needs
// kVlcPlainPlaybackEntries instead of the frame callbacks.
inline constexpr std::initializer_list<const char*> kVlcPlaybackEntries = {
    "libvlc_new",
    "libvlc_release",
    "libvlc_media_new_path",
    "libvlc_media_release",
    "libvlc_media_get_duration",
    "libvlc_media_player_new_from_media",
    "libvlc_media_player_release",
    "libvlc_media_player_retain",
    "libvlc_media_player_play",
    "libvlc_media_player_pause",
    "libvlc_media_player_stop",
    "libvlc_media_player_is_playing",
    "libvlc_media_player_get_time",
    "libvlc_media_player_get_length",
    "libvlc_media_player_set_position",
    "libvlc_audio_set_volume",
    "libvlc_audio_set_mute",
    "libvlc_media_player_event_manager",
    "libvlc_event_attach",
    "libvlc_video_get_size",
    "libvlc_video_take_snapshot",
};
inline constexpr std::initializer_list<const char*> kVlcFrameCallbackEntries = {
    "libvlc_video_set_format_callbacks",
    "libvlc_video_set_callbacks",
};
inline constexpr std::initializer_list<const char*> kVlcPlainPlaybackEntries = {
    "libvlc_media_player_set_xwindow",
};

}  // namespace spherolux::media
