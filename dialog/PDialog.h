// The export settings dialog: it fills the record of one command run from
// the scene and from the user's choices. Every control writes straight into
// the record; OK adds the four numeric fields after their range checks.
#pragma once

#include "dialog/ControlIds.h"
#include "dialog/PluginDialog.h"
#include "export/Parameters.h"

class PDialog : public CPluginDialog {
  DECLARE_MESSAGE_MAP()
 public:
  explicit PDialog(PParameters* parameters);
  ~PDialog() override = default;

  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnOK() override;

  void OnSelchangeCombo1();
  void OnSelchangeCombo2();
  void OnRadio1();
  void OnRadio2();
  void OnRadio3();
  void OnRadio4();
  void OnSelchangeCombo3();
  void OnSelchangeCombo4();
  void OnButton1();

  // The camera step: the selected camera, its output options, the fields.
  void UpdateKamera();
  void GetPropCamera(HQuorObject* camera);
  int GetPropRecurseCamera(HProperty* property);
  // The object step: the selected object, the modes it offers, its lists.
  void UpdateObject();
  int GetBoneRecurse(HBone* bone, CComboBox* list);
  int GetBoneSibling(HBone* bone, CComboBox* list, int& depth);

 private:
  LRESULT Send(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  // The item data of a list's selected entry; null without a selection.
  void* SelectedData(int id);
  // Adds an entry and attaches data to it.
  void AddEntry(HWND list, LPCSTR text, const void* data);
  LRESULT FirstTarget(HWND objects);

  PParameters* parameters_;
};
