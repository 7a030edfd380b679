// The host library's functions the designer imports by ordinal (see resources/cncs232.def).
#pragma once
#include <windows.h>

#include <cstdint>

extern "C" {
// Runs dialog `dialogId` modally; `param` reaches the procedure with WM_INITDIALOG.
int32_t __stdcall HostDialogBox(HINSTANCE instance, int32_t dialogId, HWND parent,
                                DLGPROC procedure, int32_t, int32_t, int32_t, void* param);
// The frame editor's drawing surface for a surface handle, or null.
void* __stdcall HostGetEditorSurface(uint32_t handle, int32_t);
}

// The host's members take `this` in ECX; a 64-bit build has one member convention only.
#if defined(__i386__)
#define CIPHREL_THISCALL __attribute__((thiscall))
#else
#define CIPHREL_THISCALL
#endif

// A drawing surface of the host. Its layout is the host's: callers hold it as 1024 bytes,
// which the host's implementation never exceeds, and drive it only through the members.
struct alignas(8) HostSurface {
    unsigned char storage[1024];

    void CIPHREL_THISCALL HostSurfaceConstruct();
    int32_t CIPHREL_THISCALL HostSurfaceCreate(int32_t width, int32_t height,
                                               void* editorSurface);
    int32_t CIPHREL_THISCALL HostSurfaceLoadBitmap(HINSTANCE instance, int32_t bitmapId,
                                                   int32_t flags);
    int32_t CIPHREL_THISCALL HostSurfaceBlit(void* destination, int32_t x, int32_t y,
                                             int32_t mode, int32_t, int32_t, int32_t);
    void CIPHREL_THISCALL HostSurfaceDestruct();
};
static_assert(sizeof(HostSurface) == 1024 && alignof(HostSurface) == 8);
