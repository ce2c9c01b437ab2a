// A UI driver that plays a list of actions, as a batch run or a test needs.
//
// Actions run in order while a dialog is open. The save request, when a click
// raises one, takes the next action if it is an answer to it. An action that
// cannot apply (unknown id, disabled control, no such entry, a save answer
// with no request, a request with no answer) is a failure: it is recorded
// with the dialog's state, the dialog is cancelled and no further action runs.
// When the actions run out while a dialog is open, the driver cancels it and
// records that too. It never waits for anything, so it never hangs.
#pragma once

#include <string>
#include <vector>

#include "host/framework/RecordingDriver.h"

namespace tq::framework {

struct Action {
  enum class Kind {
    kSelectText,
    kSelectIndex,
    kSetText,
    kClick,
    kAnswerSave,
    kCancelSave,
    kOk,
    kCancel
  };
  Kind kind;
  int id = 0;
  int index = 0;
  std::string text;

  static Action SelectText(int id, std::string text) {
    return {Kind::kSelectText, id, 0, std::move(text)};
  }
  static Action SelectIndex(int id, int index) { return {Kind::kSelectIndex, id, index, {}}; }
  static Action SetText(int id, std::string text) {
    return {Kind::kSetText, id, 0, std::move(text)};
  }
  static Action Click(int id) { return {Kind::kClick, id, 0, {}}; }
  static Action AnswerSave(std::string path) { return {Kind::kAnswerSave, 0, 0, std::move(path)}; }
  static Action CancelSave() { return {Kind::kCancelSave, 0, 0, {}}; }
  static Action Ok() { return {Kind::kOk, IDOK, 0, {}}; }
  static Action Cancel() { return {Kind::kCancel, IDCANCEL, 0, {}}; }

  std::string Describe() const;
};

// One save request as the driver saw it.
struct SaveRequestSeen {
  std::string title;
  std::string filter;
  std::string startPath;
  std::string defaultExt;
  bool extensionsShareBuffer;
  unsigned flags;
  bool parentNull;
  bool extraNull;
};

class ScriptedDriver : public RecordingDriver {
 public:
  ScriptedDriver() = default;
  explicit ScriptedDriver(std::vector<Action> actions) : actions_(std::move(actions)) {}

  void Add(Action action) { actions_.push_back(std::move(action)); }
  void RunModalLoop(CDialog& dialog) override;
  int SaveRequest(fileio::SaveRequestCall& call) override;

  // What went wrong, each with the dialog's state; empty when all applied.
  const std::vector<std::string>& Failures() const { return failures_; }
  std::size_t Remaining() const { return actions_.size() - next_; }
  const std::vector<SaveRequestSeen>& SaveRequests() const { return saves_; }

 private:
  void FailAndCancel(CDialog& dialog, const std::string& why);

  std::vector<Action> actions_;
  std::size_t next_ = 0;
  bool stopped_ = false;
  CDialog* open_ = nullptr;
  std::vector<std::string> failures_;
  std::vector<SaveRequestSeen> saves_;
};

}  // namespace tq::framework
