#include "host/app/CursesTerminal.h"

#include <curses.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)  // clang names it so (GCC defines the macro below)
#define TQ_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(TQ_ADDRESS_SANITIZER)
// ncurses keeps what it learns before a screen exists in a screen of its own
// making (new_prescr), which it never frees when newterm fails: once, on
// the way out with "dialog cannot draw on this terminal". Not ours to free.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:new_prescr\n";
}
// Quietly: the message is tqhost's last words.
extern "C" const char* __lsan_default_options() {
  return "print_suppressions=0";
}
#endif

namespace tq::app {

CursesTerminal::CursesTerminal() {
  set_escdelay(25);
  // Not initscr(): on a terminal it cannot drive it prints its own message
  // and exits the process.
  SCREEN* const screen = newterm(nullptr, stdout, stdin);
  if (screen == nullptr) return;
  screen_ = screen;
  cbreak();
  noecho();
  keypad(stdscr, TRUE);
  curs_set(0);
}

CursesTerminal::~CursesTerminal() {
  if (screen_ == nullptr) return;
  endwin();
  delscreen(static_cast<SCREEN*>(screen_));
}

int CursesTerminal::Rows() const {
  return LINES;
}
int CursesTerminal::Columns() const {
  return COLS;
}
void CursesTerminal::Clear() {
  erase();
}

void CursesTerminal::Put(int row, int column, const std::string& text, int attributes) {
  attr_t a = A_NORMAL;
  if ((attributes & kReverse) != 0) a |= A_REVERSE;
  if ((attributes & kDim) != 0) a |= A_DIM;
  if ((attributes & kBold) != 0) a |= A_BOLD;
  attrset(a);
  mvaddnstr(row, column, text.c_str(), static_cast<int>(text.size()));
  attrset(A_NORMAL);
}

void CursesTerminal::Show() {
  refresh();
}

int CursesTerminal::ReadKey() {
  const int key = getch();
  switch (key) {
    case ERR:
      return kKeyNone;
    case KEY_UP:
      return kKeyUp;
    case KEY_DOWN:
      return kKeyDown;
    case KEY_LEFT:
      return kKeyLeft;
    case KEY_RIGHT:
      return kKeyRight;
    case KEY_BTAB:
      return kKeyBackTab;
    case KEY_ENTER:
    case '\r':
    case '\n':
      return kKeyEnter;
    case KEY_BACKSPACE:
    case 8:
    case 127:
      return kKeyBackspace;
    default:
      return key;
  }
}

}  // namespace tq::app
