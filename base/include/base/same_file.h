// Whether two names reach one file, also on the file systems of memory cards.
//
// Device and inode numbers settle it on most file systems. FAT and exFAT, and folders that
// ignore case elsewhere (NTFS, a casefolded ext4 folder), match a name regardless of case,
// and a FUSE driver of such a file system may give every spelling of a name an inode number
// of its own: there "ph.jpg" and "PH.JPG" are one file with two inode numbers. Names that
// match caselessly (CaselessName) are taken for one file when the folder holding them lists
// no entry under one of the two spellings: the file system then found that spelling by
// ignoring case. Two files whose names differ only in case are both listed.
//
// Pure functions of the file system's state; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace spherolux {

// The key of a file name for caseless matching: the canonical decomposition (NFD) of the
// full case folding of the name's NFD (the canonical caseless match of The Unicode Standard,
// D145), so that "Café.JPG" with a composed or a decomposed "é" and "café.jpg" have one key.
// A name that is not valid UTF-8 has its ASCII letters folded only.
std::string CaselessName(std::string_view name);

// Whether `path` names the same file as one of `others`: the same string, the same device
// and inode (hard links, "dir/../name" and other spellings), or, on one file system, a name
// that the file system matches regardless of case (see above). False when `path` does not
// exist, unless one of `others` is the very same string. For refusing an output that is one
// of a job's inputs.
bool IsSameFileAsAny(const std::string& path, const std::vector<std::string>& others);

}  // namespace spherolux
