// Entry point and the edit-time record upgrade, which needs the Windows global heap.
#include <windows.h>

#include "designer/editor_record.h"
#include "runtime/exports.h"
#include "runtime/module_win.h"

HINSTANCE moduleInstance = nullptr;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) moduleInstance = instance;
    return TRUE;
}

}  // extern "C"

// The host takes an upgraded record over, so it comes from the Windows global heap.
void* AllocateHostRecord(uint32_t size) {
    return GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size);
}
