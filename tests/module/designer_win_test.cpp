// Designer exports of the real module, driven as the host's editors drive them.
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

#define DESIGNER_EXPORTS(X)                                                                 \
    X(GetConditionMenu) X(GetActionMenu) X(GetExpressionMenu) X(GetConditionCodeFromMenu)  \
    X(GetActionCodeFromMenu) X(GetExpressionCodeFromMenu) X(GetConditionInfos)              \
    X(GetActionInfos) X(GetExpressionInfos) X(GetConditionString) X(GetActionString)        \
    X(GetExpressionString) X(GetConditionTitle) X(GetActionTitle) X(GetExpressionTitle)     \
    X(CreateObject) X(SelectPopup) X(MakeIcon) X(EditorDisplay) X(GetObjectRect)            \
    X(ModifyObject) X(GetObjInfos) X(LoadObject) X(UnloadObject) X(UpdateFileNames)         \
    X(PutObject) X(RemoveObject) X(AppendPopup) X(RebuildExt) X(EndModifyObject)            \
    X(IsTransparent) X(UsesFile) X(CreateFromFile) X(EnumElts)

struct DesignerApi {
#define CIPHREL_DECLARE(name) decltype(&::name) name;
    DESIGNER_EXPORTS(CIPHREL_DECLARE)
#undef CIPHREL_DECLARE
};

HMODULE Module() { return static_cast<HMODULE>(LoadModule().moduleHandle); }

FARPROC Export(const char* name) { return GetProcAddress(Module(), name); }

const DesignerApi& Designer() {
    static const DesignerApi api = [] {
        DesignerApi resolved{};
#define CIPHREL_RESOLVE(name) \
    resolved.name = reinterpret_cast<decltype(resolved.name)>( \
        reinterpret_cast<void*>(Export(#name)));
        DESIGNER_EXPORTS(CIPHREL_RESOLVE)
#undef CIPHREL_RESOLVE
        return resolved;
    }();
    return api;
}

// The stand-in host library's log, reached through its named exports.
struct HostLibrary {
    StubResetFunction reset;
    StubCallCountFunction count;
    StubCallAtFunction at;
};

const HostLibrary& Library() {
    static const HostLibrary library = [] {
        Module();       // loading the module loads the host library beside it
        HMODULE stub = GetModuleHandleA("cncs232.dll");
        HostLibrary found{};
        if (stub == nullptr) return found;
        found.reset = reinterpret_cast<StubResetFunction>(
            reinterpret_cast<void*>(GetProcAddress(stub, "StubReset")));
        found.count = reinterpret_cast<StubCallCountFunction>(
            reinterpret_cast<void*>(GetProcAddress(stub, "StubCallCount")));
        found.at = reinterpret_cast<StubCallAtFunction>(
            reinterpret_cast<void*>(GetProcAddress(stub, "StubCallAt")));
        return found;
    }();
    return library;
}

std::vector<StubCall> LoggedCalls() {
    std::vector<StubCall> calls;
    for (int32_t i = 0; const StubCall* call = Library().at(i); ++i) calls.push_back(*call);
    return calls;
}

uintptr_t Word(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

// ---- The host's edit-time record ------------------------------------------------------

uint32_t CIPHREL_STDCALL Version105() { return 0x01050000; }
uint32_t CIPHREL_STDCALL Version107Build42() { return 0x0107002A; }
uint32_t CIPHREL_STDCALL Version105Build() { return 0x0105FFFF; }
uint32_t CIPHREL_STDCALL Version104() { return 0x0104FFFF; }
uint32_t CIPHREL_STDCALL Version2() { return 0x02000000; }

constexpr uint32_t SurfaceHandle = 0x5EED;

struct Editor : HostEditorRecord {
    explicit Editor(HostGetVersionFunction version = Version105, HWND parent = nullptr)
        : HostEditorRecord(version, parent, SurfaceHandle) {}
};

// ---- Records ----------------------------------------------------------------------------

EditData HostRecord(uint16_t flags, const char* characters, std::vector<uint16_t> codes) {
    EditData record;
    std::memset(&record, 0x77, sizeof record);      // the alignment bytes keep this
    record.size = EditDataSize;
    const uint8_t header[4] = {1, 2, 3, 4};
    std::memcpy(record.hostHeader, header, sizeof header);
    record.version = EditDataVersion;
    record.flags = flags;
    record.reserved = 0;
    record.height = 60;
    record.width = 50;
    std::memset(record.filterCharacters, 0, sizeof record.filterCharacters);
    std::strncpy(record.filterCharacters, characters, MaxFilterCharacters);
    uint16_t list[MaxFilterCodes + 1];
    size_t n = 0;
    for (; n < codes.size() && n < MaxFilterCodes; ++n) list[n] = codes[n];
    list[n] = CodeListEnd;
    std::memcpy(record.filterCodes, list, (n + 1) * sizeof(uint16_t));
    record.hostVersion = 0x01050000;
    return record;
}

std::vector<uint16_t> Codes(const EditData& record) {
    uint16_t list[MaxFilterCodes + 1];
    std::memcpy(list, record.filterCodes, sizeof list);
    std::vector<uint16_t> codes;
    for (int i = 0; i <= MaxFilterCodes && list[i] != CodeListEnd; ++i) codes.push_back(list[i]);
    return codes;
}

std::vector<uint16_t> Range(uint16_t first, uint16_t last) {
    std::vector<uint16_t> values;
    for (uint16_t v = first; v <= last; ++v) values.push_back(v);
    return values;
}

// ---- Menus --------------------------------------------------------------------------------

// One line per item, nested items indented: "popup Files", "  25070 Encrypt a File",
// "  separator". Read with GetMenuItemInfoA, a path the module does not use.
void DescribeMenu(HMENU menu, const std::string& indent, std::vector<std::string>* lines,
                  std::vector<std::string>* faults) {
    const int count = GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        char text[128] = {};
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        if (!GetMenuItemInfoA(menu, static_cast<UINT>(position), TRUE, &info)) {
            faults->push_back(indent + "unreadable item");
            continue;
        }
        // The system reports every separator as grayed; only real items must be enabled.
        const bool separator = (info.fType & MFT_SEPARATOR) != 0;
        if (!separator && (info.fState & (MFS_GRAYED | MFS_CHECKED)))
            faults->push_back(indent + text + " is grayed or checked");
        if (separator) {
            lines->push_back(indent + "separator");
        } else if (info.hSubMenu != nullptr) {
            lines->push_back(indent + "popup " + text);
            DescribeMenu(info.hSubMenu, indent + "  ", lines, faults);
        } else {
            lines->push_back(indent + std::to_string(info.wID) + " " + text);
        }
    }
}

using MenuExport = void*(CIPHREL_STDCALL*)(void*, int32_t, int32_t);

struct MenuCase {
    const char* name;
    MenuExport menu;
    int32_t resource;
    size_t lines;               // items in the resource's first popup, nested ones included
};

std::vector<MenuCase> MenuCases() {
    const DesignerApi& d = Designer();
    return {
        {"actions", d.GetActionMenu, 20000, 22},
        {"conditions", d.GetConditionMenu, 20001, 13},
        {"expressions", d.GetExpressionMenu, 20002, 23},
    };
}

// The first popup of the module's menu resource, described like a copy.
std::vector<std::string> ResourceMenu(int32_t resource) {
    std::vector<std::string> lines;
    std::vector<std::string> faults;
    HMENU loaded = LoadMenuA(Module(), MAKEINTRESOURCEA(resource));
    if (loaded == nullptr) return lines;
    DescribeMenu(GetSubMenu(loaded, 0), "", &lines, &faults);
    DestroyMenu(loaded);
    return lines;
}

// ---- Driving the setup dialog ------------------------------------------------------------

// What a script saw when the dialog came up, before it acted.
struct DialogView {
    std::string caption;
    bool controlCodes = false;
    bool noPadding = false;
    std::string characters;
    std::string codes;
    bool hasPicture = false;
};

struct DialogRun {
    std::function<void(HWND)> script;       // acts, then ends the dialog
    bool scheduled = false;
    int shown = 0;
    DialogView view;
};

DialogRun* currentRun = nullptr;

std::string ItemText(HWND dialog, int id) {
    char text[256] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void Click(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void Type(HWND dialog, int id, const std::string& keys) {
    HWND box = GetDlgItem(dialog, id);
    for (char c : keys) SendMessageA(box, WM_CHAR, static_cast<unsigned char>(c), 0);
}

// Runs inside the dialog's modal loop, so after WM_INITDIALOG has filled the controls.
VOID CALLBACK RunScript(HWND dialog, UINT, UINT_PTR timer, DWORD) {
    KillTimer(dialog, timer);
    DialogRun* run = currentRun;
    if (run == nullptr) return;
    ++run->shown;
    char caption[128] = {};
    GetWindowTextA(dialog, caption, sizeof caption);
    run->view.caption = caption;
    run->view.controlCodes = IsDlgButtonChecked(dialog, 9008) == BST_CHECKED;
    run->view.noPadding = IsDlgButtonChecked(dialog, 9009) == BST_CHECKED;
    run->view.characters = ItemText(dialog, 9002);
    run->view.codes = ItemText(dialog, 9003);
    run->view.hasPicture = SendDlgItemMessageA(dialog, 9001, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0;
    run->script(dialog);
}

LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && currentRun != nullptr && !currentRun->scheduled) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char name[16] = {};
        GetClassNameA(window, name, sizeof name);
        if (std::strcmp(name, "#32770") == 0) {
            currentRun->scheduled = true;
            SetTimer(window, 1, 0, RunScript);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Installs `script` for the next dialog this thread opens, for the driver's lifetime.
class DialogDriver {
public:
    explicit DialogDriver(std::function<void(HWND)> script) : previous(currentRun) {
        run.script = std::move(script);
        currentRun = &run;
        hook = SetWindowsHookExA(WH_CBT, WatchCreation, nullptr, GetCurrentThreadId());
    }
    ~DialogDriver() {
        if (hook != nullptr) UnhookWindowsHookEx(hook);
        currentRun = previous;
    }
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    int Shown() const { return run.shown; }
    const DialogView& View() const { return run.view; }
    bool Hooked() const { return hook != nullptr; }

private:
    DialogRun run;
    DialogRun* previous;
    HHOOK hook = nullptr;
};

void PressOk(HWND dialog) { Click(dialog, IDOK); }
void PressCancel(HWND dialog) { Click(dialog, IDCANCEL); }

#if defined(__i386__)
// ---- Calling an export with a given number of arguments --------------------------------

// Pushes `count` 32-bit arguments, calls the __stdcall function and returns how many bytes
// of them it removed: 4 * count exactly when its signature takes `count` arguments.
int32_t ArgumentBytesPopped(FARPROC function, const uint32_t* args, int32_t count) {
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

#endif  // __i386__

}  // namespace

// ---- Exports ------------------------------------------------------------------------------

TEST(DesignerExports, EveryExportResolvesByPlainName) {
#define CIPHREL_CHECK(name) EXPECT_NE(Export(#name), nullptr) << #name;
    DESIGNER_EXPORTS(CIPHREL_CHECK)
#undef CIPHREL_CHECK
    EXPECT_NE(Library().reset, nullptr) << "the stand-in cncs232.dll is not loaded";
}

// Only the 32-bit calling convention has the callee remove its arguments.
#if defined(__i386__)
TEST(DesignerExports, EachRemovesItsDocumentedArguments) {
    ASSERT_NE(Library().reset, nullptr);
    Library().reset(nullptr);                  // EditorDisplay then draws nothing
    Editor old(Version104);                    // no dialog, no strings, no menu
    Editor current;
    char text[256];
    char infos[5][256];
    uint8_t icon[1024];
    ObjectRect rect = {0, 0, 0, 0};
    EditData record = HostRecord(1, "", {10, 12, 13});
    const uint8_t size[8] = {};
    const uint32_t oldEditor = Word(old.Record());
    const uint32_t editor = Word(current.Record());
    const uint32_t buffer = Word(text);
    const uint32_t data = Word(&record);

    struct Case {
        const char* name;
        std::vector<uint32_t> args;
    };
    const Case cases[] = {
        {"GetConditionMenu", {oldEditor, 0, 0}},
        {"GetActionMenu", {oldEditor, 0, 0}},
        {"GetExpressionMenu", {oldEditor, 0, 0}},
        {"GetConditionCodeFromMenu", {editor, 26000}},
        {"GetActionCodeFromMenu", {editor, 25000}},
        {"GetExpressionCodeFromMenu", {editor, 27000}},
        {"GetConditionInfos", {editor, 0}},
        {"GetActionInfos", {editor, 0}},
        {"GetExpressionInfos", {editor, 0}},
        {"GetConditionString", {editor, 0, buffer, sizeof text}},
        {"GetActionString", {editor, 0, buffer, sizeof text}},
        {"GetExpressionString", {editor, 0, buffer, sizeof text}},
        {"GetConditionTitle", {editor, 1, 0, buffer, sizeof text}},
        {"GetActionTitle", {editor, 0, 0, buffer, sizeof text}},
        {"GetExpressionTitle", {editor, 0, buffer, sizeof text}},
        {"CreateObject", {oldEditor, 0, data}},
        {"SelectPopup", {editor, 0, 0, 0, data, 0, 0}},
        {"MakeIcon", {editor, Word(icon), 0, 0, 0}},
        {"EditorDisplay", {editor, 0, 0, 0, Word(&rect)}},
        {"GetObjectRect", {editor, Word(&rect), 0, data}},
        {"ModifyObject", {editor, data, 0, 0, 1, Word(size)}},
        {"GetObjInfos", {editor, 0, Word(infos[0]), Word(infos[1]), Word(infos[2]),
                         Word(infos[3]), Word(infos[4])}},
        {"LoadObject", {0, 0, 0, 0}},
        {"UnloadObject", {0, 0, 0}},
        {"UpdateFileNames", {0, 0, 0, 0}},
        {"PutObject", {0, 0, 0, 0}},
        {"RemoveObject", {0, 0, 0, 0}},
        {"AppendPopup", {0, 0, 0, 0, 0}},
        {"RebuildExt", {0, 0, 0, 0, 0, 0}},
        {"EndModifyObject", {0, 0, 0}},
        {"IsTransparent", {0, 0, 0, 0, 0}},
        {"UsesFile", {0}},
        {"CreateFromFile", {0, 0}},
        {"EnumElts", {0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        FARPROC function = Export(c.name);
        ASSERT_NE(function, nullptr) << c.name;
        const auto count = static_cast<int32_t>(c.args.size());
        EXPECT_EQ(ArgumentBytesPopped(function, c.args.data(), count), 4 * count) << c.name;
    }
}
#endif  // __i386__

TEST(DesignerExports, DoNothingExportsAnswerZero) {
    const DesignerApi& d = Designer();
    EXPECT_EQ(d.LoadObject(1, 2, 3, 4), 0);
    EXPECT_EQ(d.RebuildExt(1, 2, 3, 4, 5, 6), 0);
    EXPECT_EQ(d.IsTransparent(1, 2, 3, 4, 5), 0);
    EXPECT_EQ(d.UsesFile(1), 0);
    EXPECT_EQ(d.EnumElts(1, 2, 3, 4, 5, 6), 0);
}

// ---- Menus and codes ----------------------------------------------------------------------

// The resource's own items are checked against the documentation by the resource check,
// and the code of every menu ID by the catalog tests.
TEST(DesignerMenus, CopiesMatchTheResourceMenusOnlyUnderARecentHost) {
    for (const MenuCase& c : MenuCases()) {
        const std::vector<std::string> expected = ResourceMenu(c.resource);
        ASSERT_EQ(expected.size(), c.lines) << c.name;
        for (HostGetVersionFunction version : {Version105, Version105Build, Version2}) {
            Editor editor(version);
            HMENU menu = static_cast<HMENU>(c.menu(editor.Record(), 0, 0));
            ASSERT_NE(menu, nullptr) << c.name;
            std::vector<std::string> lines;
            std::vector<std::string> faults;
            DescribeMenu(menu, "", &lines, &faults);
            EXPECT_EQ(lines, expected) << c.name;
            EXPECT_TRUE(faults.empty()) << c.name << ": " << faults.front();
            EXPECT_TRUE(DestroyMenu(menu)) << "the host owns a menu it can destroy";
        }
        for (HostGetVersionFunction version : {Version104, HostGetVersionFunction{nullptr}}) {
            Editor old(version);
            EXPECT_EQ(c.menu(old.Record(), 0, 0), nullptr) << c.name;
        }
    }
}

TEST(DesignerMenus, CodesAndDescriptorsFromTheExports) {
    const DesignerApi& d = Designer();
    EXPECT_EQ(d.GetConditionCodeFromMenu(nullptr, 26070), 7);
    EXPECT_EQ(static_cast<uint16_t>(d.GetConditionCodeFromMenu(nullptr, 25000)), 0xFFFF);
    EXPECT_EQ(d.GetActionCodeFromMenu(nullptr, 25140), 14);
    EXPECT_EQ(static_cast<uint16_t>(d.GetActionCodeFromMenu(nullptr, 20000)), 0xFFFF);
    EXPECT_EQ(d.GetExpressionCodeFromMenu(nullptr, 27100), 10);

    // Each points at the code word of its entry, after the menu and string IDs.
    const int16_t* keyExists = d.GetConditionInfos(nullptr, 1);
    ASSERT_NE(keyExists, nullptr);
    EXPECT_EQ(std::vector<int16_t>(keyExists - 2, keyExists + 5),
              (std::vector<int16_t>{26010, 6010, 1, 0x0220, 1, 45, 30001}));
    const int16_t* decryptFile = d.GetActionInfos(nullptr, 8);
    ASSERT_NE(decryptFile, nullptr);
    EXPECT_EQ(std::vector<int16_t>(decryptFile, decryptFile + 7),
              (std::vector<int16_t>{8, 0, 2, 45, 45, 30001, 30005}));
    const int16_t* toFloat = d.GetExpressionInfos(nullptr, 4);
    ASSERT_NE(toFloat, nullptr);
    EXPECT_EQ(toFloat[1], 0x0002);
}

// ---- Display texts and titles --------------------------------------------------------

using StringExport = void(CIPHREL_STDCALL*)(void*, int32_t, char*, int32_t);

// Each code's text is string base + 10 * code of the module's table, whose texts the
// resource check compares with the documentation.
TEST(DesignerStrings, EveryCodeGetsItsDisplayText) {
    const DesignerApi& d = Designer();
    const struct {
        StringExport get;
        int32_t count;
        UINT base;
    } kinds[] = {{d.GetConditionString, 8, 6000}, {d.GetActionString, 15, 5000},
                 {d.GetExpressionString, 15, 7000}};
    Editor editor;
    for (const auto& kind : kinds) {
        for (int32_t code = 0; code < kind.count; ++code) {
            char expected[256] = {};
            const UINT id = kind.base + 10 * static_cast<UINT>(code);
            ASSERT_GT(LoadStringA(Module(), id, expected, sizeof expected), 0) << id;
            char text[256];
            std::memset(text, '#', sizeof text);
            kind.get(editor.Record(), code, text, sizeof text);
            EXPECT_STREQ(text, expected) << id;
        }
    }
}

TEST(DesignerStrings, OldOrSilentHostLeavesTheBufferAlone) {
    const DesignerApi& d = Designer();
    for (HostGetVersionFunction version : {Version104, HostGetVersionFunction{nullptr}}) {
        Editor editor(version);
        for (StringExport get : {d.GetConditionString, d.GetActionString,
                                 d.GetExpressionString}) {
            char text[16] = "untouched";
            get(editor.Record(), 1, text, sizeof text);
            EXPECT_STREQ(text, "untouched");
        }
    }
}

TEST(DesignerStrings, TextIsCutToTheBufferSize) {
    Editor editor;
    char text[16];
    std::memset(text, '#', sizeof text);
    Designer().GetActionString(editor.Record(), 7, text, 5);
    EXPECT_STREQ(text, "Encr");
    EXPECT_EQ(text[5], '#');
}

// Which title a parameter gets is the catalog tests' business; these show the exports
// reach it, for strings and for the menu texts of expressions.
TEST(DesignerTitles, StringTitlesAndMenuTextTitles) {
    const DesignerApi& d = Designer();
    char text[256] = {};
    d.GetConditionTitle(nullptr, 2, 0, text, sizeof text);
    EXPECT_STREQ(text, "Enter the Character");
    d.GetActionTitle(nullptr, 7, 0, text, sizeof text);
    EXPECT_STREQ(text, "Enter the Encryption Key");
    d.GetActionTitle(nullptr, 7, 1, text, sizeof text);
    EXPECT_STREQ(text, "Enter the File");
    d.GetActionTitle(nullptr, 14, 0, text, sizeof text);
    EXPECT_STREQ(text, "Enter the File Work Percentage Interval (0 to Disable)");
    d.GetExpressionTitle(nullptr, 4, text, sizeof text);
    EXPECT_STREQ(text, "Convert an Integer Back to a Float");
}

// ---- Setup dialog -------------------------------------------------------------------------

TEST(SetupDialog, NewObjectOpensWithDefaultsAndOkStoresThem) {
    EditData record;
    std::memset(&record, 0xCD, sizeof record);
    record.size = EditDataSize;
    record.version = EditDataVersion;
    EditData before = record;
    Editor editor(Version107Build42);
    DialogDriver driver(PressOk);
    ASSERT_TRUE(driver.Hooked());

    EXPECT_EQ(Designer().CreateObject(editor.Record(), 0, &record), 0);
    ASSERT_EQ(driver.Shown(), 1);
    EXPECT_EQ(driver.View().caption, "Ciphrel Encryption Object");
    EXPECT_TRUE(driver.View().hasPicture);
    EXPECT_TRUE(driver.View().controlCodes);
    EXPECT_FALSE(driver.View().noPadding);
    EXPECT_EQ(driver.View().characters, "");
    EXPECT_EQ(driver.View().codes, "10 12 13 ");

    EXPECT_EQ(record.flags, 1);
    EXPECT_EQ(record.width, 32);
    EXPECT_EQ(record.height, 32);
    EXPECT_EQ(record.reserved, 0);
    EXPECT_EQ(record.hostVersion, 0x0107002Au);
    EXPECT_STREQ(record.filterCharacters, "");
    EXPECT_EQ(Codes(record), (std::vector<uint16_t>{10, 12, 13}));
    const auto* now = reinterpret_cast<const uint8_t*>(&record);
    const auto* was = reinterpret_cast<const uint8_t*>(&before);
    EXPECT_EQ(std::memcmp(now, was, 8), 0) << "size, host header and version are the host's";
    EXPECT_EQ(now[41], was[41]);
    EXPECT_EQ(now[94], was[94]);
    EXPECT_EQ(now[95], was[95]);
}

TEST(SetupDialog, CancelAfterCreateKeepsTheNewRecordValues) {
    EditData record = HostRecord(2, "xyz", {1, 2});
    Editor editor;
    DialogDriver driver([](HWND dialog) {
        CheckDlgButton(dialog, 9009, BST_CHECKED);
        SetDlgItemTextA(dialog, 9002, "abc");
        PressCancel(dialog);
    });
    EXPECT_EQ(Designer().CreateObject(editor.Record(), 0, &record), -1);
    EXPECT_EQ(driver.Shown(), 1);
    EXPECT_EQ(record.flags, 1);
    EXPECT_STREQ(record.filterCharacters, "");
    EXPECT_EQ(Codes(record), (std::vector<uint16_t>{10, 12, 13}));
    EXPECT_EQ(record.width, 32);
}

TEST(SetupDialog, OldOrSilentHostGetsNoDialogAndNoChange) {
    for (HostGetVersionFunction version : {Version104, HostGetVersionFunction{nullptr}}) {
        EditData record = HostRecord(2, "xyz", {1, 2});
        EditData before = record;
        Editor editor(version);
        DialogDriver driver(PressOk);
        EXPECT_EQ(Designer().CreateObject(editor.Record(), 0, &record), -1);
        EXPECT_EQ(Designer().SelectPopup(editor.Record(), 2020, 0, 0, &record, 0, 0), 0);
        EXPECT_EQ(driver.Shown(), 0);
        EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
    }
}

TEST(SetupDialog, HostDialogBoxGetsTheDocumentedArguments) {
    ASSERT_NE(Library().reset, nullptr);
    HWND parent = CreateWindowExA(0, "STATIC", "editor", WS_OVERLAPPED, 0, 0, 10, 10,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    EditData record = HostRecord(1, "", {10});
    Editor editor(Version105, parent);
    Library().reset(nullptr);
    {
        DialogDriver driver(PressOk);
        EXPECT_EQ(Designer().SelectPopup(editor.Record(), 2020, 0, 0, &record, 0, 0), 4);
    }
    DestroyWindow(parent);
    const std::vector<StubCall> calls = LoggedCalls();
    ASSERT_EQ(calls.size(), 1u);
    const StubCall& call = calls[0];
    EXPECT_EQ(call.ordinal, 12);
    ASSERT_EQ(call.argCount, 8);
    EXPECT_EQ(call.args[0], Word(Module()));
    EXPECT_EQ(call.args[1], 20003u);
    EXPECT_EQ(call.args[2], Word(parent));
    EXPECT_NE(call.args[3], 0u);
    EXPECT_EQ(call.args[4], 0u);
    EXPECT_EQ(call.args[5], 0u);
    EXPECT_EQ(call.args[6], 3u);
    EXPECT_NE(call.args[7], 0u);
}

TEST(SetupDialog, CheckBoxesShowTheFlagsAndOkStoresThemKeepingOtherBits) {
    const struct {
        uint16_t flags;
        bool controlCodes, noPadding;
    } cases[] = {{3, true, true}, {0, false, false}, {1, true, false}, {0xFFFE, false, true}};
    for (const auto& c : cases) {
        EditData record = HostRecord(c.flags, "ab", {255, 0, 7});
        Editor editor;
        DialogDriver driver([](HWND dialog) {
            for (int box : {9008, 9009})
                CheckDlgButton(dialog, box, IsDlgButtonChecked(dialog, box) ? 0 : 1);
            PressOk(dialog);
        });
        EXPECT_EQ(Designer().SelectPopup(editor.Record(), 2020, 0, 0, &record, 0, 0), 4);
        ASSERT_EQ(driver.Shown(), 1) << c.flags;
        EXPECT_EQ(driver.View().controlCodes, c.controlCodes) << c.flags;
        EXPECT_EQ(driver.View().noPadding, c.noPadding) << c.flags;
        EXPECT_EQ(driver.View().characters, "ab");
        EXPECT_EQ(driver.View().codes, "255 0 7 ");
        EXPECT_EQ(record.flags, c.flags ^ 3) << "both boxes flipped";
    }
}

// A preset fills the boxes alone; OK stores them, Cancel leaves the record as it was.
TEST(SetupDialog, PresetsFillTheBoxesOkStoresAndCancelDoesNot) {
    const struct {
        int button;
        const char* characters;
        std::vector<uint16_t> codes;
    } cases[] = {{9006, "", {10, 12, 13}}, {9007, "&=,. ?+", {9, 10, 12, 13}}};
    for (const auto& c : cases) {
        for (bool ok : {true, false}) {
            EditData record = HostRecord(FlagNoPadding, "old", {1, 2, 3, 4, 5});
            const EditData before = record;
            Editor editor;
            std::string characters;
            bool noPaddingChecked = false;
            DialogDriver driver([&](HWND dialog) {
                Click(dialog, c.button);
                characters = ItemText(dialog, 9002);
                noPaddingChecked = IsDlgButtonChecked(dialog, 9009) == BST_CHECKED;
                ok ? PressOk(dialog) : PressCancel(dialog);
            });
            EXPECT_EQ(Designer().SelectPopup(editor.Record(), 2020, 0, 0, &record, 0, 0),
                      ok ? 4 : 0);
            EXPECT_EQ(characters, c.characters) << c.button;
            EXPECT_TRUE(noPaddingChecked) << "presets leave the check boxes alone";
            if (!ok) {
                EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0) << c.button;
                continue;
            }
            EXPECT_STREQ(record.filterCharacters, c.characters);
            EXPECT_EQ(Codes(record), c.codes);
            EXPECT_EQ(record.flags, FlagNoPadding);
        }
    }
}

TEST(SetupDialog, TypedTextIsLimitedAndParsed) {
    struct Case {
        std::string typedCharacters;
        std::string typedCodes;
        std::string characters;
        std::vector<uint16_t> codes;
    };
    std::string oneToThirty;
    for (int i = 1; i <= 30; ++i) oneToThirty += std::to_string(i) + (i < 30 ? " " : "");
    const Case cases[] = {
        {"a b", "7, 300, 65", "a b", {7, 65}},
        {std::string(30, 'z'), oneToThirty, std::string(24, 'z'), Range(1, 25)},
        {" ", "", " ", {}},
        // Only the first 99 characters of the codes box are read: "1234" cut to 12.
        {"", std::string(97, ' ') + "1234", "", {12}},
        {"", std::string(99, ' ') + "5", "", {}},
    };
    for (const Case& c : cases) {
        EditData record = HostRecord(1, "", {});
        Editor editor;
        DialogDriver driver([&c](HWND dialog) {
            Type(dialog, 9002, c.typedCharacters);
            SetDlgItemTextA(dialog, 9003, c.typedCodes.c_str());
            PressOk(dialog);
        });
        EXPECT_EQ(Designer().SelectPopup(editor.Record(), 2020, 0, 0, &record, 0, 0), 4);
        EXPECT_EQ(std::string(record.filterCharacters), c.characters);
        EXPECT_EQ(Codes(record), c.codes) << c.typedCodes;
    }
}

TEST(SetupDialog, SelectPopupOpensOnlyForTheSetupCommand) {
    for (int32_t command : {0, 2019, 2021, 0x10000 + 2020}) {
        EditData record = HostRecord(1, "", {10});
        Editor editor;
        DialogDriver driver(PressOk);
        EXPECT_EQ(Designer().SelectPopup(editor.Record(), command, 0, 0, &record, 0, 0), 0)
            << command;
        EXPECT_EQ(driver.Shown(), 0) << command;
    }
}

// ---- Icon, picture, rectangle, information -----------------------------------------------

TEST(EditorIcon, MakeIconCopiesBitmap400AsItStands) {
    HRSRC found = FindResourceA(Module(), MAKEINTRESOURCEA(400), RT_BITMAP);
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(SizeofResource(Module(), found), 616u);
    const auto* bitmap = static_cast<const uint8_t*>(LockResource(LoadResource(Module(), found)));
    ASSERT_NE(bitmap, nullptr);

    uint8_t icon[1024];
    std::memset(icon, 0xEE, sizeof icon);
    Editor editor;
    EXPECT_EQ(Designer().MakeIcon(editor.Record(), icon, 0, 0, 0), 0);
    EXPECT_EQ(std::memcmp(icon, bitmap, 616), 0);
    for (size_t i = 616; i < sizeof icon; ++i) ASSERT_EQ(icon[i], 0xEE) << "byte " << i;
}

TEST(EditorDisplay, DrawsBitmap401AtTheTopLeftCornerThroughOneSurface) {
    ASSERT_NE(Library().reset, nullptr);
    int editorSurface = 0;
    for (ObjectRect rect : {ObjectRect{100, 40, 132, 72}, ObjectRect{-5, 7, 0, 0}}) {
        Library().reset(&editorSurface);
        Editor editor;
        Designer().EditorDisplay(editor.Record(), 0, 0, 0, &rect);
        const std::vector<StubCall> calls = LoggedCalls();
        ASSERT_EQ(calls.size(), 6u);
        const uintptr_t surface = Word(&editorSurface);
        const uintptr_t left = static_cast<uint32_t>(rect.left);
        const uintptr_t top = static_cast<uint32_t>(rect.top);
        const struct {
            int32_t ordinal;
            std::vector<uintptr_t> args;
        } expected[] = {
            {191, {SurfaceHandle, 0}},
            {308, {}},
            {340, {4, 4, surface}},
            {395, {Word(Module()), 401, 1}},
            {336, {surface, left, top, 1, 0, 0, 0}},
            {313, {}},
        };
        for (size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].ordinal, expected[i].ordinal) << "call " << i;
            const std::vector<uintptr_t> args(calls[i].args, calls[i].args + calls[i].argCount);
            EXPECT_EQ(args, expected[i].args) << "call " << i;
        }
        const void* self = calls[1].self;
        ASSERT_NE(self, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(self) % 8, 0u) << "surface storage alignment";
        for (size_t i = 2; i < calls.size(); ++i) EXPECT_EQ(calls[i].self, self) << i;
    }
}

TEST(EditorDisplay, NoEditorSurfaceNoDrawing) {
    ASSERT_NE(Library().reset, nullptr);
    Library().reset(nullptr);
    Editor editor;
    ObjectRect rect = {1, 2, 3, 4};
    Designer().EditorDisplay(editor.Record(), 0, 0, 0, &rect);
    const std::vector<StubCall> calls = LoggedCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].ordinal, 191);
}

TEST(EditorObject, RectangleFromTheRecordAndSizeChanges) {
    EditData record = HostRecord(1, "", {});
    record.width = 32;
    record.height = 32;
    ObjectRect rect = {100, 40, 0, 0};
    Designer().GetObjectRect(nullptr, &rect, 0, &record);
    EXPECT_EQ(rect.left, 100);
    EXPECT_EQ(rect.top, 40);
    EXPECT_EQ(rect.right, 132);
    EXPECT_EQ(rect.bottom, 72);

    const uint8_t size[8] = {9, 9, 9, 9, 0x40, 0x01, 0x18, 0x00};    // 320 x 24
    EXPECT_EQ(Designer().ModifyObject(nullptr, &record, 0, 0, 3, size), 0);
    EXPECT_EQ(record.width, 32);
    EXPECT_EQ(record.height, 32);
    EXPECT_EQ(Designer().ModifyObject(nullptr, &record, 0, 0, 0, size), 0);
    EXPECT_EQ(record.width, 320);
    EXPECT_EQ(record.height, 24);
}

TEST(ObjectInfos, NameAuthorCopyrightNoCommentAndWebAddress) {
    char texts[5][255];
    std::memset(texts, '#', sizeof texts);
    Designer().GetObjInfos(nullptr, 0, texts[0], texts[1], texts[2], texts[3], texts[4]);
    EXPECT_STREQ(texts[0], "Ciphrel Encryption Object");
    EXPECT_GT(std::strlen(texts[1]), 0u);
    EXPECT_LT(std::strlen(texts[1]), 255u);
    EXPECT_GT(std::strlen(texts[2]), 0u);
    EXPECT_STREQ(texts[3], "");
    EXPECT_EQ(std::string(texts[4]).rfind("http", 0), 0u) << texts[4];
}
