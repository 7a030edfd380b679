// The host's edit-time record: an array of pointer-sized entries (32-bit in the module).
#pragma once
#include <cstdint>
#include <cstring>
#include "runtime/host.h"

constexpr int EditorSurfaceEntry = 3;       // editor surface handle
constexpr int EditorParentEntry = 5;        // parent window for dialogs
constexpr int EditorGetVersionEntry = 159;  // HostGetVersion, or null: version 0
constexpr uint32_t MinimumHostVersion = 0x01050000;     // 1.05; the low 16 bits are ignored

using HostGetVersionFunction = uint32_t (CIPHREL_STDCALL*)();

inline void* EditorRecordEntry(const void* editorRecord, int entry) {
    void* value;
    const size_t offset = static_cast<size_t>(entry) * sizeof(void*);
    std::memcpy(&value, static_cast<const char*>(editorRecord) + offset, sizeof value);
    return value;
}

// The host's version, or 0 when the record offers no HostGetVersion.
inline uint32_t HostVersion(const void* editorRecord) {
    auto get = reinterpret_cast<HostGetVersionFunction>(
        EditorRecordEntry(editorRecord, EditorGetVersionEntry));
    return get != nullptr ? get() : 0;
}

// Menus, strings, CreateObject and SelectPopup refuse hosts older than 1.05.
inline bool HostVersionOk(const void* editorRecord) {
    auto get = reinterpret_cast<HostGetVersionFunction>(
        EditorRecordEntry(editorRecord, EditorGetVersionEntry));
    return get != nullptr && (get() & 0xFFFF0000u) >= MinimumHostVersion;
}
