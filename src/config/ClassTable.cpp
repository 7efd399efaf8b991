#include "config/ClassTable.h"

#include "config/ClassFactory.h"
#include "config/ComObject.h"
#include "config/LaunchObject.h"
#include "config/ModuleObject.h"
#include "Guids.h"

ClassEntry* ProgramClassTable() {
    // Neither class has a description, a category map or a start and end hook.
    static ClassEntry table[] = {
        {&kClsidLaunch, nullptr, &CreateClassObject<&CreateObjectInstance<LaunchObject>>,
         &CreateObjectInstance<LaunchObject>, nullptr, 0, nullptr, nullptr, nullptr},
        {&kClsidModule, nullptr, &CreateClassObject<&CreateObjectInstance<ModuleObject>>,
         &CreateObjectInstance<ModuleObject>, nullptr, 0, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
    };
    return table;
}
