// The combo box: a drop-down list of entries, each with a text and item
// data, optionally kept sorted (CBS_SORT), and one selected entry whose text
// is the window's text.
#include <algorithm>
#include <cstring>

#include "host/framework/WindowRecord.h"

namespace tq::framework {
namespace {

struct ComboBoxState : ControlState {
  std::vector<std::pair<std::string, LPARAM>> items;
  int selection = -1;
};

ComboBoxState& State(HWND h) {
  return *h->StateOf<ComboBoxState>();
}

// Case-insensitive order, as a sorted list box compares its entries.
bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

// Adds an entry at the end, or in its place in a sorted list; answers its index.
LRESULT AddString(HWND h, ComboBoxState& combo, const std::string& text) {
  auto& items = combo.items;
  auto at = items.end();
  if ((h->style & CBS_SORT) != 0) {
    at = std::upper_bound(
        items.begin(), items.end(), text,
        [](const std::string& t, const auto& item) { return LessNoCase(t, item.first); });
  }
  const auto pos = at - items.begin();
  items.insert(at, {text, 0});
  if (combo.selection >= pos) ++combo.selection;
  return static_cast<LRESULT>(pos);
}

// The entry whose text equals text but for case, searched from the entry
// after `after`, wrapping; CB_ERR when none.
LRESULT FindStringExact(const ComboBoxState& combo, int after, const std::string& text) {
  const auto& items = combo.items;
  const int n = static_cast<int>(items.size());
  for (int k = 0; k < n; ++k) {
    const int i = (after + 1 + k) % n;
    const std::string& entry = items[static_cast<std::size_t>(i)].first;
    if (!LessNoCase(entry, text) && !LessNoCase(text, entry)) return i;
  }
  return CB_ERR;
}

LRESULT ComboBoxProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  ComboBoxState* combo = h->StateOf<ComboBoxState>();
  if (combo == nullptr) return DefWindowProcA(h, message, wParam, lParam);
  auto& items = combo->items;
  const auto index = static_cast<int>(wParam);
  const bool inRange = index >= 0 && index < static_cast<int>(items.size());
  switch (message) {
    case CB_ADDSTRING:
      return lParam == 0 ? CB_ERR : AddString(h, *combo, reinterpret_cast<const char*>(lParam));
    case CB_GETCOUNT:
      return static_cast<LRESULT>(items.size());
    case CB_GETCURSEL:
      return combo->selection;
    case CB_SETCURSEL:
      // -1, or an index past the end, clears the selection and answers CB_ERR.
      if (!inRange) {
        combo->selection = -1;
        h->text.clear();
        return CB_ERR;
      }
      combo->selection = index;
      h->text = items[static_cast<std::size_t>(index)].first;
      return index;
    case CB_GETITEMDATA:
      return inRange ? items[static_cast<std::size_t>(index)].second : CB_ERR;
    case CB_SETITEMDATA:
      if (!inRange) return CB_ERR;
      items[static_cast<std::size_t>(index)].second = lParam;
      return TRUE;
    case CB_GETLBTEXTLEN:
      return inRange ? static_cast<LRESULT>(items[static_cast<std::size_t>(index)].first.size())
                     : CB_ERR;
    case CB_GETLBTEXT: {
      if (!inRange || lParam == 0) return CB_ERR;
      const std::string& text = items[static_cast<std::size_t>(index)].first;
      std::memcpy(reinterpret_cast<char*>(lParam), text.c_str(), text.size() + 1);
      return static_cast<LRESULT>(text.size());
    }
    case CB_FINDSTRINGEXACT:
      return lParam == 0 ? CB_ERR
                         : FindStringExact(*combo, index, reinterpret_cast<const char*>(lParam));
    case CB_RESETCONTENT:
      items.clear();
      combo->selection = -1;
      h->text.clear();
      return CB_OKAY;
    default:
      return DefWindowProcA(h, message, wParam, lParam);
  }
}

}  // namespace

const BuiltinClass kComboBoxClass = {
    "ComboBox", &ComboBoxProc,
    []() -> std::unique_ptr<ControlState> { return std::make_unique<ComboBoxState>(); },
    []() -> std::unique_ptr<CWnd> { return std::make_unique<CComboBox>(); }};

std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> texts;
  const ComboBoxState* state = Alive(combo) ? combo->StateOf<ComboBoxState>() : nullptr;
  if (state == nullptr) return texts;
  for (const auto& item : state->items) texts.push_back(item.first);
  return texts;
}

std::string UserSelectCombo(HWND dialog, int id, int index) {
  HWND h = nullptr;
  std::string why = FindUserControl(dialog, id, "ComboBox", &h);
  if (!why.empty()) return why;
  if (index < 0 || index >= static_cast<int>(State(h).items.size())) {
    return "combo box " + std::to_string(id) + " has no entry " + std::to_string(index) +
           " (it has " + std::to_string(State(h).items.size()) + ")";
  }
  SetFocus(h);
  State(h).selection = index;
  h->text = State(h).items[static_cast<std::size_t>(index)].first;
  Notify(h, CBN_SELCHANGE);
  return "";
}

std::string UserSelectComboText(HWND dialog, int id, const std::string& text) {
  HWND h = nullptr;
  std::string why = FindUserControl(dialog, id, "ComboBox", &h);
  if (!why.empty()) return why;
  // The exact text first; then the text without the indentation of a tree.
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t i = 0; i < State(h).items.size(); ++i) {
      std::string entry = State(h).items[i].first;
      if (pass == 1) entry.erase(0, entry.find_first_not_of(' '));
      if (entry == text) return UserSelectCombo(dialog, id, static_cast<int>(i));
    }
  }
  std::string list;
  for (const auto& item : State(h).items)
    list += (list.empty() ? "\"" : ", \"") + item.first + "\"";
  return "combo box " + std::to_string(id) + " has no entry \"" + text + "\" (it has " +
         (list.empty() ? "none" : list) + ")";
}

}  // namespace tq::framework
