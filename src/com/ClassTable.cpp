#include "com/ClassTable.h"

#include "com/ClassFactory.h"
#include "com/ComObject.h"
#include "com/LaunchObject.h"
#include "com/ModuleObject.h"
#include "resource.h"
#include "Guids.h"

std::span<const ClassEntry> ProgramClassTable() {
    static constexpr ClassEntry table[] = {
        {&kClsidLaunch, IDR_LAUNCH_SCRIPT, &CreateClassObject<&CreateObjectInstance<LaunchObject>>,
         &CreateObjectInstance<LaunchObject>},
        {&kClsidModule, IDR_MODULE_SCRIPT, &CreateClassObject<&CreateObjectInstance<ModuleObject>>,
         &CreateObjectInstance<ModuleObject>},
    };
    return table;
}
