#include "config/ClassTable.h"

#include "config/ClassFactory.h"
#include "config/ComObject.h"
#include "config/LaunchObject.h"
#include "config/ModuleObject.h"
#include "registrar/RegistrarScript.h"
#include "resource.h"
#include "Guids.h"

namespace {

HRESULT UpdateLaunchRegistry(bool doRegister) { return RunRegistrationScript(IDR_LAUNCH_SCRIPT, doRegister); }
HRESULT UpdateModuleRegistry(bool doRegister) { return RunRegistrationScript(IDR_MODULE_SCRIPT, doRegister); }

}  // namespace

ClassEntry* ProgramClassTable() {
    // Neither class has a description, a category map or a start and end hook.
    static ClassEntry table[] = {
        {&kClsidLaunch, &UpdateLaunchRegistry, &CreateClassObject<&CreateObjectInstance<LaunchObject>>,
         &CreateObjectInstance<LaunchObject>, nullptr, 0, nullptr, nullptr, nullptr},
        {&kClsidModule, &UpdateModuleRegistry, &CreateClassObject<&CreateObjectInstance<ModuleObject>>,
         &CreateObjectInstance<ModuleObject>, nullptr, 0, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
    };
    return table;
}
