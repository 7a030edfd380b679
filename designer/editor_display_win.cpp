// Frame-editor exports: icon, editor picture, rectangle, size, information, no-op exports.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "designer/editor_object.h"
#include "designer/editor_record.h"
#include "designer/exports.h"
#include "designer/host_library_win.h"
#include "resources/resource_ids.h"
#include "runtime/module_win.h"

namespace {

constexpr int32_t IconMissing = -1;
constexpr int32_t SurfaceSize = 4;          // width and height the surface is created with
constexpr int32_t LoadBitmapFlags = 1;
constexpr int32_t BlitMode = 1;
constexpr int InfoTextSize = 255;           // each information buffer, NUL included

// Constructs the surface at once and destroys it on every way out of the scope.
class SurfaceScope {
public:
    explicit SurfaceScope(HostSurface* surface) : surface(surface) {
        surface->HostSurfaceConstruct();
    }
    ~SurfaceScope() { surface->HostSurfaceDestruct(); }
    SurfaceScope(const SurfaceScope&) = delete;
    SurfaceScope& operator=(const SurfaceScope&) = delete;

private:
    HostSurface* surface;
};

void LoadInfo(UINT id, char* text) {
    if (text == nullptr) return;
    text[0] = '\0';                 // string 131 is absent on purpose: an empty comment
    LoadStringA(moduleInstance, id, text, InfoTextSize);
}

}  // namespace

extern "C" {

int32_t CIPHREL_STDCALL MakeIcon(void*, uint8_t* icon, int32_t, int32_t, int32_t) {
    HRSRC found = FindResourceA(moduleInstance, MAKEINTRESOURCEA(IDB_ICON), RT_BITMAP);
    if (found == nullptr) return IconMissing;
    HGLOBAL loaded = LoadResource(moduleInstance, found);
    if (loaded == nullptr) return IconMissing;
    const auto* bitmap = static_cast<const uint8_t*>(LockResource(loaded));
    if (bitmap == nullptr) {
        FreeResource(loaded);
        return IconMissing;
    }
    // Never read past the resource, whatever its header claims.
    uint32_t size = PackedBitmapSize(bitmap);
    const DWORD available = SizeofResource(moduleInstance, found);
    if (size > available) size = available;
    std::memcpy(icon, bitmap, size);
    FreeResource(loaded);
    return 0;
}

// The host's caller guarantees 4-byte stack alignment only; the surface needs 8.
__attribute__((force_align_arg_pointer))
void CIPHREL_STDCALL EditorDisplay(void* editorRecord, int32_t, int32_t, int32_t,
                                   ObjectRect* rect) {
    const auto handle = static_cast<uint32_t>(
        reinterpret_cast<uintptr_t>(EditorRecordEntry(editorRecord, EditorSurfaceEntry)));
    void* editorSurface = HostGetEditorSurface(handle, 0);
    if (editorSurface == nullptr) return;
    const int32_t left = rect->left;
    const int32_t top = rect->top;

    HostSurface surface;
    SurfaceScope scope(&surface);
    surface.HostSurfaceCreate(SurfaceSize, SurfaceSize, editorSurface);
    surface.HostSurfaceLoadBitmap(moduleInstance, IDB_PICTURE, LoadBitmapFlags);
    surface.HostSurfaceBlit(editorSurface, left, top, BlitMode, 0, 0, 0);
}

void CIPHREL_STDCALL GetObjectRect(void*, ObjectRect* rect, int32_t, EditData* record) {
    CompleteObjectRect(rect, record);
}

int32_t CIPHREL_STDCALL ModifyObject(void*, EditData* record, int32_t, int32_t, int32_t kind,
                                     const uint8_t* sizeRecord) {
    ApplyModification(record, kind, sizeRecord);
    return 0;
}

void CIPHREL_STDCALL GetObjInfos(void*, int32_t, char* name, char* author, char* copyright,
                                 char* comment, char* web) {
    LoadInfo(IDS_INFO_NAME, name);
    LoadInfo(IDS_INFO_AUTHOR, author);
    LoadInfo(IDS_INFO_COPYRIGHT, copyright);
    LoadInfo(IDS_INFO_COMMENT, comment);
    LoadInfo(IDS_INFO_WEB, web);
}

int32_t CIPHREL_STDCALL LoadObject(int32_t, int32_t, int32_t, int32_t) { return 0; }
void CIPHREL_STDCALL UnloadObject(int32_t, int32_t, int32_t) {}
void CIPHREL_STDCALL UpdateFileNames(int32_t, int32_t, int32_t, int32_t) {}
void CIPHREL_STDCALL PutObject(int32_t, int32_t, int32_t, int32_t) {}
void CIPHREL_STDCALL RemoveObject(int32_t, int32_t, int32_t, int32_t) {}
void CIPHREL_STDCALL AppendPopup(int32_t, int32_t, int32_t, int32_t, int32_t) {}
int32_t CIPHREL_STDCALL RebuildExt(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
void CIPHREL_STDCALL EndModifyObject(int32_t, int32_t, int32_t) {}
int32_t CIPHREL_STDCALL IsTransparent(int32_t, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int32_t CIPHREL_STDCALL UsesFile(int32_t) { return 0; }
void CIPHREL_STDCALL CreateFromFile(int32_t, int32_t) {}
int32_t CIPHREL_STDCALL EnumElts(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}

}  // extern "C"
