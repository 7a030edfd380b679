// Edit-time exports of the real module, driven as the host's editors drive them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "designer/edit_data.h"
#include "designer/editor_record.h"
#include "designer/exports.h"
#include "testhost/cncs232_stub.h"
#include "testhost/module_api.h"
#include "testhost/test_host.h"

namespace {

HMODULE Module() { return static_cast<HMODULE>(LoadModule().moduleHandle); }
FARPROC Export(const char* name) { return GetProcAddress(Module(), name); }
// An export of the module, resolved by its plain name and called through its declaration.
#define EXPORT(name) reinterpret_cast<decltype(&::name)>(reinterpret_cast<void*>(Export(#name)))

// The log of the stand-in host library beside the module.
template <typename F> F Stub(const char* name) {
    Module();
    HMODULE stub = GetModuleHandleA("cncs232.dll");
    return stub ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(stub, name)))
                : nullptr;
}
void ResetLog(void* editorSurface) { Stub<StubResetFunction>("StubReset")(editorSurface); }
std::vector<StubCall> LoggedCalls() {
    std::vector<StubCall> calls;
    for (int32_t i = 0; const StubCall* call = Stub<StubCallAtFunction>("StubCallAt")(i); ++i)
        calls.push_back(*call);
    return calls;
}

uintptr_t Word(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

uint32_t CIPHREL_STDCALL Version105() { return 0x01050000; }
uint32_t CIPHREL_STDCALL Version107Build42() { return 0x0107002A; }
uint32_t CIPHREL_STDCALL Version104() { return 0x0104FFFF; }
constexpr uint32_t SurfaceHandle = 0x5EED;

struct Editor : HostEditorRecord {
    explicit Editor(HostGetVersionFunction version = Version105, HWND parent = nullptr)
        : HostEditorRecord(version, parent, SurfaceHandle) {}
};

EditData Record(uint16_t flags, const char* characters, const char* codes) {
    EditData record;
    std::memset(&record, 0x77, sizeof record);
    record.size = EditDataSize;
    record.version = EditDataVersion;
    record.flags = flags;
    record.width = 50;
    std::memset(record.filterCharacters, 0, sizeof record.filterCharacters);
    std::strncpy(record.filterCharacters, characters, MaxFilterCharacters);
    uint16_t list[MaxFilterCodes + 1];
    ParseCodeList(list, MaxFilterCodes, codes);
    std::memcpy(record.filterCodes, list, sizeof list);
    return record;
}

std::string Codes(const EditData& record) {
    uint16_t list[MaxFilterCodes + 1];
    std::memcpy(list, record.filterCodes, sizeof list);
    char text[CodeListTextSize];
    FormatCodeList(text, list);
    return text;
}

// One line per item, nested items indented, read with GetMenuItemInfoA (a path the module
// does not use); separators are reported grayed, so only other items are marked.
void DescribeMenu(HMENU menu, const std::string& indent, std::vector<std::string>* lines) {
    for (int position = 0; position < GetMenuItemCount(menu); ++position) {
        char text[128] = {};
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        GetMenuItemInfoA(menu, static_cast<UINT>(position), TRUE, &info);
        const bool marked =
                !(info.fType & MFT_SEPARATOR) && info.fState & (MFS_GRAYED | MFS_CHECKED);
        lines->push_back(indent + std::to_string(info.hSubMenu ? 0 : info.wID) + text +
                         (marked ? " (grayed or checked)" : ""));
        if (info.hSubMenu) DescribeMenu(info.hSubMenu, indent + "  ", lines);
    }
}

// Runs `script` inside the next dialog this thread opens, once WM_INITDIALOG has filled it,
// for as long as the driver lives; `view` is what the dialog first showed.
struct DialogDriver {
    explicit DialogDriver(std::function<void(HWND)> s) : script(std::move(s)) {
        current = this;
        hook = SetWindowsHookExA(WH_CBT, Watch, nullptr, GetCurrentThreadId());
    }
    ~DialogDriver() { UnhookWindowsHookEx(hook); }
    static LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam) {
        char name[16] = {};
        if (code == HCBT_CREATEWND && GetClassNameA(HWND(wParam), name, sizeof name) &&
            std::string(name) == "#32770" && current->shown++ == 0)
            SetTimer(HWND(wParam), 1, 0, Run);
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static VOID CALLBACK Run(HWND dialog, UINT, UINT_PTR timer, DWORD) {
        KillTimer(dialog, timer);
        char title[64] = {}, characters[64] = {}, codes[256] = {};
        GetWindowTextA(dialog, title, sizeof title);
        GetDlgItemTextA(dialog, 9002, characters, sizeof characters);
        GetDlgItemTextA(dialog, 9003, codes, sizeof codes);
        const bool picture = SendDlgItemMessageA(dialog, 9001, STM_GETIMAGE, IMAGE_BITMAP, 0);
        current->view = std::string(title) + "|" + char('0' + IsDlgButtonChecked(dialog, 9008)) +
                        char('0' + IsDlgButtonChecked(dialog, 9009)) + "|" + characters + "|" +
                        codes + "|" + (picture ? "picture" : "");
        current->script(dialog);
    }
    static inline DialogDriver* current = nullptr;
    std::function<void(HWND)> script;
    int shown = 0;
    std::string view;
    HHOOK hook;
};

void Click(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(dialog, id)));
}
void PressOk(HWND dialog) { Click(dialog, IDOK); }

#if defined(__i386__)
// Pushes `count` 32-bit arguments, calls the __stdcall function and returns how many bytes
// of them it removed: 4 * count exactly when its signature takes `count` arguments.
int32_t ArgumentBytesPopped(FARPROC function, const uintptr_t* args, int32_t count) {
    int32_t popped;
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "1:\n\t"
        "testl %%ecx, %%ecx\n\t"
        "jz 2f\n\t"
        "pushl -4(%%edx,%%ecx,4)\n\t"
        "decl %%ecx\n\t"
        "jmp 1b\n"
        "2:\n\t"
        "movl %%esp, %%edi\n\t"
        "call *%%ebx\n\t"
        "movl %%esp, %%eax\n\t"
        "subl %%edi, %%eax\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(popped), "+c"(count), "+d"(args)
        : "b"(function)
        : "esi", "edi", "memory", "cc");
    return popped;
}
#endif

}  // namespace

// Every export resolves by its plain name; under the 32-bit calling convention, where the
// callee removes its arguments, each removes exactly those of its declaration.
TEST(DesignerExports, EachResolvesByNameAndRemovesItsArguments) {
    ASSERT_NE(Stub<StubResetFunction>("StubReset"), nullptr) << "no stand-in cncs232.dll";
    ResetLog(nullptr);                          // EditorDisplay then draws nothing
    Editor old(Version104), current;            // no dialog, no strings, no menu
    char t[256], i[5][256];
    uint8_t icon[1024];
    ObjectRect rect = {0, 0, 0, 0};
    EditData record = Record(1, "", "10 12 13");
    const uint8_t size[8] = {};
    const uintptr_t o = Word(old.Record()), e = Word(current.Record()), d = Word(&record), n = 256;
    const std::pair<const char*, std::vector<uintptr_t>> cases[] = {
            {"GetConditionMenu", {o, 0, 0}}, {"GetActionMenu", {o, 0, 0}},
            {"GetExpressionMenu", {o, 0, 0}}, {"GetConditionCodeFromMenu", {e, 26000}},
            {"GetActionCodeFromMenu", {e, 25000}}, {"GetExpressionCodeFromMenu", {e, 27000}},
            {"GetConditionInfos", {e, 0}}, {"GetActionInfos", {e, 0}},
            {"GetExpressionInfos", {e, 0}}, {"GetConditionString", {e, 0, Word(t), n}},
            {"GetActionString", {e, 0, Word(t), n}}, {"GetExpressionString", {e, 0, Word(t), n}},
            {"GetConditionTitle", {e, 1, 0, Word(t), n}}, {"GetActionTitle", {e, 0, 0, Word(t), n}},
            {"GetExpressionTitle", {e, 0, Word(t), n}}, {"CreateObject", {o, 0, d}},
            {"SelectPopup", {e, 0, 0, 0, d, 0, 0}}, {"MakeIcon", {e, Word(icon), 0, 0, 0}},
            {"EditorDisplay", {e, 0, 0, 0, Word(&rect)}}, {"GetObjectRect", {e, Word(&rect), 0, d}},
            {"ModifyObject", {e, d, 0, 0, 1, Word(size)}},
            {"GetObjInfos", {e, 0, Word(i[0]), Word(i[1]), Word(i[2]), Word(i[3]), Word(i[4])}},
            {"LoadObject", {0, 0, 0, 0}}, {"UnloadObject", {0, 0, 0}},
            {"UpdateFileNames", {0, 0, 0, 0}}, {"PutObject", {0, 0, 0, 0}},
            {"RemoveObject", {0, 0, 0, 0}}, {"AppendPopup", {0, 0, 0, 0, 0}},
            {"RebuildExt", {0, 0, 0, 0, 0, 0}}, {"EndModifyObject", {0, 0, 0}}, {"UsesFile", {0}},
            {"IsTransparent", {0, 0, 0, 0, 0}}, {"CreateFromFile", {0, 0}},
            {"EnumElts", {0, 0, 0, 0, 0, 0}},
    };
    for (const auto& [name, args] : cases) {
        ASSERT_NE(Export(name), nullptr) << name;
#if defined(__i386__)
        const auto count = static_cast<int32_t>(args.size());
        EXPECT_EQ(ArgumentBytesPopped(Export(name), args.data(), count), 4 * count) << name;
#endif
    }
}

// The menus are copies of the module's menu resources, given only to a host of 1.05 or later;
// their codes and descriptors are checked natively.
TEST(DesignerExports, Menus) {
    const std::pair<void*(CIPHREL_STDCALL*)(void*, int32_t, int32_t), int> menus[] = {
            {EXPORT(GetActionMenu), 20000},
            {EXPORT(GetConditionMenu), 20001},
            {EXPORT(GetExpressionMenu), 20002}};
    for (const auto& [get, resource] : menus) {
        std::vector<std::string> expected, copied;
        HMENU loaded = LoadMenuA(Module(), MAKEINTRESOURCEA(resource));
        DescribeMenu(GetSubMenu(loaded, 0), "", &expected);
        DestroyMenu(loaded);
        ASSERT_GT(expected.size(), 10u);
        Editor editor(Version107Build42);
        HMENU menu = static_cast<HMENU>(get(editor.Record(), 0, 0));
        DescribeMenu(menu, "", &copied);
        EXPECT_EQ(copied, expected) << resource;
        EXPECT_TRUE(DestroyMenu(menu)) << "the host owns a menu it can destroy";
        for (HostGetVersionFunction version : {Version104, HostGetVersionFunction{nullptr}}) {
            Editor old(version);
            EXPECT_EQ(get(old.Record(), 0, 0), nullptr) << resource;
        }
    }
}

TEST(DesignerExports, DisplayTextsAndTitles) {
    const std::tuple<void(CIPHREL_STDCALL*)(void*, int32_t, char*, int32_t), int32_t, UINT>
            kinds[] = {{EXPORT(GetConditionString), 8, 6000},
                       {EXPORT(GetActionString), 15, 5000},
                       {EXPORT(GetExpressionString), 15, 7000}};
    Editor editor, old(Version104);
    for (const auto& [get, count, base] : kinds) {
        for (int32_t code = 0; code < count; ++code) {
            char expected[256] = {}, text[256];
            ASSERT_GT(LoadStringA(Module(), base + 10 * UINT(code), expected, sizeof expected), 0);
            get(editor.Record(), code, text, sizeof text);
            EXPECT_STREQ(text, expected);
        }
        char text[16] = "untouched";
        get(old.Record(), 1, text, sizeof text);
        EXPECT_STREQ(text, "untouched");
    }
    char text[256];
    std::memset(text, '#', sizeof text);
    EXPORT(GetActionString)(editor.Record(), 7, text, 5);
    EXPECT_EQ(std::string(text, 6), std::string("Encr\0#", 6));
    EXPORT(GetConditionTitle)(nullptr, 2, 0, text, sizeof text);
    EXPECT_STREQ(text, "Enter the Character");
    EXPORT(GetActionTitle)(nullptr, 7, 1, text, sizeof text);
    EXPECT_STREQ(text, "Enter the File");
    EXPORT(GetExpressionTitle)(nullptr, 4, text, sizeof text);     // the expression's menu text
    EXPECT_STREQ(text, "Convert an Integer Back to a Float");
}

// A new object's dialog opens on fresh values, kept even on Cancel; an old host gets none.
TEST(SetupDialog, NewObject) {
    for (auto version : {Version107Build42, Version104, HostGetVersionFunction{nullptr}}) {
        for (bool ok : {true, false}) {
            EditData record = Record(2, "xyz", "1 2");
            const EditData before = record;
            Editor editor(version);
            DialogDriver driver([ok](HWND dialog) {
                CheckDlgButton(dialog, 9009, BST_CHECKED);
                Click(dialog, ok ? IDOK : IDCANCEL);
            });
            const bool opens = version == Version107Build42;
            EXPECT_EQ(EXPORT(CreateObject)(editor.Record(), 0, &record), opens && ok ? 0 : -1);
            EXPECT_EQ(driver.shown, opens ? 1 : 0);
            EXPECT_EQ(driver.view, opens ? "Ciphrel Encryption Object|10||10 12 13 |picture" : "");
            EXPECT_EQ(record.flags, !opens ? 2 : ok ? 3 : 1);
            EXPECT_EQ(Codes(record), opens ? "10 12 13 " : "1 2 ");
            EXPECT_EQ(record.hostVersion, opens ? 0x0107002Au : before.hostVersion);
            EXPECT_EQ(std::memcmp(&record, &before, 8), 0) << "size, header and version";
        }
    }
}

TEST(SetupDialog, ShowsTheRecordAndOkStoresWhatWasEntered) {
    std::string thirty;
    for (int i = 1; i <= 30; ++i) thirty += std::to_string(i) + " ";
    struct Case { uint16_t flags; const char* typed; std::string codes, characters, stored; };
    const Case cases[] = {
            {3, "a b", "7, 300, 65", "a b", "7 65 "},
            {0xFFFE, "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzz", thirty, std::string(24, 'z'),
             thirty.substr(0, 66)},
            // Only the first 99 characters of the codes box are read: "1234" cut to 12.
            {1, "", std::string(97, ' ') + "1234", "", "12 "},
            {0, " ", std::string(99, ' ') + "5", " ", ""},
    };
    for (const Case& c : cases) {
        EditData record = Record(c.flags, "ab", "255 0 7");
        DialogDriver driver([&c](HWND dialog) {
            for (int box : {9008, 9009})
                CheckDlgButton(dialog, box, !IsDlgButtonChecked(dialog, box));
            SetDlgItemTextA(dialog, 9002, "");
            for (const char* k = c.typed; *k; ++k)
                SendMessageA(GetDlgItem(dialog, 9002), WM_CHAR, static_cast<unsigned char>(*k), 0);
            SetDlgItemTextA(dialog, 9003, c.codes.c_str());
            PressOk(dialog);
        });
        Editor editor;
        EXPECT_EQ(EXPORT(SelectPopup)(editor.Record(), 2020, 0, 0, &record, 0, 0), 4);
        EXPECT_EQ(driver.view, "Ciphrel Encryption Object|" + std::to_string(c.flags & 1) +
                                   std::to_string(c.flags >> 1 & 1) + "|ab|255 0 7 |picture");
        EXPECT_EQ(record.flags, c.flags ^ 3) << "both boxes flipped, other bits kept";
        EXPECT_EQ(std::string(record.filterCharacters), c.characters);
        EXPECT_EQ(Codes(record), c.stored);
    }
}

// A preset fills the two boxes alone; Cancel leaves the record. The dialog is the host
// library's, given the module's template and the editor's window.
TEST(SetupDialog, PresetsCancelAndTheHostsDialogBox) {
    HWND parent = CreateWindowExA(0, "STATIC", "editor", WS_OVERLAPPED, 0, 0, 10, 10,
                                  nullptr, nullptr, nullptr, nullptr);
    for (bool ok : {true, false}) {
        EditData record = Record(FlagNoPadding, "old", "1 2 3");
        const EditData before = record;
        bool noPadding = false;
        Editor editor(Version105, parent);
        ResetLog(nullptr);
        DialogDriver driver([&](HWND dialog) {
            Click(dialog, 9007);
            noPadding = IsDlgButtonChecked(dialog, 9009) == BST_CHECKED;
            Click(dialog, ok ? IDOK : IDCANCEL);
        });
        EXPECT_EQ(EXPORT(SelectPopup)(editor.Record(), 2020, 0, 0, &record, 0, 0), ok ? 4 : 0);
        EXPECT_TRUE(noPadding);
        const std::string stored = std::string(record.filterCharacters) + "|" + Codes(record);
        EXPECT_EQ(stored, ok ? "&=,. ?+|9 10 12 13 " : "old|1 2 3 ");
        EXPECT_EQ(std::memcmp(&record, &before, sizeof record) == 0, !ok);
        const std::vector<StubCall> calls = LoggedCalls();
        ASSERT_EQ(calls.size(), 1u);
        ASSERT_EQ(calls[0].ordinal * 100 + calls[0].argCount, 1208);
        const uintptr_t* a = calls[0].args;
        EXPECT_EQ(std::vector<uintptr_t>(a, a + 7),
                  (std::vector<uintptr_t>{Word(Module()), 20003, Word(parent), a[3], 0, 0, 3}));
        EXPECT_TRUE(a[3] != 0 && a[7] != 0);
    }
    DestroyWindow(parent);
    // Other commands, and a host older than 1.05, open nothing.
    EditData record = Record(1, "", "10");
    Editor editor, old(Version104);
    DialogDriver driver(PressOk);
    for (int32_t command : {0, 2019, 2021, 0x10000 + 2020})
        EXPECT_EQ(EXPORT(SelectPopup)(editor.Record(), command, 0, 0, &record, 0, 0), 0);
    EXPECT_EQ(EXPORT(SelectPopup)(old.Record(), 2020, 0, 0, &record, 0, 0), 0);
    EXPECT_EQ(driver.shown, 0);
}

TEST(EditorObject, IconPictureAndInformation) {
    HRSRC found = FindResourceA(Module(), MAKEINTRESOURCEA(400), RT_BITMAP);
    ASSERT_EQ(SizeofResource(Module(), found), 616u);
    const auto* bitmap = static_cast<const uint8_t*>(LockResource(LoadResource(Module(), found)));
    uint8_t icon[1024];
    std::memset(icon, 0xEE, sizeof icon);
    Editor editor;
    EXPECT_EQ(EXPORT(MakeIcon)(editor.Record(), icon, 0, 0, 0), 0);
    EXPECT_EQ(std::memcmp(icon, bitmap, 616), 0);
    EXPECT_EQ(icon[616], 0xEE);

    // The picture is bitmap 401 drawn at the rectangle's top left through one surface, or
    // nothing without an editor surface.
    int editorSurface = 0;
    for (void* surface : {static_cast<void*>(&editorSurface), static_cast<void*>(nullptr)}) {
        ResetLog(surface);
        ObjectRect rect = {-5, 7, 0, 0};
        EXPORT(EditorDisplay)(editor.Record(), 0, 0, 0, &rect);
        const std::vector<StubCall> calls = LoggedCalls();
        const std::vector<std::pair<int32_t, std::vector<uintptr_t>>> expected = {
            {191, {SurfaceHandle, 0}}, {308, {}}, {340, {4, 4, Word(surface)}},
            {395, {Word(Module()), 401, 1}}, {336, {Word(surface), uint32_t(-5), 7, 1, 0, 0, 0}},
            {313, {}}};
        ASSERT_EQ(calls.size(), surface ? expected.size() : 1u);
        for (size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].ordinal, expected[i].first) << i;
            EXPECT_EQ(std::vector<uintptr_t>(calls[i].args, calls[i].args + calls[i].argCount),
                      expected[i].second) << i;
            EXPECT_TRUE(i < 2 || calls[i].self == calls[1].self) << i;
        }
        EXPECT_TRUE(!surface || Word(calls[1].self) % 8 == 0) << "surface storage alignment";
    }

    char texts[5][255];
    EXPORT(GetObjInfos)(nullptr, 0, texts[0], texts[1], texts[2], texts[3], texts[4]);
    EXPECT_STREQ(texts[0], "Ciphrel Encryption Object");
    EXPECT_TRUE(*texts[1] && *texts[2] && !*texts[3]);
    EXPECT_EQ(std::string(texts[4]).rfind("http", 0), 0u);
}
