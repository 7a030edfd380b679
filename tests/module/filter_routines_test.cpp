// The character filter as a game edits and uses it: seeding by each new object, the
// actions and their "On Error" reports, the conditions and the codec expressions.
#include <string>
#include <vector>

#include "tests/module/module_fixture.h"

namespace {

class FilterRoutines : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        EmptyFilter();
        RecordErrorCodes();
    }
    Codes Filtered(RunData* o) {
        Codes codes;
        for (int32_t c = 0; c < 256; ++c)
            if (host.Condition(o, Code::CodeFiltered, c) == 1) codes.push_back(c);
        return codes;
    }
    bool CharacterFiltered(RunData* o, std::string text) {
        return host.Condition(o, Code::CharacterFiltered, Text(text.data())) == 1;
    }
    std::string Expression(RunData* o, int code, const std::string& text) {
        return host.ExpressionText(o, code, {HostParam::Str(text)});
    }
};

TEST_F(FilterRoutines, EachObjectSetsTheFlagsAndAddsItsSettings) {
    RunData* a = host.Create(TestHost::NewEditData(1, "ab", {200, 10}));
    EXPECT_EQ(host.Condition(a, Code::ControlCodesFiltered), 1);
    EXPECT_EQ(host.Condition(a, Code::IsPadding), 1);
    Codes expected;
    for (int32_t c = 0; c < 32; ++c) expected.push_back(c);
    expected.insert(expected.end(), {'%', 'a', 'b', 200});
    EXPECT_EQ(Filtered(a), expected);
    // The object created last decides both flags; the zero byte comes back, 10 never was
    // stored, and nothing of the first object's goes.
    RunData* b = host.Create(TestHost::NewEditData(2, "c\t", {12, 'b'}));
    EXPECT_EQ(host.Condition(a, Code::ControlCodesFiltered), 0);
    EXPECT_EQ(host.Condition(a, Code::IsPadding), 0);
    EXPECT_EQ(Filtered(a), (Codes{0, 9, 12, '%', 'a', 'b', 'c', 200}));
    EXPECT_TRUE(CharacterFiltered(b, ""));
    EXPECT_EQ(Expression(a, Code::FilterString, "\n\x0C\x01%"), "\n%0C\x01%25");
    EXPECT_TRUE(host.events.empty());
}

TEST_F(FilterRoutines, ActionsReportFourAndFiveAsEachByteFails) {
    RunData* o = host.Create(TestHost::NewEditData(0, "bc", {}));
    Codes during;       // inside the event for 'a', 'b' is gone already and 'c' still there
    host.onEvent = [&](const HostEvent& e) {
        seen.push_back(int32_t(host.Expression(e.object, Code::ErrorCode)));
        during.push_back(host.Condition(o, Code::CodeFiltered, 'b'));
        during.push_back(host.Condition(o, Code::CodeFiltered, 'c'));
    };
    TextAction(o, Code::RemoveCharacters, {"bacx"});
    EXPECT_EQ(seen, (Codes{4, 4}));
    EXPECT_EQ(during, (Codes{0, 1, 0, 0}));
    for (int32_t code : {256, -1, -219}) {
        host.Action(o, Code::AddCode, code);
        host.Action(o, Code::RemoveCode, code);
    }
    host.Action(o, Code::AddCode, 233);
    host.Action(o, Code::AddCode, 233);         // already there: silent
    host.Action(o, Code::RemoveCode, 'z');
    EXPECT_EQ(seen, (Codes{4, 4, 5, 5, 5, 5, 5, 5, 4}));
    EXPECT_EQ(Filtered(o), (Codes{0, '%', 233}));
    EXPECT_EQ(host.Expression(o, Code::ErrorCode), 0);
}

TEST_F(FilterRoutines, ControlCodesCannotBeEditedWhileFilteredAndZeroComesBack) {
    RunData* o = host.Create(TestHost::NewEditData(0, "\t", {}));
    host.Action(o, Code::RemoveCode, 0);
    EXPECT_FALSE(CharacterFiltered(o, ""));
    host.Action(o, Code::EnableControlCodes);
    EXPECT_TRUE(CharacterFiltered(o, ""));
    host.Action(o, Code::RemoveCode, 9);        // stored, but untouchable now
    TextAction(o, Code::RemoveCharacters, {"\t\x01"});
    host.Action(o, Code::AddCode, 5);           // refused silently
    EXPECT_EQ(seen, (Codes{4, 4, 4}));
    host.Action(o, Code::DisableControlCodes);
    EXPECT_EQ(host.Condition(o, Code::ControlCodesFiltered), 0);
    EXPECT_EQ(Filtered(o), (Codes{0, 9, '%'}));
}

TEST_F(FilterRoutines, ConditionsAndExpressionsTakeWhatTheyAreGiven) {
    RunData* o = host.Create(TestHost::NewEditData(0, "", {}));
    EXPECT_EQ(host.Condition(o, Code::CodeFiltered, 293), 1);     // low 8 bits: '%'
    EXPECT_TRUE(CharacterFiltered(o, "%abc"));
    EXPECT_FALSE(CharacterFiltered(o, "a%"));
    EXPECT_EQ(Expression(o, Code::DefilterString, "A%00B"), "A");  // a zero byte ends the text
    TextAction(o, Code::AddCharacters, {"ab\xE9"});
    EXPECT_EQ(Expression(o, Code::FilterString, "\xE9" "abc%"), "%E9%61%62c%25");
    EXPECT_EQ(Expression(o, Code::DefilterString, "%E9%61%62c%25"), "\xE9" "abc%");
    TextAction(o, Code::RemoveCharacters, {"%"});
    EXPECT_EQ(Expression(o, Code::FilterString, "50%"), "50%");
    EXPECT_EQ(Expression(o, Code::DefilterString, "%41"), "A");
    EXPECT_TRUE(host.events.empty());
}

}  // namespace
