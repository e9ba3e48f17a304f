// What Wine's DirectInput lacks for the wheel, supplied on the test side: the DirectX 7
// joystick-configuration interface (a joystick ID's instance GUID, the calibration it holds) and
// IDirectInput7::FindDevice for a HID interface path. Everything else is Wine's own DirectInput:
// the proxy forwards every other call to it, so devices, their state and acquisition are real.
//
// A module (the driver DLL, the property-sheet DLL, or a program itself) gets the proxy by having
// its imports of dinput.dll's DirectInputCreateEx and DirectInputCreateA redirected.
#pragma once

#include "common/platform.h"

#include <functional>
#include <string>

namespace hidwheel {

// Points a module's import of dll!function at replacement, in its import address table. False
// when the module does not import it.
bool RedirectImport(HMODULE module, const char* dll, const char* function, void* replacement);

// The module that holds the code of a COM object: the one its method table lies in.
HMODULE ModuleOfObject(const void* object);

// Redirects whichever of DirectInputCreateEx and DirectInputCreateA `module` imports to the
// proxy. False when it imports neither.
bool SupplyJoyConfig(HMODULE module);

// The proxy's creation functions, for callers that create DirectInput themselves.
HRESULT WINAPI ShimDirectInputCreateEx(HINSTANCE instance, DWORD version, REFIID riid, void** out,
                                       IUnknown* outer);
HRESULT WINAPI ShimDirectInputCreateA(HINSTANCE instance, DWORD version, IDirectInputA** out,
                                      IUnknown* outer);

// Every call the supplied pieces answer ("get-config id=0 flags=0x00000001 hr=0x00000000",
// "find-device hr=..."), for a host's log. Unset: silent.
void SetShimLog(std::function<void(const std::string&)> log);

}  // namespace hidwheel
