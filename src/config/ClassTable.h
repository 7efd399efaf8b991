// The COM classes that the server exposes, in registration order.
#pragma once
#include "host/ServiceHost.h"

ClassEntry* ProgramClassTable();
