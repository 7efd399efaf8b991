#include "config/ClassTable.h"

ClassEntry* ProgramClassTable() {
    static ClassEntry table[] = {
        {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
    };
    return table;
}
