#include "host/fileio/SaveRequest.h"

#include <utility>

namespace {
tq::fileio::SaveRequestHandler& Handler() {
  static tq::fileio::SaveRequestHandler handler;
  return handler;
}
}  // namespace

namespace tq::fileio {
SaveRequestHandler SetSaveRequestHandler(SaveRequestHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}
}  // namespace tq::fileio

int SaveRequest(String const& title, String const& filter, String& path, char* defaultExt,
                char const* defaultExt2, unsigned int flags, CWnd* parent, int* extra) {
  if (!Handler()) return 0;
  tq::fileio::SaveRequestCall call{&title,      &filter, &path,  defaultExt,
                                   defaultExt2, flags,   parent, extra};
  return Handler()(call);
}
