// The one process-wide object of the service host: COM server state, the service's identity
// and status, the configuration key paths and the state shared with the tray.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <atomic>
#include <string>

// One COM class that the server exposes. A table ends with an entry whose clsid is null.
struct ClassEntry {
    const CLSID* clsid;
    HRESULT (*updateRegistry)(bool doRegister);
    HRESULT (*createClassObject)(REFIID iid, void** object);
    HRESULT (*createInstance)(IUnknown* outer, REFIID iid, void** object);
    IUnknown* cachedClassObject;
    DWORD cookie;
    const char* (*description)();
    const void* (*categoryMap)();
    void (*startEndHook)(bool starting);
};

class ServiceHost {
public:
    // COM server part.
    HINSTANCE instance = nullptr;
    HINSTANCE resourceInstance = nullptr;
    HINSTANCE typeLibraryInstance = nullptr;
    ClassEntry* classTable = nullptr;
    volatile LONG lockCount = 0;
    CRITICAL_SECTION typeInfoLock{};
    CRITICAL_SECTION windowCreationLock{};
    CRITICAL_SECTION classTableLock{};
    void* windowCreationList = nullptr;

    // Service part.
    NOTIFYICONDATAA trayIconData{};
    std::string serviceName;
    std::string parametersKeyPath;
    std::string modulesKeyPath;
    std::string helpFileName;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    SERVICE_STATUS status{};
    std::atomic<DWORD> messageThreadId{0};
    std::atomic<bool> isService{false};
    std::atomic<bool> isRunning{false};
    std::atomic<bool> startedByCom{false};
    HWND mainWindow = nullptr;
    UINT_PTR timerId = 0;
    std::atomic<bool> trayIconAdded{false};
    std::atomic<bool> logoffSeen{false};
    std::atomic<bool> wasPaused{false};

    void InitHost(ClassEntry* table, HINSTANCE module, UINT serviceNameId, const GUID* typeLibrary);
    int PrepareRun();
    void StartHost();
    void EndRun();
    void SetServiceState(DWORD state);
    void RunMessageLoop();
    LONG ReleaseServerLock();
    bool IsServiceRunning() const;

    static void WINAPI ServiceMain(DWORD argc, char** argv);
    static void WINAPI ServiceControlHandler(DWORD code);
    static BOOL WINAPI ConsoleControlHandler(DWORD type);
};

ServiceHost& Host();

// GUID of the program's type library, copied by InitHost.
extern GUID typeLibraryId;
