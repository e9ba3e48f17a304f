// Velquin's module-wide state, shared by the sheet, the pages and the device code.
#pragma once

#include "common/platform.h"
#include "common/services.h"

namespace velquin {

// The module handle given at process attach: the page records' hInstance, the instance the
// window classes are registered in, and the module whose path registration writes.
extern HINSTANCE moduleInstance;
// Guards device creation and the Calibration page's range update; lives from process attach
// to process detach.
extern CRITICAL_SECTION deviceLock;
// Live sheets, live factories and outstanding LockServer(TRUE) calls.
extern wheel::ModuleCount objectCount;

}  // namespace velquin
