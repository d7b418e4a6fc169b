// Directory-entry names of the shared disk sorted by what the thumbnail walks do with them:
// the thumbnail folder itself, names never entered (hidden ones and the media's system and
// recycle-bin folders), and thumbnail sources recognised by the extension, in any letter case.
#pragma once

namespace tarnvel {

// Results of chk_name. Every value from NAME_PHOTO up is a thumbnail source.
inline constexpr int NAME_OTHER = 0;
inline constexpr int NAME_SKIP = 5;
inline constexpr int NAME_THUMB_DIR = 6;
inline constexpr int NAME_PHOTO = 10;
inline constexpr int NAME_PDF = 11;

// Name tables, each ended by a null entry. Skip names are compared exactly; extensions are
// written in upper case with their dot.
extern const char* const skip_name[];
extern const char* const find_name[];     // photos
extern const char* const find_name_new[]; // photos and PDF documents

// A copy of `text` (malloc'd; the caller frees it) with a-z made A-Z and every other byte
// unchanged; null when the copy cannot be had. The input is left alone.
char* strupr(const char* text);

// The class of the entry name `name`, from the name alone: ".thumbnail" exactly, a hidden or
// skipped name, or a source whose extension (from the last dot that is not the first
// character) stands in `extensions`. A name whose upper-case extension cannot be had is not
// a source.
int chk_name(const char* name, const char* const* skip, const char* const* extensions);

} // namespace tarnvel
