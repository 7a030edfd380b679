// Opens the setup dialog of a new object, as placing one in the editor does, and keeps it
// up until asked to close, so that a picture of it can be taken.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "designer/edit_data.h"
#include "designer/editor_record.h"
#include "designer/exports.h"
#include "testhost/module_api.h"

namespace {

constexpr UINT_PTR ReportTimer = 1;
constexpr UINT_PTR CloseTimer = 2;
constexpr UINT PollMilliseconds = 100;

std::string exchangeFolder;     // the dialog's frame is written here; "close" ends it
bool scheduled = false;

uint32_t CIPHREL_STDCALL HostVersion105() { return 0x01050000; }

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

VOID CALLBACK WatchForClose(HWND dialog, UINT, UINT_PTR, DWORD) {
    if (!Exists(exchangeFolder + "/close")) return;
    KillTimer(dialog, CloseTimer);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
}

// Runs in the modal loop, after the dialog has been filled and shown. The frame is written
// to a temporary name first, so a reader never sees half of it.
VOID CALLBACK ReportFrame(HWND dialog, UINT, UINT_PTR timer, DWORD) {
    KillTimer(dialog, timer);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT frame;
    GetWindowRect(dialog, &frame);
    const std::string partial = exchangeFolder + "/frame.part";
    if (FILE* file = std::fopen(partial.c_str(), "w")) {
        std::fprintf(file, "%ld %ld %ld %ld\n", frame.left, frame.top,
                     frame.right - frame.left, frame.bottom - frame.top);
        std::fclose(file);
        MoveFileA(partial.c_str(), (exchangeFolder + "/frame").c_str());
    }
    SetTimer(dialog, CloseTimer, PollMilliseconds, WatchForClose);
}

LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && !scheduled) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char name[16] = {};
        GetClassNameA(window, name, sizeof name);
        if (std::string(name) == "#32770") {
            scheduled = true;
            SetTimer(window, ReportTimer, PollMilliseconds, ReportFrame);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dialog_shot <exchange folder>\n");
        return 2;
    }
    exchangeFolder = argv[1];
    HMODULE module = static_cast<HMODULE>(LoadModule().moduleHandle);
    auto createObject = reinterpret_cast<decltype(&::CreateObject)>(
        reinterpret_cast<void*>(GetProcAddress(module, "CreateObject")));
    if (createObject == nullptr) {
        std::fprintf(stderr, "dialog_shot: ciphrel.dll exports no CreateObject\n");
        return 2;
    }

    void* editor[256] = {};
    editor[EditorGetVersionEntry] = reinterpret_cast<void*>(HostVersion105);
    EditData record{};
    record.size = EditDataSize;
    record.version = EditDataVersion;

    HHOOK hook = SetWindowsHookExA(WH_CBT, WatchCreation, nullptr, GetCurrentThreadId());
    const int32_t result = createObject(editor, 0, &record);
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    if (!scheduled) {
        std::fprintf(stderr, "dialog_shot: no dialog opened (CreateObject gave %d)\n",
                     static_cast<int>(result));
        return 1;
    }
    return 0;
}
