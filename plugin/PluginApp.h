// The host SDK's application base for plug-ins, and the plug-in's own
// application class.
#pragma once

#include "host/fileio/FileStream.h"
#include "host/framework/App.h"
#include "host/scene/Scene.h"

struct PParameters;

// The SDK's plug-in application: every override passes straight on to the
// framework's own version.
class CPluginApp : public CWinApp {
 public:
  CPluginApp() : CWinApp(nullptr) {}
  ~CPluginApp() override = default;

  BOOL InitInstance() override { return CWinApp::InitInstance(); }
  int Run() override { return CWinApp::Run(); }
  BOOL PreTranslateMessage(tagMSG* pMsg) override { return CWinThread::PreTranslateMessage(pMsg); }
  BOOL PumpMessage() override { return CWinThread::PumpMessage(); }
  BOOL OnIdle(long lCount) override { return CWinApp::OnIdle(lCount); }
  BOOL IsIdleMessage(tagMSG* pMsg) override { return CWinThread::IsIdleMessage(pMsg); }
  int ExitInstance() override { return CWinApp::ExitInstance(); }
  CWnd* GetMainWnd() override { return CWinThread::GetMainWnd(); }
  int DoMessageBox(LPCSTR lpszPrompt, UINT nType, UINT nIDPrompt) override {
    return CWinApp::DoMessageBox(lpszPrompt, nType, nIDPrompt);
  }
  void DoWaitCursor(int nCode) override { CWinApp::DoWaitCursor(nCode); }
};

// The plug-in's application: the object the export command runs on.
//
// Pre-conditions of its operations, as the host calls them (see Entry.cpp):
// InitInstance runs once, with the plug-in's module state current and the
// instance handle set by AfxWinInit; OnChor runs only between a successful
// InitInstance and ExitInstance, with the plug-in's module state current.
class CTQMotionApp : public CPluginApp {
  DECLARE_MESSAGE_MAP()
 public:
  CTQMotionApp() = default;
  ~CTQMotionApp() override = default;

  // Loads the resource library beside the plug-in, then CWinApp's start-up.
  BOOL InitInstance() override;
  int ExitInstance() override;

  // The export command: a fresh record, the settings dialog, the export on
  // OK, the record freed, the host's views refreshed. Always 1.
  int OnChor(HChor* chor);
  // The screen-track export of the record in parameters. Always 0.
  int ChorWorking(HChor* chor);

  PParameters* parameters = nullptr;  // the record of the command that runs
  FileStream fileStream;              // the export's output
};

// Makes the file named like the module, with ".lng" for its extension, the
// current resource handle. 1 when it was loaded, else 0 (also when the
// module's path does not fit the 512-character buffer: the name would be
// wrong).
int SetAppLocalizationDLL(HINSTANCE module);
