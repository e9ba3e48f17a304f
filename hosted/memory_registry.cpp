#include "memory_registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace hosted {

namespace {

std::string Lower(const std::string& s) {
    std::string out = s;
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::vector<std::string> SplitPath(const char* path) {
    std::vector<std::string> parts;
    if (path == nullptr) {
        return parts;
    }
    std::string current;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\') {
            if (!current.empty()) {
                parts.push_back(current);
            }
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty()) {
        parts.push_back(current);
    }
    return parts;
}

const char* const kRootNames[4] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                   "HKEY_USERS"};

}  // namespace

struct MemoryRegistry::Node {
    std::string name;
    Node* root = nullptr;
    Node* parent = nullptr;
    // Subkeys keyed by lower-case name, with creation order kept for enumeration.
    std::map<std::string, std::unique_ptr<Node>> children;
    std::vector<std::string> order;
    std::map<std::string, std::pair<std::string, Value>> values;  // lower name -> (name, value)
};

MemoryRegistry::MemoryRegistry() {
    for (int i = 0; i < 4; ++i) {
        roots_[i] = std::make_unique<Node>();
        roots_[i]->name = kRootNames[i];
        roots_[i]->root = roots_[i].get();
    }
}

MemoryRegistry::~MemoryRegistry() = default;

MemoryRegistry::Node* MemoryRegistry::RootNode(HKEY root) const {
    // Compared with the platform's own constants: 64-bit Windows sign-extends them.
    const HKEY roots[4] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};
    for (int i = 0; i < 4; ++i) {
        if (root == roots[i]) {
            return roots_[i].get();
        }
    }
    return nullptr;
}

MemoryRegistry::Node* MemoryRegistry::Resolve(HKEY key) const {
    if (Node* root = RootNode(key)) {
        return root;
    }
    const auto it = handles_.find(reinterpret_cast<uintptr_t>(key));
    return it == handles_.end() ? nullptr : it->second;
}

MemoryRegistry::Node* MemoryRegistry::Walk(Node* from, const char* subKey, bool create,
                                           bool* denied) {
    Node* node = from;
    for (const std::string& part : SplitPath(subKey)) {
        auto it = node->children.find(Lower(part));
        if (it == node->children.end()) {
            if (!create) {
                return nullptr;
            }
            if (readOnlyRoots_.count(node->root) != 0) {
                *denied = true;
                return nullptr;
            }
            auto child = std::make_unique<Node>();
            child->name = part;
            child->root = node->root;
            child->parent = node;
            node->order.push_back(Lower(part));
            it = node->children.emplace(Lower(part), std::move(child)).first;
        }
        node = it->second.get();
    }
    return node;
}

HKEY MemoryRegistry::NewHandle(Node* node) {
    const uintptr_t handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = node;
    return reinterpret_cast<HKEY>(handle);
}

LONG MemoryRegistry::OpenKey(HKEY root, const char* subKey, HKEY* result) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    Node* from = Resolve(root);
    if (from == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    bool denied = false;
    Node* node = Walk(from, subKey, false, &denied);
    if (node == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    *result = NewHandle(node);
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::CreateKey(HKEY root, const char* subKey, HKEY* result) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    Node* from = Resolve(root);
    if (from == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    bool denied = false;
    Node* node = Walk(from, subKey, true, &denied);
    if (node == nullptr) {
        return denied ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    }
    *result = NewHandle(node);
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::EnumKey(HKEY key, DWORD index, char* name, DWORD nameSize) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    Node* node = Resolve(key);
    if (node == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (index >= node->order.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const std::string& child = node->children.at(node->order[index])->name;
    if (child.size() + 1 > nameSize) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(name, child.c_str(), child.size() + 1);
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                                DWORD* dataSize) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    Node* node = Resolve(key);
    if (node == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    const auto it = node->values.find(Lower(valueName == nullptr ? "" : valueName));
    if (it == node->values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const Value& value = it->second.second;
    if (type != nullptr) {
        *type = value.type;
    }
    const auto size = static_cast<DWORD>(value.data.size());
    if (data == nullptr) {
        if (dataSize != nullptr) {
            *dataSize = size;
        }
        return ERROR_SUCCESS;
    }
    if (dataSize == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (*dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (size != 0) {
        std::memcpy(data, value.data.data(), size);
    }
    *dataSize = size;
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                              DWORD dataSize) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    Node* node = Resolve(key);
    if (node == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (readOnlyRoots_.count(node->root) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    const std::string name = valueName == nullptr ? "" : valueName;
    Value value;
    value.type = type;
    if (data != nullptr) {
        value.data.assign(data, data + dataSize);
    }
    node->values[Lower(name)] = {name, value};
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::CloseKey(HKEY key) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (RootNode(key) != nullptr) {
        return ERROR_SUCCESS;
    }
    return handles_.erase(reinterpret_cast<uintptr_t>(key)) == 1 ? ERROR_SUCCESS
                                                                 : ERROR_INVALID_HANDLE;
}

bool MemoryRegistry::KeyExists(HKEY root, const std::string& path) const {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    bool denied = false;
    return const_cast<MemoryRegistry*>(this)->Walk(RootNode(root), path.c_str(), false, &denied) !=
           nullptr;
}

bool MemoryRegistry::GetValue(HKEY root, const std::string& path, const std::string& name,
                              Value* out) const {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    bool denied = false;
    Node* node =
        const_cast<MemoryRegistry*>(this)->Walk(RootNode(root), path.c_str(), false, &denied);
    if (node == nullptr) {
        return false;
    }
    const auto it = node->values.find(Lower(name));
    if (it == node->values.end()) {
        return false;
    }
    if (out != nullptr) {
        *out = it->second.second;
    }
    return true;
}

std::string MemoryRegistry::GetString(HKEY root, const std::string& path,
                                      const std::string& name) const {
    Value value;
    if (!GetValue(root, path, name, &value) || value.type != REG_SZ) {
        return {};
    }
    std::string text(value.data.begin(), value.data.end());
    if (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

void MemoryRegistry::PutValue(HKEY root, const std::string& path, const std::string& name,
                              DWORD type, const void* data, size_t size) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    bool denied = false;
    Node* node = Walk(RootNode(root), path.c_str(), true, &denied);
    if (node == nullptr) {
        return;
    }
    Value value;
    value.type = type;
    const auto* bytes = static_cast<const BYTE*>(data);
    value.data.assign(bytes, bytes + size);
    node->values[Lower(name)] = {name, value};
}

void MemoryRegistry::PutDword(HKEY root, const std::string& path, const std::string& name,
                              uint32_t value) {
    const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                           static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    PutValue(root, path, name, REG_DWORD, bytes, sizeof bytes);
}

void MemoryRegistry::DeleteKey(HKEY root, const std::string& path) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    std::vector<std::string> parts = SplitPath(path.c_str());
    if (parts.empty()) {
        return;
    }
    const std::string last = Lower(parts.back());
    parts.pop_back();
    Node* parent = RootNode(root);
    for (const std::string& part : parts) {
        const auto it = parent->children.find(Lower(part));
        if (it == parent->children.end()) {
            return;
        }
        parent = it->second.get();
    }
    const auto it = parent->children.find(last);
    if (it == parent->children.end()) {
        return;
    }
    const Node* doomed = it->second.get();
    // Open handles into the deleted subtree become invalid, as on Windows.
    for (auto h = handles_.begin(); h != handles_.end();) {
        bool inside = false;
        for (const Node* n = h->second; n != nullptr && !inside; n = n->parent) {
            inside = n == doomed;
        }
        h = inside ? handles_.erase(h) : std::next(h);
    }
    parent->order.erase(std::remove(parent->order.begin(), parent->order.end(), last),
                        parent->order.end());
    parent->children.erase(it);
}

void MemoryRegistry::DeleteValue(HKEY root, const std::string& path, const std::string& name) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    bool denied = false;
    Node* node = Walk(RootNode(root), path.c_str(), false, &denied);
    if (node != nullptr) {
        node->values.erase(Lower(name));
    }
}

std::vector<std::string> MemoryRegistry::SubKeys(HKEY root, const std::string& path) const {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    bool denied = false;
    Node* node =
        const_cast<MemoryRegistry*>(this)->Walk(RootNode(root), path.c_str(), false, &denied);
    std::vector<std::string> names;
    if (node != nullptr) {
        for (const std::string& key : node->order) {
            names.push_back(node->children.at(key)->name);
        }
    }
    return names;
}

std::map<std::string, std::map<std::string, MemoryRegistry::Value>> MemoryRegistry::Snapshot()
    const {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    std::map<std::string, std::map<std::string, Value>> out;
    struct Walker {
        static void Visit(const Node* node, const std::string& path,
                          std::map<std::string, std::map<std::string, Value>>& out) {
            auto& values = out[path];
            for (const auto& entry : node->values) {
                values[entry.second.first] = entry.second.second;
            }
            for (const std::string& key : node->order) {
                const Node* child = node->children.at(key).get();
                Visit(child, path + "\\" + child->name, out);
            }
        }
    };
    for (const auto& root : roots_) {
        Walker::Visit(root.get(), root->name, out);
    }
    return out;
}

void MemoryRegistry::SetReadOnly(HKEY root, bool readOnly) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (readOnly) {
        readOnlyRoots_.insert(RootNode(root));
    } else {
        readOnlyRoots_.erase(RootNode(root));
    }
}

size_t MemoryRegistry::OpenHandles() const {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return handles_.size();
}

}  // namespace hosted
