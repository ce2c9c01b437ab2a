// The terminal of tqhost's interactive dialog, on ncurses.
#pragma once

#include "host/framework/TerminalDriver.h"

namespace tq::app {

class CursesTerminal : public framework::Terminal {
 public:
  // Takes over the terminal until destroyed.
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
};

}  // namespace tq::app
