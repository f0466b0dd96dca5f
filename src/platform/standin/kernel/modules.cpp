// SPDX-License-Identifier: MIT
// The table of components LoadLibraryA can find, and their reference counts.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/standin/kernel/kernel.h"
#include "platform/standin/kernel/modules.h"

namespace {

struct LoadedComponent {
    standin::ComponentDescription description;
    int loadCount = 0;
};

// Handles are small numbers far from null and from HINSTANCE_ERROR, so that callers can
// compare them with 32 and keep them in a DWORD as the component's older users do.
constexpr ULONG_PTR kFirstHandle = 0x7A000;
constexpr ULONG_PTR kHandleStep = 0x10;

struct ComponentTable {
    std::mutex lock;
    std::vector<LoadedComponent> components;
    UINT errorMode = 0;
};

ComponentTable& Table() {
    static ComponentTable table;
    return table;
}

std::string BaseName(const char* name) {
    std::string base = name ? name : "";
    std::size_t slash = base.find_last_of("\\/");
    if (slash != std::string::npos) base.erase(0, slash + 1);
    if (base.size() > 4 && strcasecmp(base.c_str() + base.size() - 4, ".dll") == 0)
        base.resize(base.size() - 4);
    return base;
}

LoadedComponent* FindByName(ComponentTable& table, const char* name) {
    std::string wanted = BaseName(name);
    for (LoadedComponent& component : table.components)
        if (strcasecmp(BaseName(component.description.fileName).c_str(), wanted.c_str()) == 0)
            return &component;
    return nullptr;
}

HMODULE HandleOf(ComponentTable& table, const LoadedComponent* component) {
    auto index = static_cast<ULONG_PTR>(component - table.components.data());
    return reinterpret_cast<HMODULE>(kFirstHandle + index * kHandleStep);
}

LoadedComponent* FindByHandle(ComponentTable& table, HMODULE module) {
    auto value = reinterpret_cast<ULONG_PTR>(module);
    if (value < kFirstHandle || (value - kFirstHandle) % kHandleStep != 0) return nullptr;
    ULONG_PTR index = (value - kFirstHandle) / kHandleStep;
    return index < table.components.size() ? &table.components[index] : nullptr;
}

bool IsPresent(const LoadedComponent& component) {
    return component.description.alwaysLoaded || component.loadCount > 0;
}

}  // namespace

namespace standin {

void RegisterComponent(const ComponentDescription& description) {
    ComponentTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    if (LoadedComponent* existing = FindByName(table, description.fileName)) {
        existing->description = description;
        return;
    }
    table.components.push_back({description, 0});
}

bool ComponentMissing(const char* name) {
    const char* list = std::getenv("ZAMBREL_MISSING");
    if (!list || !name) return false;
    std::string all = list;
    std::size_t start = 0;
    while (start <= all.size()) {
        std::size_t end = all.find(',', start);
        if (end == std::string::npos) end = all.size();
        std::string item = all.substr(start, end - start);
        while (!item.empty() && item.front() == ' ') item.erase(0, 1);
        while (!item.empty() && item.back() == ' ') item.pop_back();
        if (strcasecmp(item.c_str(), name) == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace standin

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
    ComponentTable& table = Table();
    void (*onLoad)() = nullptr;
    HMODULE handle = nullptr;
    {
        std::lock_guard<std::mutex> guard(table.lock);
        LoadedComponent* component = FindByName(table, fileName);
        if (!component || standin::ComponentMissing(component->description.hiddenBy)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        ++component->loadCount;
        // Every load runs it: what it sets up may have been torn down since.
        onLoad = component->description.onLoad;
        handle = HandleOf(table, component);
    }
    // Outside the lock: loading a component may register window classes, which may in turn
    // look up components.
    if (onLoad) onLoad();
    return handle;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    if (!moduleName) return nullptr;
    ComponentTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    LoadedComponent* component = FindByName(table, moduleName);
    if (!component || !IsPresent(*component) ||
        standin::ComponentMissing(component->description.hiddenBy))
        return nullptr;
    return HandleOf(table, component);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    ComponentTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    LoadedComponent* component = FindByHandle(table, module);
    if (component && IsPresent(*component) && procName) {
        const standin::ComponentDescription& description = component->description;
        for (std::size_t i = 0; i < description.exportCount; ++i) {
            const standin::ComponentExport& entry = description.exports[i];
            if (std::strcmp(entry.name, procName) == 0 &&
                !standin::ComponentMissing(entry.hiddenBy))
                return entry.proc;
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    ComponentTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    LoadedComponent* component = FindByHandle(table, module);
    if (!component || component->loadCount == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --component->loadCount;
    return TRUE;
}

DWORD WINAPI LoadModule(LPCSTR moduleName, LPVOID) {
    HMODULE module = LoadLibraryA(moduleName);
    if (!module) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(module));
}

UINT WINAPI SetErrorMode(UINT mode) {
    ComponentTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    UINT previous = table.errorMode;
    table.errorMode = mode;
    return previous;
}
