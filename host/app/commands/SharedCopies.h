// The copies that hold every target of a run: one 3de file of every point,
// a corner pin. Gathered as the targets run, written once all have.
#pragma once

#include <string>
#include <vector>

#include "host/app/CornerPin.h"
#include "host/app/Formats.h"
#include "host/app/commands/ExportTargets.h"

namespace tq::app {

class SharedCopies {
 public:
  // A target's track for a shared copy, in the order the targets run; a
  // corner pin takes the frames where its target is behind the camera too.
  void Add(const CopyOutput& copy, Track track, const std::vector<bool>& behind);

  // A copy written, with its summary line, or why not and whose failure
  // it is ("the 3de copy shot.txt").
  struct Written {
    std::string path, line, error, who;
  };
  // Every copy rendered and saved; none is held after.
  std::vector<Written> Write();

 private:
  struct Copy {
    std::string path;
    const FormatInfo* format;
    std::vector<Track> tracks;
    std::vector<PinCorner> corners;  // a corner pin's, in the order given
    bool fromImage = false;          // the pin's from points are the image's corners
  };
  std::vector<Copy> copies_;
};

}  // namespace tq::app
