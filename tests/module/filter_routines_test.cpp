// The character filter as a game edits and uses it: seeding by each new object, the
// filter actions and their "On Error" reports, the conditions and the codec expressions.
#include <string>
#include <vector>

#include "tests/module/module_fixture.h"

namespace {

class FilterRoutines : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        RecordErrorCodes();
    }

    // The set outlives every run; empty it through the actions so that the next object
    // created seeds it afresh. Leaves control-code filtering off.
    void EmptyFilter() {
        RunData* any = host.Create(TestHost::NewEditData(0, "", {}));
        host.Action(any, Code::DisableControlCodes);
        for (int32_t c = 0; c < 256; ++c) host.Action(any, Code::RemoveCode, c);
        host.Destroy(any);
        seen.clear();
        host.events.clear();
    }

    Codes Filtered(RunData* o) {
        Codes codes;
        for (int32_t c = 0; c < 256; ++c)
            if (host.Condition(o, Code::CodeFiltered, c) == 1) codes.push_back(c);
        return codes;
    }
    void RemoveCharacters(RunData* o, const std::string& text) {
        TextAction(o, Code::RemoveCharacters, {text});
    }
    bool CharacterFiltered(RunData* o, std::string text) {
        return host.Condition(o, Code::CharacterFiltered, Text(text.data())) == 1;
    }
    std::string Filter(RunData* o, const std::string& text) {
        return host.ExpressionText(o, Code::FilterString, {HostParam::Str(text)});
    }
    std::string Defilter(RunData* o, const std::string& text) {
        return host.ExpressionText(o, Code::DefilterString, {HostParam::Str(text)});
    }
};

Codes Range(int32_t from, int32_t to, Codes more) {
    Codes codes;
    for (int32_t c = from; c <= to; ++c) codes.push_back(c);
    codes.insert(codes.end(), more.begin(), more.end());
    return codes;
}

TEST_F(FilterRoutines, EachObjectSetsTheFlagAndAddsItsSettings) {
    EmptyFilter();
    // Control codes filtered: the default fill is '%' alone, and 10 is not stored.
    RunData* a = host.Create(TestHost::NewEditData(1, "ab", {200, 10}));
    EXPECT_EQ(host.Condition(a, Code::ControlCodesFiltered), 1);
    EXPECT_EQ(Filtered(a), Range(0, 31, {37, 97, 98, 200}));

    // The second object turns the flag off for everyone, gets the zero byte back and adds
    // its own; nothing of the first object's is removed.
    RunData* b = host.Create(TestHost::NewEditData(0, "c\t", {12, 98}));
    EXPECT_EQ(host.Condition(a, Code::ControlCodesFiltered), 0);
    EXPECT_EQ(Filtered(a), (Codes{0, 9, 12, 37, 97, 98, 99, 200}));
    EXPECT_TRUE(CharacterFiltered(b, ""));
    EXPECT_EQ(Filter(a, "\n\x0C\x01%"), "\n%0C\x01%25");
    EXPECT_TRUE(host.events.empty());
}

TEST_F(FilterRoutines, EmptiedSetIsSeededAgainAndSurvivesFree) {
    EmptyFilter();
    RunData* o = host.Create(TestHost::NewEditData(0, "", {}));
    EXPECT_EQ(Filtered(o), (Codes{0, 37}));
    host.Action(o, Code::AddCode, 'q');
    host.Free();
    host.Initialize();
    o = host.Create(TestHost::NewEditData(0, "", {}));
    EXPECT_EQ(Filtered(o), (Codes{0, 37, 'q'}));
}

TEST_F(FilterRoutines, RemovingReportsError4OncePerByteAtTheMomentItFails) {
    EmptyFilter();
    RunData* o = host.Create(TestHost::NewEditData(0, "bc", {}));
    // Inside the event for 'a', 'b' is gone already and 'c' is still there.
    Codes during;
    host.onEvent = [&](const HostEvent& e) {
        seen.push_back(int32_t(host.Expression(e.object, Code::ErrorCode)));
        during.push_back(host.Condition(o, Code::CodeFiltered, 'b'));
        during.push_back(host.Condition(o, Code::CodeFiltered, 'c'));
    };
    RemoveCharacters(o, "bacx");
    EXPECT_EQ(seen, (Codes{4, 4}));
    EXPECT_EQ(during, (Codes{0, 1, 0, 0}));
    ASSERT_EQ(host.events.size(), 2u);
    EXPECT_EQ(host.events[0].object, o);
    EXPECT_EQ(host.events[0].condition, 0);
    EXPECT_EQ(host.events[0].errorCode, 4);
    EXPECT_EQ(Filtered(o), (Codes{0, 37}));
    EXPECT_EQ(host.Expression(o, Code::ErrorCode), 0);
}

TEST_F(FilterRoutines, CodesOutsideAByteReportError5AndChangeNothing) {
    EmptyFilter();
    RunData* o = host.Create(TestHost::NewEditData(0, "", {}));
    for (int32_t code : {256, -1, 293, -219}) {
        host.Action(o, Code::AddCode, code);
        host.Action(o, Code::RemoveCode, code);
    }
    EXPECT_EQ(seen, Codes(8, 5));
    EXPECT_EQ(Filtered(o), (Codes{0, 37}));

    seen.clear();
    host.Action(o, Code::AddCode, 233);
    host.Action(o, Code::AddCode, 233);         // already there: silent
    host.Action(o, Code::RemoveCode, 'z');
    host.Action(o, Code::RemoveCode, 37);
    EXPECT_EQ(seen, (Codes{4}));
    EXPECT_EQ(Filtered(o), (Codes{0, 233}));
}

TEST_F(FilterRoutines, ControlCodesCannotBeEditedWhileFilteredAndZeroComesBack) {
    EmptyFilter();
    RunData* o = host.Create(TestHost::NewEditData(0, "\t", {}));
    host.Action(o, Code::RemoveCode, 0);
    EXPECT_FALSE(CharacterFiltered(o, ""));
    host.Action(o, Code::EnableControlCodes);
    EXPECT_EQ(host.Condition(o, Code::ControlCodesFiltered), 1);
    EXPECT_TRUE(CharacterFiltered(o, ""));
    host.Action(o, Code::RemoveCode, 9);        // stored, but untouchable now
    RemoveCharacters(o, "\t\x01");
    host.Action(o, Code::AddCode, 5);           // refused silently
    EXPECT_EQ(seen, (Codes{4, 4, 4}));
    EXPECT_EQ(Filter(o, "\t\x05"), "%09%05");

    host.Action(o, Code::DisableControlCodes);
    EXPECT_EQ(host.Condition(o, Code::ControlCodesFiltered), 0);
    EXPECT_EQ(Filtered(o), (Codes{0, 9, 37}));   // 0 is back; 5 was never stored
    host.Action(o, Code::RemoveCode, 9);
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(Filtered(o), (Codes{0, 37}));
}

TEST_F(FilterRoutines, ConditionsTestTheByteTheyAreGiven) {
    EmptyFilter();
    RunData* o = host.Create(TestHost::NewEditData(0, "", {}));
    EXPECT_EQ(host.Condition(o, Code::CodeFiltered, 293), 1);     // low 8 bits: 37
    EXPECT_EQ(host.Condition(o, Code::CodeFiltered, -219), 1);    // 0xFFFFFF25
    EXPECT_TRUE(CharacterFiltered(o, "%abc"));
    EXPECT_FALSE(CharacterFiltered(o, "a%"));
    RemoveCharacters(o, "%");
    EXPECT_EQ(host.Condition(o, Code::CodeFiltered, 293), 0);
    EXPECT_FALSE(CharacterFiltered(o, "%"));
    EXPECT_TRUE(host.events.empty());
}

TEST_F(FilterRoutines, FilterAndDefilterStrings) {
    EmptyFilter();
    RunData* o = host.Create(TestHost::NewEditData(0, "", {}));
    EXPECT_EQ(Filter(o, "50%"), "50%25");
    EXPECT_EQ(Defilter(o, "50%25"), "50%");
    EXPECT_EQ(Defilter(o, "A%00B"), "A");       // the zero byte ends the host's string

    host.Action(o, Code::AddCode, 233);
    TextAction(o, Code::AddCharacters, {"ab"});
    EXPECT_EQ(Filter(o, "\xE9" "abc"), "%E9%61%62c");
    EXPECT_EQ(Defilter(o, "%E9%61%62c"), "\xE9" "abc");

    // Without '%' in the set it passes unescaped, and is still decoded as an escape.
    RemoveCharacters(o, "%");
    EXPECT_EQ(Filter(o, "50%"), "50%");
    EXPECT_EQ(Defilter(o, "%41"), "A");
    EXPECT_TRUE(host.events.empty());
}

}  // namespace
