// Names of input files as the libraries are to take them.
//
// The media libraries open what they are given: MediaInfo and the media engine take a name
// with a scheme ("http://...") for a URL, and opening a pipe waits for a writer, a device
// may never end. An input here is always a regular file, and its name is made absolute
// before a library sees it, so that no library reads the name as anything else.
//
// Paths are UTF-8. Any thread; nothing is kept between calls.
#pragma once

#include <string>

namespace spherolux {

// What `path` names, asked before it is opened: a regular file that may be read, nothing
// that can be reached (missing, or a folder on the way not searchable), something that is no
// regular file (a folder, pipe, device or socket), or a regular file that may not be read.
// With `error` given, the system's error number of the failed query is stored there (0 when
// none failed).
enum class InputState { kReadable, kUnreachable, kNotRegular, kNotReadable };
InputState InputStateOf(const std::string& path, int* error = nullptr);

// Why `path` cannot be read as an input file ("not a regular file" for a pipe, device or
// socket, else the system's text of the error; a folder gives EISDIR's), or empty when it can.
std::string UnreadableReason(const std::string& path);

// `path` as an absolute name: a relative one is joined to the current folder, and repeated
// separators become one, so that no "://" is left in it. No component is resolved or
// removed, so the name still names the same file. Empty when `path` is, or when the current
// folder cannot be known.
std::string AbsolutePath(const std::string& path);

}  // namespace spherolux
