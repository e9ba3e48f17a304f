// The registry data the wheel's installation writes: the OEM key that names the wheel and its
// property sheet, and the force-feedback key with the driver's CLSID, the device attributes and
// the twelve effect types. This table is the one source for every form of it (the .reg file,
// the installer script, the test set-up).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/registry.h"

namespace install {

struct RegEntry {
    HKEY root;
    std::string key;
    // Empty: the key's default value. `type` REG_NONE: the key alone.
    std::string valueName;
    DWORD type;
    std::vector<uint8_t> data;
    // For the installer script: the value as NSIS text written verbatim (a macro parameter such
    // as "${DRAVIK}") instead of `data`.
    const char* nsisValue = nullptr;
};

// Every key and value, parents before children.
std::vector<RegEntry> WheelRegistryData();

// Writes the table through a registry; returns the first error, or ERROR_SUCCESS.
LONG WriteWheelData(wheel::RegistryApi& registry);

// The table as a REGEDIT4 file.
std::string WheelDataRegFile();
std::string WheelDataRegFile(const std::vector<RegEntry>& entries);

// NSIS lines that write the table, and lines that remove what they wrote: the force-feedback
// and axes subtrees and the OEM key's own values, while the OEM key itself stays as long as it
// holds the user's Amplify. The calibration is DirectInput's (its calibration keys, or the joystick
// settings on Windows 98/Me), and the uninstaller does not touch it.
std::string WheelDataNsisInstall();
std::string WheelDataNsisInstall(const std::vector<RegEntry>& entries);
std::string WheelDataNsisUninstall();
std::string WheelDataNsisUninstall(const std::vector<RegEntry>& entries);
// Uninstaller lines that count in the script's `$Failed` each of those that is still there,
// and the OEM key when it is left empty.
std::string WheelDataNsisUninstallCheck();
std::string WheelDataNsisUninstallCheck(const std::vector<RegEntry>& entries);
// The COM classes of one bitness as the installers write them, with the same values as
// DllRegisterServer: each class key's description, InProcServer32 (the installed file,
// ThreadingModel "Both") and the sheet's InProcHandler32. The keys are under
// HKLM\Software\Classes, where HKEY_CLASSES_ROOT's writes go for an administrator.
std::vector<RegEntry> ClassRegistrationData(const std::string& dravikPath,
                                            const std::string& velquinPath);
// NSIS macros over that table, used once per registry view: `WheelWriteClasses DRAVIK VELQUIN`
// writes it, and `WheelCheckClasses DRAVIK VELQUIN` reads every value back and adds one to
// $R9 (and prints what it found) for each that is not exactly what was written.
std::string ClassRegistrationNsis();

// The force-feedback key's name as an NSIS define (WHEEL_FF_KEY).
std::string WheelDataNsisDefines();

// A quoted string of each format: a .reg file escapes `\` and `"` with a backslash; NSIS writes
// `$` as `$$` and `"` as `$\"` (and line breaks and tabs as `$\r`, `$\n`, `$\t`).
std::string RegQuote(const std::string& text);
std::string NsisQuote(const std::string& text);

// A GUID as the hex bytes of a REG_BINARY value (its in-memory layout), e.g. for `reg add /d`.
std::string GuidBinaryHex(const GUID& guid);

}  // namespace install
