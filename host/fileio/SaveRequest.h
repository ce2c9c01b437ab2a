// The host's modal save-file request. The file library hands every request to
// a handler that the host program installs (the UI driver); with none
// installed the request answers 0.
#pragma once

#include <functional>

#include "math/String.h"

class CWnd;

// Non-zero when the user confirmed a file, with the chosen path in path.
int SaveRequest(String const& title, String const& filter, String& path, char* defaultExt,
                char const* defaultExt2, unsigned int flags, CWnd* parent, int* extra);

namespace tq::fileio {

// Every argument of one request, as the caller passed them.
struct SaveRequestCall {
  const String* title;
  const String* filter;
  String* path;
  char* defaultExt;
  const char* defaultExt2;
  unsigned int flags;
  CWnd* parent;
  int* extra;
};

using SaveRequestHandler = std::function<int(SaveRequestCall&)>;

// Installs the handler (an empty one removes it); returns the previous one.
SaveRequestHandler SetSaveRequestHandler(SaveRequestHandler handler);

}  // namespace tq::fileio
