// Every file a command will write, checked together before anything is
// written.
#pragma once

#include <iosfwd>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tq::app {

// Every file a run will write, added before anything is written: two outputs
// that name one file (after links and "..", however written), an output that
// is the scene file, or two outputs to standard output are usage errors.
struct FilePlan {
  // who: with several targets, the target the file is for ("Robot", or
  // "Robot:origin" when it has several modes), which names the file in a
  // refusal beside the option.
  void Add(const std::string& option, const std::string& path, const std::string& scene,
           const char* what = "the scene file", const std::string& who = "");
  std::vector<std::pair<std::pair<std::string, std::string>, std::string>> files;
  std::string stdoutBy;             // the option writing to standard output, if one does
  std::vector<std::string> inputs;  // files the scene was read from besides itself

 private:
  // Each file's place in files, by its key; the keys of the files read
  // (the scene, the inputs), worked out once for a run of many targets.
  std::unordered_map<std::string, std::size_t> byKey_;
  std::unordered_map<std::string, std::string> readKeys_;
  const std::string& ReadKey(const std::string& path);
};

// The folders the outputs are named in, made where missing (each said
// once on summary); false, said on err, when one cannot be.
bool MakeFolders(const FilePlan& plan, std::ostream& summary, std::ostream& err);

// The default output is a name the user never gave: in a stranger's folder
// it may be a FIFO (a run that never ends) or a link to another file (which
// would be written over), so there it must be a file or nothing yet; else a
// usage error.
void RefuseUnnamedSpecial(const std::string& path);

}  // namespace tq::app
