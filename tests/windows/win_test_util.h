// Helpers for the tests that run under Wine: paths of the built libraries, registry
// inspection through advapi32, and running other programs.
#pragma once

#include <string>
#include <vector>

#include "common/platform.h"

namespace wintest {

// A Windows path for the Unix path in an environment variable (Wine maps Z: to /).
std::string DllPathFromEnv(const char* variable);

// Runs a command line and waits; returns its exit code, or -1 when it could not start.
int Run(const std::string& commandLine, DWORD timeoutMs = 60000);
// The same with the program's standard output and error on `output` (an inheritable handle).
int RunWithOutput(const std::wstring& commandLine, HANDLE output, DWORD timeoutMs = 60000);

// Reads a REG_SZ value; empty when missing.
std::string ReadString(HKEY root, const std::string& key, const char* valueName);
bool KeyExists(HKEY root, const std::string& key);
// Deletes a key and everything below it.
void DeleteTree(HKEY root, const std::string& key);

// Writes the wheel's installation data into the real registry.
void InstallWheelData();

// The Windows version Wine shows one program, by its file name ("win7", "winxp", ...), and
// back to the prefix's own.
bool SetAppVersion(const std::string& exeName, const char* version);
void ClearAppVersion(const std::string& exeName);

// Dump of every value under a key, recursively, "path|name|type|hexbytes" per line.
std::vector<std::string> DumpTree(HKEY root, const std::string& key);

}  // namespace wintest
