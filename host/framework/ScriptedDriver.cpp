#include "host/framework/ScriptedDriver.h"

#include "host/framework/Dialog.h"
#include "host/framework/Window.h"

namespace tq::framework {

std::string Action::Describe() const {
  switch (kind) {
    case Kind::kSelectText:
      return "select \"" + text + "\" in " + std::to_string(id);
    case Kind::kSelectIndex:
      return "select entry " + std::to_string(index) + " in " + std::to_string(id);
    case Kind::kSetText:
      return "type \"" + text + "\" into " + std::to_string(id);
    case Kind::kClick:
      return "click " + std::to_string(id);
    case Kind::kAnswerSave:
      return "answer the save request with \"" + text + "\"";
    case Kind::kCancelSave:
      return "cancel the save request";
    case Kind::kOk:
      return "press OK";
    case Kind::kCancel:
      return "press Cancel";
  }
  return "?";
}

void ScriptedDriver::FailAndCancel(CDialog& dialog, const std::string& why) {
  failures_.push_back(why + "\n" + DescribeDialog(dialog.m_hWnd));
  stopped_ = true;
  if (dialog.ContinueModal()) dialog.EndDialog(IDCANCEL);
}

void ScriptedDriver::RunModalLoop(CDialog& dialog) {
  CDialog* outer = open_;
  open_ = &dialog;
  struct Restore {
    CDialog*& open;
    CDialog* outer;
    ~Restore() { open = outer; }
  } restore{open_, outer};
  while (dialog.ContinueModal()) {
    if (stopped_) {
      dialog.EndDialog(IDCANCEL);
      break;
    }
    if (next_ >= actions_.size()) {
      FailAndCancel(dialog, "the actions ran out while the dialog was open; cancelled it");
      break;
    }
    const Action& action = actions_[next_++];
    HWND h = dialog.m_hWnd;
    std::string why;
    switch (action.kind) {
      case Action::Kind::kSelectText:
        why = UserSelectComboText(h, action.id, action.text);
        break;
      case Action::Kind::kSelectIndex:
        why = UserSelectCombo(h, action.id, action.index);
        break;
      case Action::Kind::kSetText:
        why = UserSetText(h, action.id, action.text);
        break;
      case Action::Kind::kClick:
      case Action::Kind::kOk:
      case Action::Kind::kCancel:
        why = UserClick(h, action.id);
        break;
      case Action::Kind::kAnswerSave:
      case Action::Kind::kCancelSave:
        why = "no save request is open";
        break;
    }
    if (!why.empty()) FailAndCancel(dialog, "cannot " + action.Describe() + ": " + why);
  }
}

int ScriptedDriver::SaveRequest(fileio::SaveRequestCall& call) {
  saves_.push_back({call.title->Get(), call.filter->Get(), call.path->Get(),
                    call.defaultExt != nullptr ? call.defaultExt : "",
                    call.defaultExt == call.defaultExt2, call.flags, call.parent == nullptr,
                    call.extra == nullptr});
  const bool answered = !stopped_ && next_ < actions_.size() &&
                        (actions_[next_].kind == Action::Kind::kAnswerSave ||
                         actions_[next_].kind == Action::Kind::kCancelSave);
  if (!answered) {
    const std::string why =
        "a save request came, but the next action is " +
        (next_ < actions_.size() ? actions_[next_].Describe() : std::string("none"));
    if (open_ != nullptr) {
      FailAndCancel(*open_, why);
    } else {
      failures_.push_back(why);
      stopped_ = true;
    }
    return 0;
  }
  const Action& answer = actions_[next_++];
  if (answer.kind == Action::Kind::kCancelSave) return 0;
  *call.path = answer.text.c_str();
  return 1;
}

}  // namespace tq::framework
