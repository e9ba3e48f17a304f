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
#include <mutex>
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

// Another device at joystick ID `id`, as when a gamepad is plugged in while the wheel is out:
// the joysticks from `id` on move up by one, GetConfig(id) gives the stand-in's instance GUID and
// FindDevice gives that GUID for `path` (another HID device's interface). An empty path takes the
// stand-in away.
void SetJoystickStandIn(UINT id, const std::string& path);

// Called at the start of every GetConfig, on the caller's thread: a test holds a search there
// (DirectInput slow, or waiting on a lock). Unset: nothing.
void SetGetConfigHook(std::function<void()> hook);

}  // namespace hidwheel
