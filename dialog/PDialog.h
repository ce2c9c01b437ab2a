// The export settings dialog: it fills the record of one command run from
// the scene and from the user's choices. Every control writes straight into
// the record; OK adds the four numeric fields after their range checks.
#pragma once

#include "dialog/PluginDialog.h"
#include "export/Parameters.h"

// Dialog template and control ids.
enum : int {
  IDD_EXPORT_SETTINGS = 1000,
  IDC_COMBO1 = 1000,  // cameras
  IDC_HEIGHT = 1001,
  IDC_WIDTH = 1002,
  IDC_START_FRAME = 1003,
  IDC_END_FRAME = 1004,
  IDC_COMBO2 = 1005,   // target objects
  IDC_RADIO1 = 1006,   // mode 0: origin
  IDC_RADIO2 = 1007,   // mode 1: model centre
  IDC_RADIO3 = 1008,   // mode 2: group centre
  IDC_RADIO4 = 1009,   // mode 3: bone
  IDC_COMBO3 = 1010,   // groups
  IDC_COMBO4 = 1011,   // bones, indented by depth
  IDC_BUTTON1 = 1012,  // output file
  IDC_FILE_NAME = 1013,
};

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

  PParameters* parameters_;
};
