// The host SDK's dialog base for plug-ins: every override passes straight on
// to the framework's own version; DoDataExchange does nothing.
#pragma once

#include "host/framework/Dialog.h"

class CPluginDialog : public CDialog {
 public:
  CPluginDialog(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {}
  ~CPluginDialog() override = default;

  const CRuntimeClass* GetRuntimeClass() const override { return CDialog::GetRuntimeClass(); }
  BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo) override {
    return CDialog::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
  }
  void PreSubclassWindow() override { CWnd::PreSubclassWindow(); }
  BOOL DestroyWindow() override { return CWnd::DestroyWindow(); }
  BOOL ContinueModal() override { return CWnd::ContinueModal(); }
  void EndModalLoop(int nResult) override { CWnd::EndModalLoop(nResult); }
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override { return CWnd::OnCommand(wParam, lParam); }
  BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) override {
    return CWnd::OnNotify(wParam, lParam, pResult);
  }
  WNDPROC* GetSuperWndProcAddr() override { return CWnd::GetSuperWndProcAddr(); }
  void DoDataExchange(CDataExchange*) override {}
  BOOL PreTranslateMessage(tagMSG* pMsg) override { return CDialog::PreTranslateMessage(pMsg); }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    return CWnd::WindowProc(message, wParam, lParam);
  }
  BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override {
    return CWnd::OnWndMsg(message, wParam, lParam, pResult);
  }
  LRESULT DefWindowProcA(UINT message, WPARAM wParam, LPARAM lParam) override {
    return CWnd::DefWindowProcA(message, wParam, lParam);
  }
  void PostNcDestroy() override { CWnd::PostNcDestroy(); }
  BOOL CheckAutoCenter() override { return CDialog::CheckAutoCenter(); }
  BOOL IsFrameWnd() const override { return CWnd::IsFrameWnd(); }
  BOOL OnInitDialog() override { return CDialog::OnInitDialog(); }
  void OnOK() override { CDialog::OnOK(); }
  void OnCancel() override { CDialog::OnCancel(); }
  void PreInitDialog() override { CDialog::PreInitDialog(); }
};
