#include "animation_set.h"

namespace fuzz {
namespace {

std::string content_of(const std::string& tag) {
  return "#" + tag + "#\r\n\x1a" + std::string(1, '\0') + "\n-\r";
}

}  // namespace

FileSet& file_set() {
  static FileSet set = [] {
    FileSet made;
    const std::string root = "/scratch";
    made.anim = root + "/anim/";
    made.files.add_directory(made.anim + "d1.gif");  // a directory, not a frame
    std::map<std::string, std::string> names;
    for (int n = 1; n <= 13; ++n) names["whirlo" + std::to_string(n) + ".gif"];
    for (int n : {1, 2, 3, 4, 5, 7}) names["a" + std::to_string(n) + ".gif"];
    for (int n = 0; n <= 99; ++n) names["b" + std::to_string(n) + ".jpg"];
    for (int n = 1; n <= 3; ++n) names["C" + std::to_string(n) + ".TIF"];
    for (const char* name :
         {"logo.gif", "logo.jpg", "logo.tif", "x.bmp", "logo", "d2.gif"}) {
      names[name];
    }
    for (auto& entry : names) {
      made.inside[entry.first] = content_of(entry.first);
      made.files.add_file(made.anim + entry.first, made.inside[entry.first]);
    }
    // Sentinels beside and above the folder: a name that escapes finds them.
    for (const char* name : {"s1.gif", "a1.gif", "logo.gif", "out1.gif"}) {
      made.files.add_file(root + "/" + name,
                          content_of(std::string("OUTSIDE ") + name));
    }
    for (const char* name : {"a1.gif", "logo.gif"}) {
      made.files.add_file(made.anim + "sub/" + name,
                          content_of(std::string("OUTSIDE sub/") + name));
    }
    return made;
  }();
  return set;
}

void start_request(const FileSet& set, cgi::AnimationRequest& request) {
  request.animation_path = set.anim;
  request.still_extension = request.frame_extension = ".GIF";
  request.start_frame = 1;
  request.steps.fill(0);
  request.steps[0] = cgi::STEP_UP;
}

}  // namespace fuzz
