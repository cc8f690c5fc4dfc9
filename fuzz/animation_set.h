// animation_set.h: the folder of picture files that the walk fuzz targets
// play from, in memory, made once per process: every file holds "#" its
// name "#" and a few awkward bytes, and beside the folder sentinel files
// that must never be sent.
#ifndef WHIRLO_FUZZ_ANIMATION_SET_H
#define WHIRLO_FUZZ_ANIMATION_SET_H

#include <map>
#include <string>

#include "cgi/animation_request.h"
#include "memory_files/memory_file_system.h"

namespace fuzz {

struct FileSet {
  std::string anim;                           // with its trailing "/"
  std::map<std::string, std::string> inside;  // name -> bytes
  memory_files::MemoryFileSystem files;
};

FileSet& file_set();

/// The request a query starts from: the set's folder, ".GIF", frame 1 on,
/// one ascending run.
void start_request(const FileSet& set, cgi::AnimationRequest& request);

}  // namespace fuzz

#endif  // WHIRLO_FUZZ_ANIMATION_SET_H
