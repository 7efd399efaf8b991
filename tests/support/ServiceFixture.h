// Base of the tests that run corvane.exe as the demand-start service "Corvane", configured
// through its registry keys.
#pragma once
#include "support/ProductKeys.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

class ProductServiceTest : public testing::Test {
protected:
    // Creates the service and the AppID value that makes a plain run become the service; launching
    // on, everything else off, as a first run would write it (and no tray icon).
    static void CreateProductService();
    // Stops and deletes the service, waits until its process has ended, and removes its keys.
    static void RemoveProductService();

    static void SetSetting(const char* name, DWORD value);
    // Runs corvane.com with arguments (UTF-8), its output redirected, and waits for it.
    struct CompanionRun {
        DWORD code;
        std::string out;  // UTF-8, as a redirected stream gets it
        std::string err;
    };
    static CompanionRun RunCompanion(const std::string& arguments);
    static void AddApplication(const std::string& name, DWORD instances, const std::string& exePath,
                               const std::string& args);

    // Each waits until the service reached the state; Stop also until its process has ended,
    // so that nothing of it can still act afterwards.
    static void Start();
    static void Stop();
    static void Control(DWORD control, DWORD state);
};
