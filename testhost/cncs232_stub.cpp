// Stand-in host library: runs dialogs and logs every host-library call in order.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "designer/host_library_win.h"
#include "testhost/cncs232_stub.h"

namespace {

StubCall calls[StubMaxCalls];
int32_t callCount = 0;
void* editorSurfaceAnswer = nullptr;

void Record(int32_t ordinal, const void* self, std::initializer_list<uintptr_t> args) {
    if (callCount < StubMaxCalls) {
        StubCall& call = calls[callCount];
        call = StubCall{ordinal, self, static_cast<int32_t>(args.size()), {}};
        int32_t i = 0;
        for (uintptr_t value : args)
            if (i < 8) call.args[i++] = value;
    }
    ++callCount;
}

uintptr_t Word(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }
uintptr_t Word(int32_t value) { return static_cast<uint32_t>(value); }

}  // namespace

extern "C" {

int32_t __stdcall HostDialogBox(HINSTANCE instance, int32_t dialogId, HWND parent,
                                DLGPROC procedure, int32_t a5, int32_t a6, int32_t a7,
                                void* param) {
    Record(12, nullptr, {Word(instance), Word(dialogId), Word(parent),
                         Word(reinterpret_cast<void*>(procedure)), Word(a5), Word(a6), Word(a7),
                         Word(param)});
    return static_cast<int32_t>(DialogBoxParamA(instance, MAKEINTRESOURCEA(dialogId), parent,
                                                procedure, reinterpret_cast<LPARAM>(param)));
}

void* __stdcall HostGetEditorSurface(uint32_t handle, int32_t a2) {
    Record(191, nullptr, {handle, Word(a2)});
    return editorSurfaceAnswer;
}

void __stdcall StubReset(void* editorSurface) {
    callCount = 0;
    editorSurfaceAnswer = editorSurface;
}

int32_t __stdcall StubCallCount() { return callCount; }

const StubCall* __stdcall StubCallAt(int32_t index) {
    return index >= 0 && index < callCount && index < StubMaxCalls ? &calls[index] : nullptr;
}

}  // extern "C"

// The host may use all 1024 bytes it was promised: a smaller caller's stack shows it.
void HostSurface::HostSurfaceConstruct() {
    std::memset(storage, 0x5A, sizeof storage);
    Record(308, this, {});
}

int32_t HostSurface::HostSurfaceCreate(int32_t width, int32_t height, void* editorSurface) {
    Record(340, this, {Word(width), Word(height), Word(editorSurface)});
    return 1;
}

int32_t HostSurface::HostSurfaceLoadBitmap(HINSTANCE instance, int32_t bitmapId,
                                           int32_t flags) {
    Record(395, this, {Word(instance), Word(bitmapId), Word(flags)});
    return 1;
}

int32_t HostSurface::HostSurfaceBlit(void* destination, int32_t x, int32_t y, int32_t mode,
                                     int32_t a5, int32_t a6, int32_t a7) {
    Record(336, this, {Word(destination), Word(x), Word(y), Word(mode), Word(a5), Word(a6),
                       Word(a7)});
    return 1;
}

void HostSurface::HostSurfaceDestruct() {
    Record(313, this, {});
    std::memset(storage, 0xA5, sizeof storage);
}
