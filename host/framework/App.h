// Objects, command targets, message maps, threads and the application.
#pragma once

#include "host/framework/ModuleState.h"
#include "host/framework/Types.h"

class CWnd;

// Runtime class information, as far as GetRuntimeClass needs it.
struct CRuntimeClass {
  const char* m_lpszClassName;
  const CRuntimeClass* m_pBaseClass;
  bool IsDerivedFrom(const CRuntimeClass* base) const;
};

#define DECLARE_DYNAMIC(theClass)             \
 public:                                      \
  static const CRuntimeClass class##theClass; \
  const CRuntimeClass* GetRuntimeClass() const override;

#define IMPLEMENT_DYNAMIC(theClass, baseClass)                                               \
  const CRuntimeClass theClass::class##theClass = {#theClass, &baseClass::class##baseClass}; \
  const CRuntimeClass* theClass::GetRuntimeClass() const {                                   \
    return &theClass::class##theClass;                                                       \
  }

class CObject {
 public:
  static const CRuntimeClass classCObject;
  virtual const CRuntimeClass* GetRuntimeClass() const;
  virtual ~CObject();
  virtual void AssertValid() const {}
  virtual void Dump() const {}
  bool IsKindOf(const CRuntimeClass* cls) const { return GetRuntimeClass()->IsDerivedFrom(cls); }

 protected:
  CObject() = default;
};

class CCmdTarget;
using AFX_PMSG = void (CCmdTarget::*)();

// One entry of a message map: WM_COMMAND notifications with code nCode from
// the controls nID to nLastID go to pfn.
struct AFX_MSGMAP_ENTRY {
  UINT nMessage;
  UINT nCode;
  UINT nID;
  UINT nLastID;
  AFX_PMSG pfn;
};

struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                   \
 protected:                                     \
  static const AFX_MSGMAP* GetThisMessageMap(); \
                                                \
 public:                                        \
  const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)        \
  const AFX_MSGMAP* theClass::GetMessageMap() const { \
    return GetThisMessageMap();                       \
  }                                                   \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {   \
    using ThisClass = theClass;                       \
    using TheBaseClass = baseClass;                   \
    static_assert(sizeof(ThisClass) > 0);             \
    static const AFX_MSGMAP_ENTRY messageEntries[] = {
#define END_MESSAGE_MAP()                                                                      \
  { 0, 0, 0, 0, nullptr }                                                                      \
  }                                                                                            \
  ;                                                                                            \
  static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &messageEntries[0]}; \
  return &messageMap;                                                                          \
  }

#define ON_COMMAND(id, memberFxn)                               \
  {WM_COMMAND, 0, static_cast<UINT>(id), static_cast<UINT>(id), \
   static_cast<AFX_PMSG>(&ThisClass::memberFxn)},
#define ON_BN_CLICKED(id, memberFxn)                                     \
  {WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), static_cast<UINT>(id), \
   static_cast<AFX_PMSG>(&ThisClass::memberFxn)},
#define ON_CBN_SELCHANGE(id, memberFxn)                                     \
  {WM_COMMAND, CBN_SELCHANGE, static_cast<UINT>(id), static_cast<UINT>(id), \
   static_cast<AFX_PMSG>(&ThisClass::memberFxn)},

class CCmdTarget : public CObject {
  DECLARE_DYNAMIC(CCmdTarget)
 public:
  // Routes a command notification through the message map chain; TRUE when a
  // handler took it.
  virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo);
  virtual const AFX_MSGMAP* GetMessageMap() const;
  static const AFX_MSGMAP* GetThisMessageMap();

  // The wait cursor of the current application.
  void BeginWaitCursor();
  void EndWaitCursor();
};

class CWinThread : public CCmdTarget {
  DECLARE_DYNAMIC(CWinThread)
 public:
  virtual BOOL InitInstance();
  virtual int Run();
  virtual BOOL PreTranslateMessage(tagMSG* pMsg);
  virtual BOOL PumpMessage();
  virtual BOOL OnIdle(long lCount);
  virtual BOOL IsIdleMessage(tagMSG* pMsg);
  virtual int ExitInstance();
  virtual CWnd* GetMainWnd();

  CWnd* m_pMainWnd = nullptr;
};

// The application object. Its constructor makes it the current application
// of a module state, as ModuleState.h describes; its destructor withdraws it.
class CWinApp : public CWinThread {
  DECLARE_DYNAMIC(CWinApp)
  DECLARE_MESSAGE_MAP()
 public:
  explicit CWinApp(LPCSTR lpszAppName = nullptr);
  ~CWinApp() override;

  BOOL InitInstance() override;
  int Run() override;
  BOOL OnIdle(long lCount) override;
  int ExitInstance() override;
  // Shows a message box through the UI driver; answers its button.
  virtual int DoMessageBox(LPCSTR lpszPrompt, UINT nType, UINT nIDPrompt);
  // +1 shows the wait cursor (nested), -1 takes one level away.
  virtual void DoWaitCursor(int nCode);
  // The application's profile, where a program keeps its options between
  // runs. The host keeps it in memory for the process, as the registry
  // would keep it, and shares it with its plug-ins: an entry the host wrote
  // before it ran a command is what the command reads. nDefault for an entry
  // never written.
  UINT GetProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nDefault);
  BOOL WriteProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nValue);

  LPCSTR m_pszAppName;
  HINSTANCE m_hInstance = nullptr;
  AFX_MODULE_STATE* m_pModuleState;  // where this application is registered
  int m_nWaitCursorCount = 0;
};

// Shows the wait cursor for its lifetime.
class CWaitCursor {
 public:
  CWaitCursor();
  ~CWaitCursor();
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// A message box through the current application (or the UI driver).
int AfxMessageBox(LPCSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

// Start-up and shut-down of a module's framework use.
extern const char afxChNil[];
BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
void AfxWinTerm();
void AfxCoreInitModule();

struct AFX_EXTENSION_MODULE {
  BOOL bInitialized;
  HMODULE hModule;
  HMODULE hResource;
};

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule);
// Ends the extension module and frees the CDynLinkLibrary objects made from it.
void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll = FALSE);

// Registers an extension module with the framework, which owns the object
// from then on: AfxTermExtensionModule frees it, or process end does.
class CDynLinkLibrary : public CCmdTarget {
  DECLARE_DYNAMIC(CDynLinkLibrary)
 public:
  CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem = FALSE);
  ~CDynLinkLibrary() override;

  HMODULE m_hModule;
  HMODULE m_hResource;
  BOOL m_bSystem;
};

namespace tq::framework {
// The profile of CWinApp::GetProfileInt, as the host writes it for its
// plug-ins: the value of an entry, or its removal.
void WriteProfileEntry(const char* section, const char* entry, int value);
void RemoveProfileEntry(const char* section, const char* entry);
// The CDynLinkLibrary objects the framework holds now.
int DynLinkLibraryCount();
}  // namespace tq::framework
