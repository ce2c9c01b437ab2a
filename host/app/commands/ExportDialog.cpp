#include "host/app/commands/ExportDialog.h"

#include <sstream>

#include "dialog/ControlIds.h"

namespace tq::app {

std::vector<framework::Action> DialogActions(const TargetRun& run, const OptionValues& a) {
  using framework::Action;
  std::vector<Action> actions;
  auto select = [&](const OptionValues::Text& value, int id) {
    if (value) actions.push_back(Action::SelectText(id, *value));
  };
  auto type = [&](const OptionValues::Text& value, int id) {
    if (value) actions.push_back(Action::SetText(id, *value));
  };
  select(a.camera, IDC_COMBO1);
  select(run.target, IDC_COMBO2);
  if (run.modeGiven) actions.push_back(Action::Click(run.mode->radio));
  for (const TargetMode& m : TargetModes()) {
    const auto part = m.part == nullptr ? run.parts.end() : run.parts.find(m.part);
    if (part != run.parts.end()) select(part->second, m.list);
  }
  type(a.width, IDC_WIDTH);
  type(a.height, IDC_HEIGHT);
  type(a.start, IDC_START_FRAME);
  type(a.end, IDC_END_FRAME);
  actions.push_back(Action::Click(IDC_BUTTON1));
  actions.push_back(Action::AnswerSave(run.output));
  actions.push_back(Action::Ok());
  return actions;
}

std::string OptionOfControl(int id, const TargetRun& run, const OptionValues& a) {
  const auto part = [&](const char* name) {
    const auto it = run.parts.find(name);
    return it == run.parts.end() ? OptionValues::Text() : it->second;
  };
  const struct {
    int id;
    const char* option;
    OptionValues::Text value;
  } controls[] = {{IDC_COMBO1, "--camera", a.camera},     {IDC_COMBO2, "--target", run.target},
                  {IDC_COMBO3, "--group", part("group")}, {IDC_COMBO4, "--bone", part("bone")},
                  {IDC_WIDTH, "--width", a.width},        {IDC_HEIGHT, "--height", a.height},
                  {IDC_START_FRAME, "--start", a.start},  {IDC_END_FRAME, "--end", a.end}};
  for (const auto& c : controls) {
    if (c.id == id) return c.value ? std::string(c.option) + " " + *c.value : c.option;
  }
  return "";
}

Status RunSucceeded(const NotingDriver<framework::ScriptedDriver>& driver, const TargetRun& run,
                    const OptionValues& a) {
  std::ostringstream err;
  bool failed = false;
  for (const auto& message : driver.messages) {
    const std::string option = OptionOfControl(driver.outcome.focus, run, a);
    err << "tqhost: " << (option.empty() ? "" : option + ": ") << message << "\n";
    failed = true;
  }
  if (!failed) {
    for (const auto& failure : driver.Failures()) {
      err << "tqhost: " << (a.verbose ? failure : failure.substr(0, failure.find('\n') + 1));
      failed = true;
    }
  }
  const DialogOutcome& outcome = driver.outcome;
  if (!failed && !outcome.ran) {
    err << "tqhost: " << kNoDialog << "\n";
    failed = true;
  } else if (!failed && outcome.result != IDOK) {
    err << "tqhost: the settings dialog did not end with OK; nothing was written\n";
    failed = true;
  }
  if (failed) return Fail(err.str());
  return {};
}

}  // namespace tq::app
