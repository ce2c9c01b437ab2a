// The terminal of tqhost's interactive dialog, on ncurses.
#pragma once

#include "host/framework/TerminalDriver.h"

namespace tq::app {

class CursesTerminal : public framework::Terminal {
 public:
  // Takes over the terminal until destroyed, when it can (see Opened).
  CursesTerminal();
  ~CursesTerminal() override;
  CursesTerminal(const CursesTerminal&) = delete;
  CursesTerminal& operator=(const CursesTerminal&) = delete;

  int Rows() const override;
  int Columns() const override;
  void Clear() override;
  void Put(int row, int column, const std::string& text, int attributes) override;
  void Show() override;
  int ReadKey() override;

  // Whether the terminal was taken over: not when TERM names no terminal
  // known here, or the size asked (LINES, COLUMNS) cannot be had.
  bool Opened() const { return screen_ != nullptr; }

 private:
  void* screen_ = nullptr;  // ncurses' SCREEN
};

}  // namespace tq::app
