// MediaInfo binding: frame sizes and media length read by the MediaInfo library
// (libmediainfo.so.0), which is loaded at run time with dlopen and never linked.
//
// The binding is all-or-nothing and process-wide: the library is loaded on first use and
// every one of the kMediaInfoNames is resolved; when the library cannot be loaded or lacks
// any one name it is unloaded again and every query gives an empty answer (sizes 0, length
// -1). Each successful BindMediaInfo counts one user; the library stays loaded for the life
// of the process.
//
// Threads: every function may be called from any thread; the binding is guarded, and each
// query opens its own MediaInfo handle, copies the library's answers (their buffer is reused
// by the next call) and closes the handle before it returns.
//
// Paths are the file system's bytes, UTF-8 or not; a relative one reaches MediaInfo made
// absolute, so that no name is taken for a URL and fetched. MediaInfo turns its wide-character
// paths into file names with the C library's locale, so binding makes sure that LC_CTYPE is a
// UTF-8 locale (the user's own when it is one, C.UTF-8 otherwise); non-ASCII paths fail
// without that. A name that is not UTF-8 cannot pass that way: its file is opened by the
// binding and handed to MediaInfo as /proc/self/fd/N for the length of the query.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>

namespace spherolux::media {

inline constexpr const char* kMediaInfoLibrary = "libmediainfo.so.0";
// The names resolved from the library, in resolution order.
inline constexpr const char* kMediaInfoNames[] = {
    "MediaInfo_New",
    "MediaInfoList_New",
    "MediaInfo_Delete",
    "MediaInfoList_Delete",
    "MediaInfo_Open",
    "MediaInfoList_Open",
    "MediaInfo_Open_Buffer_Init",
    "MediaInfo_Open_Buffer_Continue",
    "MediaInfo_Open_Buffer_Continue_GoTo_Get",
    "MediaInfo_Open_Buffer_Finalize",
    "MediaInfo_Open_NextPacket",
    "MediaInfo_Close",
    "MediaInfoList_Close",
    "MediaInfo_Inform",
    "MediaInfoList_Inform",
    "MediaInfo_Option",
    "MediaInfoList_Option",
    "MediaInfo_GetI",
    "MediaInfoList_GetI",
    "MediaInfo_Get",
    "MediaInfoList_Get",
    "MediaInfo_Output_Buffer_Get",
    "MediaInfo_Output_Buffer_GetI",
    "MediaInfo_State_Get",
    "MediaInfoList_State_Get",
    "MediaInfo_Count_Get",
    "MediaInfoList_Count_Get",
    "MediaInfoList_Count_Get_Files",
};

// 1 when the library is bound (the count of users goes up by one), -1 when `library` cannot
// be loaded or lacks a name (nothing stays loaded). `library` other than the default is
// for tests: a binding that succeeded keeps its library, later calls only count.
int BindMediaInfo(const char* library = kMediaInfoLibrary);
// Number of successful BindMediaInfo calls so far.
int MediaInfoBindCount();

// MediaInfo's stream kinds.
enum class StreamKind : int { kGeneral = 0, kVideo = 1, kAudio = 2, kText = 3, kOther = 4, kImage = 5 };

// One parameter of stream 0 of `kind`, as text ("Width", "Duration", ...). Empty when the
// library is not bound, the file cannot be opened or the parameter is absent.
std::string MediaInfoGet(const std::string& path, StreamKind kind, const char* parameter);

// What the player and the converters ask about a file, read with one MediaInfo handle.
struct MediaFacts {
  int width = 0;             // "Width" of the first image (photo) or video stream, 0 unknown
  int height = 0;            // "Height" of the same stream, 0 unknown
  int64_t duration_ms = -1;  // "Duration" of the whole file in milliseconds, -1 unknown
  // The video's colour as the file states it: "matrix_coefficients" ("BT.709", "BT.601",
  // ...) and "colour_range" ("Limited", "Full"); empty when unstated or for a photo.
  std::string matrix_coefficients;
  std::string colour_range;
};
MediaFacts ReadMediaFacts(const std::string& path, bool photo);

// The same, one at a time: frame size (false and 0 x 0 when unknown) and media length in
// milliseconds (-1 when unknown, e.g. for a photo or a file that is no media).
bool MediaFrameSize(const std::string& path, bool photo, int* width, int* height);
int64_t MediaDurationMs(const std::string& path);

}  // namespace spherolux::media
