#include "dialog/PDialog.h"

#include <climits>
#include <cmath>

#include "host/fileio/SaveRequest.h"
#include "host/framework/CString.h"
#include "host/scene/Scene.h"

namespace {

// The frame that a range check sees: truncated toward zero. The exchange
// refuses text whose truncation would not fit, and values put in from a
// camera are only shown, so the saturation here only keeps the conversion
// defined.
int TruncateForRangeCheck(float frame) {
  if (std::isnan(frame)) return INT_MIN;
  if (frame >= 2147483648.0f) return INT_MAX;
  if (frame < -2147483648.0f) return INT_MIN;
  return static_cast<int>(frame);
}

// Ticks to frames: seconds in single precision first, then fps times seconds
// in double, stored as a float; a reading that is a whole frame's ticks is
// that whole frame.
float TicksToFramesViaSeconds(Time ticks, float fps) {
  const float seconds = static_cast<float>(static_cast<double>(ticks) / tq::scene::kTicksPerSecond);
  const float read = static_cast<float>(static_cast<double>(fps) * static_cast<double>(seconds));
  return tq::scene::WholeFrameOfTicks(read, ticks, fps);
}

}  // namespace

BEGIN_MESSAGE_MAP(PDialog, CDialog)
ON_CBN_SELCHANGE(IDC_COMBO1, OnSelchangeCombo1)
ON_CBN_SELCHANGE(IDC_COMBO2, OnSelchangeCombo2)
ON_BN_CLICKED(IDC_RADIO1, OnRadio1)
ON_BN_CLICKED(IDC_RADIO2, OnRadio2)
ON_BN_CLICKED(IDC_RADIO3, OnRadio3)
ON_BN_CLICKED(IDC_RADIO4, OnRadio4)
ON_CBN_SELCHANGE(IDC_COMBO3, OnSelchangeCombo3)
ON_CBN_SELCHANGE(IDC_COMBO4, OnSelchangeCombo4)
ON_BN_CLICKED(IDC_BUTTON1, OnButton1)
END_MESSAGE_MAP()

PDialog::PDialog(PParameters* parameters)
    : CPluginDialog(IDD_EXPORT_SETTINGS, CWnd::FromHandle(GetMainApplicationWnd())),
      parameters_(parameters) {}

LRESULT PDialog::Send(int id, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(::GetDlgItem(m_hWnd, id), message, wParam, lParam);
}

void* PDialog::SelectedData(int id) {
  const LRESULT selected = Send(id, CB_GETCURSEL);
  if (selected == CB_ERR) return nullptr;
  return reinterpret_cast<void*>(Send(id, CB_GETITEMDATA, static_cast<WPARAM>(selected)));
}

void PDialog::AddEntry(HWND list, LPCSTR text, const void* data) {
  const LRESULT index = ::SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  ::SendMessageA(list, CB_SETITEMDATA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(data));
}

void PDialog::DoDataExchange(CDataExchange* pDX) {
  PParameters& p = *parameters_;
  DDX_Text(pDX, IDC_HEIGHT, p.height);
  DDV_MinMaxInt(pDX, p.height, 0, 5000);
  DDX_Text(pDX, IDC_WIDTH, p.width);
  DDV_MinMaxInt(pDX, p.width, 0, 5000);
  DDX_Text(pDX, IDC_START_FRAME, p.startFrame);
  DDV_MinMaxInt(pDX, TruncateForRangeCheck(p.startFrame), 0, 100000);
  DDX_Text(pDX, IDC_END_FRAME, p.endFrame);
  DDV_MinMaxInt(pDX, TruncateForRangeCheck(p.endFrame), 0, 10000);
  if (!pDX->m_bSaveAndValidate) return;
  // What the export cannot work with is refused here, on OK.
  if (p.height == 0 || p.width == 0) {
    pDX->PrepareEditCtrl(p.height == 0 ? IDC_HEIGHT : IDC_WIDTH);
    AfxMessageBox("The image width and height must not be 0.", MB_ICONEXCLAMATION);
    pDX->Fail();
  }
  if (p.object != nullptr && p.object == p.camera) {
    pDX->PrepareCtrl(IDC_COMBO2);
    AfxMessageBox("The target is the camera itself. Choose another object.", MB_ICONEXCLAMATION);
    pDX->Fail();
  }
  if (p.targetMode == TargetMode::kGroupCenter && p.group == nullptr) {
    pDX->PrepareCtrl(IDC_COMBO3);
    AfxMessageBox("Choose a group for the group centre.", MB_ICONEXCLAMATION);
    pDX->Fail();
  }
  if (p.targetMode == TargetMode::kBone && p.bone == nullptr) {
    pDX->PrepareCtrl(IDC_COMBO4);
    AfxMessageBox("Choose a bone to track.", MB_ICONEXCLAMATION);
    pDX->Fail();
  }
}

BOOL PDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  HChor* chor = parameters_->chor;

  HWND cameras = ::GetDlgItem(m_hWnd, IDC_COMBO1);
  for (HCamera* camera = chor->GetChildCamera(); camera != nullptr;
       camera = camera->GetNextCameraInChor()) {
    CString name(camera->GetName());
    AddEntry(cameras, name, camera);
  }
  ::SendMessageA(cameras, CB_SETCURSEL, 0, 0);

  HWND objects = ::GetDlgItem(m_hWnd, IDC_COMBO2);
  for (HQuorObject* child = chor->GetChild(); child != nullptr; child = child->GetSibling()) {
    if (child->GetObjectType() == ObjectType::kFolder) continue;  // folders are never targets
    CString name(child->GetName());
    AddEntry(objects, name, child);
  }
  ::SendMessageA(objects, CB_SETCURSEL, static_cast<WPARAM>(FirstTarget(objects)), 0);

  // Without a camera or a target there is nothing to export.
  const char* missing = nullptr;
  if (::SendMessageA(cameras, CB_GETCOUNT, 0, 0) == 0) {
    missing = "The choreography has no camera.";
  } else if (::SendMessageA(objects, CB_GETCOUNT, 0, 0) == 0) {
    missing = "The choreography has no object to track.";
  }
  if (missing != nullptr) {
    AfxMessageBox(missing, MB_ICONEXCLAMATION);
    EndDialog(IDCANCEL);
    return TRUE;
  }

  UpdateKamera();
  UpdateObject();
  CString fileName;
  fileName.Format("%s", parameters_->fileName.Get());
  ::SetDlgItemTextA(m_hWnd, IDC_FILE_NAME, fileName);
  return TRUE;
}

// The entry the object list opens on: the first object that is not a
// camera, else the first that is not the selected camera (a camera cannot
// track itself), so that the dialog can be confirmed as it opens.
LRESULT PDialog::FirstTarget(HWND objects) {
  const void* camera = SelectedData(IDC_COMBO1);
  const LRESULT count = ::SendMessageA(objects, CB_GETCOUNT, 0, 0);
  LRESULT fallback = -1;
  for (LRESULT i = 0; i < count; ++i) {
    auto* object = reinterpret_cast<HQuorObject*>(::SendMessageA(objects, CB_GETITEMDATA, i, 0));
    if (object->GetObjectType() != ObjectType::kCamera) return i;
    if (fallback < 0 && static_cast<const void*>(object) != camera) fallback = i;
  }
  return fallback < 0 ? 0 : fallback;
}

void PDialog::OnOK() {
  CPluginDialog::OnOK();
}

void PDialog::OnSelchangeCombo1() {
  UpdateKamera();
}
void PDialog::OnSelchangeCombo2() {
  UpdateObject();
}
void PDialog::OnRadio1() {
  parameters_->targetMode = TargetMode::kOrigin;
}
void PDialog::OnRadio2() {
  parameters_->targetMode = TargetMode::kModelCenter;
}
void PDialog::OnRadio3() {
  parameters_->targetMode = TargetMode::kGroupCenter;
}
void PDialog::OnRadio4() {
  parameters_->targetMode = TargetMode::kBone;
}
void PDialog::OnSelchangeCombo3() {
  parameters_->group = static_cast<HGroup*>(SelectedData(IDC_COMBO3));
}
void PDialog::OnSelchangeCombo4() {
  parameters_->bone = static_cast<HBone*>(SelectedData(IDC_COMBO4));
}

void PDialog::UpdateKamera() {
  auto* camera = static_cast<HCamera*>(SelectedData(IDC_COMBO1));
  if (camera == nullptr) return;
  GetPropCamera(camera);
  parameters_->camera = camera;
  UpdateData(FALSE);
}

void PDialog::GetPropCamera(HQuorObject* camera) {
  const String outputOptions(".OutputOptions");
  for (int i = 0;; ++i) {
    HProperty* property = camera->GetPropertyAt(i);
    if (property == nullptr) break;
    const String name = property->GetFullName();
    if (name.Find(outputOptions) != -1) GetPropRecurseCamera(property);
  }
}

int PDialog::GetPropRecurseCamera(HProperty* property) {
  const String width(".Resolution.Width"), height(".Resolution.Height");
  const String start(".Range.StartFrame"), end(".Range.EndFrame");
  PParameters& p = *parameters_;
  for (int i = 0;; ++i) {
    HProperty* child = property->GetPropertyAt(i);
    if (child == nullptr) break;
    // Deeper properties first, so that the child itself is read last.
    GetPropRecurseCamera(child);
    const String name = child->GetFullName();
    // The name alone decides how the property is read.
    if (name.Find(width) != -1) p.width = static_cast<HIntProperty*>(child)->GetValue();
    if (name.Find(height) != -1) p.height = static_cast<HIntProperty*>(child)->GetValue();
    if (name.Find(start) != -1)
      p.startFrame = TicksToFramesViaSeconds(static_cast<HTimeProperty*>(child)->GetValue(), p.fps);
    if (name.Find(end) != -1)
      p.endFrame = TicksToFramesViaSeconds(static_cast<HTimeProperty*>(child)->GetValue(), p.fps);
  }
  return 0;
}

void PDialog::UpdateObject() {
  PParameters& p = *parameters_;
  auto* object = static_cast<HQuorObject*>(SelectedData(IDC_COMBO2));
  if (object == nullptr) return;
  p.object = object;
  Send(IDC_COMBO3, CB_RESETCONTENT);
  Send(IDC_COMBO4, CB_RESETCONTENT);
  // The record follows the lists: emptied lists hold no group and no bone.
  p.group = nullptr;
  p.bone = nullptr;
  const int type = object->GetObjectType();
  p.targetMode = TargetMode::kOrigin;
  CWnd* radio1 = GetDlgItem(IDC_RADIO1);
  CWnd* radio2 = GetDlgItem(IDC_RADIO2);
  CWnd* radio3 = GetDlgItem(IDC_RADIO3);
  CWnd* radio4 = GetDlgItem(IDC_RADIO4);
  CWnd* groups = GetDlgItem(IDC_COMBO3);
  CWnd* bones = GetDlgItem(IDC_COMBO4);
  // Mode 0 is checked alone, for every type: a check left on another radio
  // would show a mode the record does not hold.
  radio1->SendMessageA(BM_SETCHECK, 1);
  radio1->EnableWindow(TRUE);
  for (CWnd* radio : {radio2, radio3, radio4}) radio->SendMessageA(BM_SETCHECK, 0);
  if (type == ObjectType::kModel) {
    auto* model = static_cast<HModel*>(object);
    radio2->EnableWindow(TRUE);
    if (HGroupContainer* container = model->GetChildGroupContainer()) {
      radio3->EnableWindow(TRUE);
      groups->EnableWindow(TRUE);
      for (HGroup* group = container->GetChildGroup(); group != nullptr;
           group = static_cast<HGroup*>(group->GetSibling())) {
        AddEntry(groups->m_hWnd, group->GetName(), group);
      }
      groups->SendMessageA(CB_SETCURSEL, 0);
      p.group = static_cast<HGroup*>(SelectedData(IDC_COMBO3));
    } else {
      radio3->EnableWindow(FALSE);
      groups->EnableWindow(FALSE);
    }
    if (HBoneContainer* container = model->GetChildBoneContainer()) {
      radio4->EnableWindow(TRUE);
      bones->EnableWindow(TRUE);
      if (HBone* first = container->GetChildBone())
        GetBoneRecurse(first, static_cast<CComboBox*>(bones));
      bones->SendMessageA(CB_SETCURSEL, 0);
      p.bone = static_cast<HBone*>(SelectedData(IDC_COMBO4));
    } else {
      radio4->EnableWindow(FALSE);
      bones->EnableWindow(FALSE);
    }
  } else {
    for (CWnd* radio : {radio2, radio3, radio4}) radio->EnableWindow(FALSE);
    groups->EnableWindow(FALSE);
    bones->EnableWindow(FALSE);
  }
}

int PDialog::GetBoneRecurse(HBone* bone, CComboBox* list) {
  AddEntry(list->m_hWnd, bone->GetName(), bone);
  int depth = 0;
  GetBoneSibling(bone, list, depth);
  return 0;
}

int PDialog::GetBoneSibling(HBone* bone, CComboBox* list, int& depth) {
  ++depth;
  for (HBone* child = bone->GetChildBone(); child != nullptr; child = child->GetSiblingBone()) {
    CString indent;
    for (int i = 0; i < depth; ++i) indent += "   ";
    CString entry;
    entry.Format("%s%s", static_cast<LPCSTR>(indent), child->GetName());
    AddEntry(list->m_hWnd, entry, child);
    GetBoneSibling(child, list, depth);
  }
  --depth;
  return 0;
}

void PDialog::OnButton1() {
  String extension("txt");
  String path(parameters_->fileName);
  CString title;
  title.Format("Export TQ motiondata");
  CString filter;
  filter.Format("Text File (*.txt)|*.txt|ASCII||");
  // The host's own module state for the request and the rest of the handler.
  AFX_MAINTAIN_STATE hostState(AfxGetAppModuleState());
  int answer = 0;
  {
    const String titleText(static_cast<LPCSTR>(title));
    const String filterText(static_cast<LPCSTR>(filter));
    answer = SaveRequest(titleText, filterText, path, extension.buffer, extension.buffer, 3,
                         nullptr, nullptr);
  }
  if (answer == 0) path = "TQmotion.txt";
  CString shown;
  shown.Format("%s", path.Get());
  ::SetDlgItemTextA(m_hWnd, IDC_FILE_NAME, shown);
  parameters_->fileName = path;
}
