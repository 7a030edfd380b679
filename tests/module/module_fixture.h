// A module test starts a fresh run (Initialize) and ends it (the last Free), so keys and
// jobs never leak from one test into the next; the filter set and the file settings
// outlive Free by design and are set by tests that depend on them.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "testhost/test_host.h"
#include "tests/test_files.h"

using testfiles::ReadBytes;
using testfiles::WriteBytes;

// Codes of the routines, as the event editor numbers them.
namespace Code {
constexpr int OnError = 0, KeyExists = 1, CharacterFiltered = 2, CodeFiltered = 3,
              IsPadding = 4, ControlCodesFiltered = 5, FileDone = 6, FileBusy = 7;
constexpr int AddKey = 0, RemoveKey = 1, AddCharacters = 2, AddCode = 3,
              RemoveCharacters = 4, RemoveCode = 5, ClearExpressionError = 6,
              EncryptFile = 7, DecryptFile = 8, NoPadding = 9, Padding = 10,
              EnableControlCodes = 11, DisableControlCodes = 12, SetTimeInterval = 13,
              SetPercentInterval = 14;
constexpr int EncryptInteger = 0, ConvertToInteger = 1, EncryptString = 2,
              DecryptInteger = 3, ConvertToFloat = 4, DecryptString = 5, FilterString = 6,
              DefilterString = 7, ErrorCode = 8, ExpressionErrorCode = 9, RandomKey = 10,
              FileTimeInterval = 11, FileProgress = 12, FilePercentInterval = 13,
              FileSize = 14;
}  // namespace Code

using testfiles::Bytes;
using Codes = std::vector<int32_t>;

class ModuleTest : public ::testing::Test {
protected:
    TestHost host;
    Codes seen;                 // ErrorCode( inside each "On Error" event, in order

    void SetUp() override { host.Initialize(); }
    void TearDown() override {
        host.onEvent = nullptr;
        host.Free();
        EXPECT_TRUE(host.faults.empty()) << "first fault: " << host.faults.front();
    }

    static HostValue Text(char* text) { return reinterpret_cast<HostValue>(text); }

    // ErrorCode( can be read only while "On Error" runs, so it is recorded there.
    void RecordErrorCodes() {
        host.onEvent = [this](const HostEvent& e) {
            if (e.condition == Code::OnError)
                seen.push_back(int32_t(host.Expression(e.object, Code::ErrorCode)));
        };
    }
    // Empties the shared filter set through the actions, so that the next object created
    // seeds it afresh; leaves control-code filtering off.
    void EmptyFilter() {
        RunData* any = host.Create(TestHost::NewEditData(0, "", {}));
        host.Action(any, Code::DisableControlCodes);
        for (int32_t c = 0; c < 256; ++c) host.Action(any, Code::RemoveCode, c);
        host.Destroy(any);
        seen.clear();
        host.events.clear();
    }

    // Runs an action with text parameters; returns the first as the action left it.
    std::string TextAction(RunData* o, int code, std::vector<std::string> texts) {
        host.ActionText(o, code, texts);
        return texts[0];
    }
    std::string AddKey(RunData* o, const std::string& key) {
        return TextAction(o, Code::AddKey, {key});
    }
    bool HasKey(RunData* o, std::string key) {
        return host.Condition(o, Code::KeyExists, Text(key.data())) == 1;
    }

};
