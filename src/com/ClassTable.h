// The COM classes that the server exposes, in registration order.
#pragma once
#include "com/ServerLifetime.h"

#include <windows.h>
#include <objbase.h>
#include <span>

// One COM class that the server exposes.
struct ClassEntry {
    const CLSID* clsid;
    UINT registrationScript;  // REGISTRY resource that registers and removes the class
    HRESULT (*createClassObject)(ComServer& server, REFIID iid, void** object);
    HRESULT (*createInstance)(ComServer& server, IUnknown* outer, REFIID iid, void** object);
};

std::span<const ClassEntry> ProgramClassTable();
