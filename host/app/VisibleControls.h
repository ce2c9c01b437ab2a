// Messages on standard error with their control characters made visible:
// a name quoted in a message (a file a glTF names, an option's value, a
// name read from a stranger's file) cannot move the cursor, retitle the
// window or ring the bell of the terminal that shows it.
#pragma once

#include <streambuf>

namespace tq::app {

// Passes text on to out with every control character but newline and tab
// written as \xNN, and a C1 control (U+0080 to U+009F, which a terminal
// may also obey) as \u00NN.
class VisibleControls : public std::streambuf {
 public:
  explicit VisibleControls(std::streambuf* out) : out_(out) {}
  ~VisibleControls() override { sync(); }

 protected:
  int overflow(int c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  bool Put(unsigned char c);
  std::streambuf* out_;
  bool lead_ = false;  // a byte 0xC2 held back: a C1 control may follow
};

}  // namespace tq::app
