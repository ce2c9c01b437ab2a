#include "host/app/commands/SharedCopies.h"

#include <algorithm>

#include "host/app/SceneInput.h"
#include "host/fileio/Concat.h"

namespace tq::app {

void SharedCopies::Add(const CopyOutput& copy, Track track, const std::vector<bool>& behind) {
  const auto same = [&](const Copy& c) { return c.path == copy.path; };
  auto it = std::find_if(copies_.begin(), copies_.end(), same);
  if (it == copies_.end()) {
    it = copies_.insert(copies_.end(), {copy.path, copy.format, {}, {}});
    it->fromImage = copy.fromImage;
  }
  if (copy.cornerPin) {
    it->corners.push_back({std::move(track), behind});
  } else {
    it->tracks.push_back(std::move(track));
  }
}

std::vector<SharedCopies::Written> SharedCopies::Write() {
  std::vector<Written> written;
  for (const Copy& c : copies_) {
    const std::string name = c.format->name;
    std::string note;
    const bool pin = !c.corners.empty();
    const auto text = pin ? RenderCornerPin(c.format->format, c.corners, c.fromImage)
                          : RenderTracks(c.format->format, c.tracks, &note);
    const auto saved = text ? SaveText(c.path, *text) : Status(Fail(text.error));
    Written w{c.path, "", "", "the " + name + " copy " + c.path};
    if (!saved) {
      w.error = "--also " + name + " " + c.path + ": " + saved.error;
    } else {
      w.line =
          fileio::Concat({name, " copy written to ", c.path == "-" ? "standard output" : c.path,
                          " (", pin ? "a corner pin" : std::to_string(c.tracks.size()) + " points",
                          note.empty() ? "" : "; " + note, ")\n"});
    }
    written.push_back(std::move(w));
  }
  copies_.clear();
  return written;
}

}  // namespace tq::app
