// An in-memory registry with the Win32 semantics the libraries rely on: case-insensitive key
// and value names, nested keys created on demand, handles that must be closed, ERROR_MORE_DATA
// for short buffers. Roots can be made read-only to check what registration does without
// write access.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/registry.h"

namespace hosted {

class MemoryRegistry final : public wheel::RegistryApi {
  public:
    struct Value {
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };

    MemoryRegistry();
    ~MemoryRegistry() override;

    LONG OpenKey(HKEY root, const char* subKey, HKEY* result) override;
    LONG CreateKey(HKEY root, const char* subKey, HKEY* result) override;
    LONG EnumKey(HKEY key, DWORD index, char* name, DWORD nameSize) override;
    LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                    DWORD* dataSize) override;
    LONG SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                  DWORD dataSize) override;
    LONG CloseKey(HKEY key) override;

    // Test helpers that work on paths ("SYSTEM\\...") under a root, without handles.
    bool KeyExists(HKEY root, const std::string& path) const;
    bool GetValue(HKEY root, const std::string& path, const std::string& name, Value* out) const;
    std::string GetString(HKEY root, const std::string& path, const std::string& name) const;
    void PutValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                  const void* data, size_t size);
    void PutDword(HKEY root, const std::string& path, const std::string& name, uint32_t value);
    void DeleteKey(HKEY root, const std::string& path);
    void DeleteValue(HKEY root, const std::string& path, const std::string& name);
    // Names of the subkeys in creation order.
    std::vector<std::string> SubKeys(HKEY root, const std::string& path) const;
    // A flat dump "ROOT\\path" -> value names, for comparing whole states.
    std::map<std::string, std::map<std::string, Value>> Snapshot() const;

    void SetReadOnly(HKEY root, bool readOnly);
    // Handles handed out and not yet closed.
    size_t OpenHandles() const;

  private:
    struct Node;
    Node* RootNode(HKEY root) const;
    Node* Resolve(HKEY key) const;
    Node* Walk(Node* from, const char* subKey, bool create, bool* denied);
    HKEY NewHandle(Node* node);

    mutable std::recursive_mutex mutex_;
    std::unique_ptr<Node> roots_[4];
    std::map<uintptr_t, Node*> handles_;
    uintptr_t nextHandle_ = 0x1000;
    std::set<Node*> readOnlyRoots_;
};

}  // namespace hosted
