// A long game session through the host: seeded random operations of every kind, each
// result checked against a model of what the module must hold, and the process's heap
// in use compared before and after. CIPHREL_SOAK_SEED repeats a run, and
// CIPHREL_SOAK_OPERATIONS sets its length (10,000 by default).
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "designer/edit_data.h"
#include "tests/module/module_fixture.h"

#if defined(_WIN32)
#include <malloc.h>
#else
#include <malloc.h>
#include "engine/allocation.h"
#include "engine/file_job.h"
#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif
#endif

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

constexpr int32_t MaxKey = 56;
constexpr int MaxObjects = 4;

// Bytes of the process's heap in use: the C runtime's heap that the module and the host
// share under Windows, malloc's arenas (or the sanitizer's allocator) natively. Only the
// sanitizer counts exactly everywhere; the others may keep freed blocks in caches that
// still count as used (glibc's per-thread cache, some 10 to 20 KiB after a session; run
// with GLIBC_TUNABLES=glibc.malloc.tcache_count=0 and it counts exactly), so their
// figures may differ by those caches and no more.
#if defined(__SANITIZE_ADDRESS__)
constexpr int64_t HeapCacheSlack = 0;
#else
constexpr int64_t HeapCacheSlack = 64 * 1024;
#endif

int64_t HeapInUse() {
#if defined(_WIN32)
    _HEAPINFO entry{};
    int64_t used = 0;
    int status;
    while ((status = _heapwalk(&entry)) == _HEAPOK)
        if (entry._useflag == _USEDENTRY) used += int64_t(entry._size);
    return status == _HEAPEND ? used : -1;
#elif defined(__SANITIZE_ADDRESS__)
    return int64_t(__sanitizer_get_current_allocated_bytes());
#else
    return int64_t(mallinfo2().uordblks);
#endif
}

#if !defined(_WIN32)
size_t OpenDescriptors() {
    return size_t(std::distance(fs::directory_iterator("/proc/self/fd"),
                                fs::directory_iterator()));
}

// Natively the time budget runs on a clock that moves one millisecond per reading, so the
// blocks a continuation may do are known; under Windows only budgets too long to trip
// within a frame are used.
long fakeNow = 0;
long FakeClock() { return fakeNow++; }
#endif

uint32_t Word(const uint8_t* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
void PutWord(uint8_t* b, uint32_t w) {
    for (int i = 0; i < 4; ++i) b[i] = uint8_t(w >> (8 * i));
}

int32_t HexValue(uint8_t c) { return c >= '0' && c <= '9' ? c - 48 : c - 55; }

// The escape decoder as the rules state it; digits past the end read as the NUL.
Bytes Decode(const std::string& text) {
    auto at = [&](size_t i) -> uint8_t { return i < text.size() ? uint8_t(text[i]) : 0; };
    Bytes out;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '%') {
            out.push_back(uint8_t((16 * HexValue(at(i + 1)) + HexValue(at(i + 2))) & 0xFF));
            i += 3;
        } else {
            out.push_back(uint8_t(text[i++]));
        }
    }
    return out;
}

std::string UpToZero(const Bytes& bytes) {
    std::string s;
    for (uint8_t b : bytes) {
        if (b == 0) break;
        s.push_back(char(b));
    }
    return s;
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const Bytes& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(content.data()), long(content.size()));
}

// One entry of what the "On Error" and "File is Done" events saw: the object, the
// condition and ErrorCode( read inside the event. Condition -1 marks ErrorCode( read
// inside an "On Error" event after a nested error of its own has been raised and handled.
struct Seen {
    RunData* object;
    int32_t condition;
    int32_t errorCode;
    bool operator==(const Seen&) const = default;
};

// What the module must hold, kept by the session alongside it.
struct Model {
    int references = 0;
    bool ringExists = false;
    std::vector<std::string> keys;          // in order of addition
    bool stored[256] = {};                  // codes in the filter set
    bool controlCodes = false;
    uint8_t noPadding = 0;
    int32_t timeInterval = 0, percentInterval = 0;

    struct Object { RunData* rd; int32_t expressionError; int buffers; };
    std::vector<Object> objects;

    struct File { fs::path path; Bytes content; };
    std::vector<File> files;

    // The file job: its counters outlive it, as FileProgress( and FileSize( show them.
    bool jobActive = false;
    size_t jobFile = 0;
    Bytes jobResult;                        // the file as the write-back will leave it
    uint32_t paddedSize = 0, bytesDone = 0, bytesToWrite = 0, bytesToProcess = 0;

    bool Filtered(uint8_t c) const { return (controlCodes && c < 32) || stored[c]; }
    bool Add(uint8_t c) {
        if ((controlCodes && c < 32) || stored[c]) return false;
        return stored[c] = true;
    }
    bool Remove(uint8_t c) {
        if ((controlCodes && c < 32) || !stored[c]) return false;
        stored[c] = false;
        return true;
    }
    bool HasKey(const std::string& k) const {
        return std::find(keys.begin(), keys.end(), k) != keys.end();
    }
    Object& Of(RunData* rd) {
        for (Object& o : objects)
            if (o.rd == rd) return o;
        return objects.front();
    }
    int64_t EngineBlocks() const {
        int64_t blocks = (ringExists ? 1 : 0) + 2 * int64_t(keys.size()) + (jobActive ? 1 : 0);
        for (const Object& o : objects) blocks += o.buffers;
        return blocks;
    }
    std::string Escape(const std::string& text) const {
        static const char Digits[] = "0123456789ABCDEF";
        std::string out;
        for (char ch : text) {
            const uint8_t b = uint8_t(ch);
            if (Filtered(b)) out += {'%', Digits[b / 16], Digits[b % 16]};
            else out.push_back(ch);
        }
        return out;
    }
};

struct Totals {
    int64_t operations = 0, events = 0, jobsFinished = 0, jobsAbandoned = 0, lastFrees = 0;
    int64_t ciphersChecked = 0;
    size_t mostKeys = 0;
};

class Session {
public:
    Session(uint64_t seed, fs::path dir) : random(seed), dir(std::move(dir)) {}

    // Runs `operations` random operations in a run of its own: Initialize first, the last
    // Free at the end. False after the first operation whose check failed.
    bool Run(int64_t operations, Totals* totals);

private:
    // --- random choices
    int Below(int n) { return int(random() % uint64_t(n)); }
    bool Chance(int percent) { return Below(100) < percent; }
    std::string KeyText() {
        static const std::string Pool[] = {
            "alpha", "Alpha", "beta", "", "key 7", std::string(56, 'k'),
            std::string(56, 'k') + "tail", "long " + std::string(60, 'x'), "never added",
        };
        return Pool[Below(int(std::size(Pool)))];
    }
    std::string Text(int maxLength, bool controls) {
        static const char Common[] = "abcXYZ019 %.-_";
        std::string s(size_t(Below(maxLength + 1)), ' ');
        for (char& c : s) {
            const int kind = Below(10);
            if (kind < 6) c = Common[Below(int(sizeof Common) - 1)];
            else if (kind < 8) c = char(128 + Below(128));
            else if (controls) c = char(1 + Below(31));
            else c = char(32 + Below(95));
        }
        return s;
    }
    RunData* AnyObject() { return m.objects[size_t(Below(int(m.objects.size())))].rd; }

    // --- expectations
    void ExpectError(RunData* o, int32_t code) {
        expected.push_back({o, 0, code});
        if (nesting) {
            expected.push_back({o, 0, 5});
            expected.push_back({o, -1, 0});
        }
    }
    bool Check(bool ok, const std::string& what) {
        if (!ok) ADD_FAILURE() << "operation " << index << " (" << current << "): " << what;
        return ok;
    }

    // --- host calls
    std::string Act(RunData* o, int code, std::vector<std::string> texts) {
        host->ActionText(o, code, texts);
        return texts.empty() ? std::string() : texts[0];
    }
    int32_t Int(RunData* o, int code, std::vector<HostParam> params = {}) {
        return int32_t(host->Expression(o, code, std::move(params)));
    }
    std::string Str(RunData* o, int code, std::vector<HostParam> params) {
        m.Of(o).buffers = std::min(m.Of(o).buffers + 1, 2);
        return host->ExpressionText(o, code, std::move(params));
    }
    bool Condition(RunData* o, int code, HostValue p = 0) {
        return host->Condition(o, code, p) == 1;
    }
    bool Has(RunData* o, std::string key) {
        return Condition(o, Code::KeyExists, reinterpret_cast<HostValue>(key.data()));
    }
    // One block through the integer expressions: the file reference and a check of keys.
    void Block(RunData* o, const std::string& key, bool encrypt, uint8_t* bytes) {
        const int code = encrypt ? Code::EncryptInteger : Code::DecryptInteger;
        const auto l = HostParam::Int(int32_t(Word(bytes)));
        const auto r = HostParam::Int(int32_t(Word(bytes + 4)));
        const uint32_t nl = uint32_t(Int(o, code, {HostParam::Str(key), l, r, HostParam::Int(0)}));
        const uint32_t nr = uint32_t(Int(o, code, {HostParam::Str(key), l, r, HostParam::Int(2)}));
        PutWord(bytes, nl);
        PutWord(bytes + 4, nr);
    }

    // --- operations
    void ResetSharedState();
    void Step();
    void AddKey();
    void RemoveKey();
    void EditFilter();
    void FilterConditions();
    void FilterStrings();
    void EncryptString();
    void DecryptString();
    void Integers();
    void Conversions();
    void RandomKey();
    void ErrorCodes();
    void FileAction();
    void Frame();
    void FileSettings();
    void FileReadings();
    void RewriteFile();
    void CreateObject();
    void DestroyObject();
    void References();
    void WholeFilter();
    bool CheckBlocks();

    std::mt19937_64 random;
    fs::path dir;
    TestHost* host = nullptr;
    Model m;
    Totals* totals = nullptr;
    std::vector<Seen> seen, expected;
    bool nesting = false;           // every "On Error" of this operation raises one more
    int depth = 0;
    int64_t index = 0;
    std::string current;
    // Cipher texts issued, with the text and key they came from; those made while '%'
    // and the zero byte were filtered must decrypt back whatever the filter is later.
    struct Issued { std::string key, text, cipher; bool decodable; };
    std::vector<Issued> issued;
    // The block (1, 2) under each key, as first seen: a key encrypts alike all its life.
    std::vector<std::pair<std::string, std::pair<int32_t, int32_t>>> blocks;
#if !defined(_WIN32)
    int64_t engineBase = 0;
#endif
};

bool Session::Run(int64_t operations, Totals* sessionTotals) {
    TestHost session;
    host = &session;
    totals = sessionTotals;
    host->Initialize();
    m.references = 1;
#if !defined(_WIN32)
    const ClockFunction savedClock = fileJobClock;
    fileJobClock = FakeClock;
#endif
    ResetSharedState();
#if !defined(_WIN32)
    engineBase = LiveAllocations() - 1;     // the key ring that the object made
#endif
    m.ringExists = true;
    host->onEvent = [this](const HostEvent& e) {
        const int32_t inside = int32_t(host->Expression(e.object, Code::ErrorCode));
        seen.push_back({e.object, e.condition, inside});
        Check(e.errorCode == inside, "ErrorCode( differs from the error being reported");
        if (e.condition == Code::OnError && nesting && depth == 0) {
            ++depth;
            host->Action(e.object, Code::RemoveCode, 300);      // error 5, raised inside
            seen.push_back({e.object, -1, int32_t(host->Expression(e.object, Code::ErrorCode))});
            --depth;
        }
    };

    for (int i = 0; i < 3; ++i) {
        Model::File f{dir / ("save" + std::to_string(i) + ".dat"), Bytes(size_t(Below(600)))};
        for (uint8_t& b : f.content) b = uint8_t(random());
        WriteFile(f.path, f.content);
        m.files.push_back(f);
    }
    CreateObject();

    bool ok = true;
    for (index = 0; index < operations && ok; ++index) {
        seen.clear();
        expected.clear();
        host->rehandles.clear();
        host->events.clear();
        nesting = Chance(20);
        Step();
        ok = Check(seen == expected, "events differ from the model's") && CheckBlocks() &&
             Check(host->faults.empty(), "host fault: " +
                   (host->faults.empty() ? std::string() : host->faults.front())) &&
             !::testing::Test::HasFailure();
        totals->events += int64_t(seen.size());
        totals->mostKeys = std::max(totals->mostKeys, m.keys.size());
        ++totals->operations;
    }
    if (ok) WholeFilter();

    host->onEvent = nullptr;
    while (!m.objects.empty()) {
        host->Destroy(m.objects.back().rd);
        m.objects.pop_back();
    }
    while (m.references-- > 0) host->Free();
    m.keys.clear();
    m.ringExists = false;
    m.jobActive = false;
    ok = ok && CheckBlocks();
    // The tests that follow find what a fresh load leaves.
    host->Initialize();
    ResetSharedState();
    host->Free();
#if !defined(_WIN32)
    fileJobClock = savedClock;
#endif
    host = nullptr;
    return ok;
}

// The filter set, its flag, the file settings and the job counters outlive every run:
// the set is emptied, so that the next object seeds it afresh, and the rest set to 0.
void Session::ResetSharedState() {
    RunData* o = host->Create(TestHost::NewEditData(0, "", {}));
    host->Action(o, Code::DisableControlCodes);
    for (int32_t c = 0; c < 256; ++c) host->Action(o, Code::RemoveCode, c);
    host->Action(o, Code::Padding);
    host->Action(o, Code::SetTimeInterval, 0);
    host->Action(o, Code::SetPercentInterval, 0);
    // An empty file's job leaves every counter at 0.
    const fs::path empty = dir / "empty.dat";
    WriteFile(empty, {});
    Act(o, Code::AddKey, {"reset"});
    Act(o, Code::EncryptFile, {"reset", empty.string()});
    Act(o, Code::RemoveKey, {"reset"});
    host->Destroy(o);
    host->events.clear();
}

void Session::Step() {
    const int roll = Below(100);
    if (roll < 7) AddKey();
    else if (roll < 11) RemoveKey();
    else if (roll < 19) EditFilter();
    else if (roll < 23) FilterConditions();
    else if (roll < 31) FilterStrings();
    else if (roll < 41) EncryptString();
    else if (roll < 47) DecryptString();
    else if (roll < 53) Integers();
    else if (roll < 55) Conversions();
    else if (roll < 58) RandomKey();
    else if (roll < 61) ErrorCodes();
    else if (roll < 68) FileAction();
    else if (roll < 79) Frame();
    else if (roll < 83) FileSettings();
    else if (roll < 87) FileReadings();
    else if (roll < 89) RewriteFile();
    else if (roll < 92) CreateObject();
    else if (roll < 95) DestroyObject();
    else if (roll < 97) References();
    else WholeFilter();
}

bool Session::CheckBlocks() {
#if defined(_WIN32)
    return true;
#else
    const int64_t live = LiveAllocations() - engineBase;
    return Check(live == m.EngineBlocks(),
                 "the engine holds " + std::to_string(live) + " blocks, the model " +
                 std::to_string(m.EngineBlocks()));
#endif
}

void Session::AddKey() {
    RunData* o = AnyObject();
    const std::string text = KeyText();
    const std::string cut = text.substr(0, MaxKey);
    current = "add key '" + text + "'";
    if (text.size() > size_t(MaxKey)) ExpectError(o, 1);
    if (m.HasKey(cut)) ExpectError(o, 3);
    else m.keys.push_back(cut);
    m.ringExists = true;
    Check(Act(o, Code::AddKey, {text}) == cut, "the host's text is cut to 56 bytes");
    Check(Has(o, cut), "the key is there");
}

void Session::RemoveKey() {
    RunData* o = AnyObject();
    const std::string text = KeyText();
    const std::string cut = text.substr(0, MaxKey);
    current = "remove key '" + text + "'";
    if (m.jobActive) {
        ExpectError(o, 9);
    } else {
        if (text.size() > size_t(MaxKey)) ExpectError(o, 1);
        if (!m.HasKey(cut)) ExpectError(o, 2);
        else m.keys.erase(std::find(m.keys.begin(), m.keys.end(), cut));
    }
    Act(o, Code::RemoveKey, {text});
    Check(Has(o, cut) == m.HasKey(cut), "the key is gone exactly when removed");
}

void Session::EditFilter() {
    RunData* o = AnyObject();
    const int kind = Below(6);
    if (kind == 0 || kind == 2) {
        const std::string text = Text(6, true);
        current = std::string(kind == 0 ? "add" : "remove") + " characters";
        for (char c : text) {
            if (kind == 0) m.Add(uint8_t(c));
            else if (!m.Remove(uint8_t(c))) ExpectError(o, 4);
        }
        Act(o, kind == 0 ? Code::AddCharacters : Code::RemoveCharacters, {text});
    } else if (kind == 1 || kind == 3) {
        const int32_t code = Chance(10) ? (Chance(50) ? -1 - Below(5) : 256 + Below(100))
                                        : Below(256);
        current = std::string(kind == 1 ? "add" : "remove") + " code " + std::to_string(code);
        if (code < 0 || code > 255) ExpectError(o, 5);
        else if (kind == 1) m.Add(uint8_t(code));
        else if (!m.Remove(uint8_t(code))) ExpectError(o, 4);
        host->Action(o, kind == 1 ? Code::AddCode : Code::RemoveCode, code);
    } else if (kind == 4) {
        current = "enable control codes";
        m.controlCodes = true;
        host->Action(o, Code::EnableControlCodes);
    } else {
        current = "disable control codes";
        m.controlCodes = false;
        m.Add(0);
        host->Action(o, Code::DisableControlCodes);
    }
}

void Session::FilterConditions() {
    RunData* o = AnyObject();
    current = "filter conditions";
    std::string text = Text(2, true);
    const int32_t code = int32_t(random());
    Check(Condition(o, Code::CharacterFiltered, reinterpret_cast<HostValue>(text.data())) ==
              m.Filtered(text.empty() ? 0 : uint8_t(text[0])), "character filtered");
    Check(Condition(o, Code::CodeFiltered, code) == m.Filtered(uint8_t(uint32_t(code) & 0xFF)),
          "code filtered");
    Check(Condition(o, Code::ControlCodesFiltered) == m.controlCodes, "control codes filtered");
}

void Session::FilterStrings() {
    RunData* o = AnyObject();
    const std::string text = Text(30, true);
    current = "filter and defilter '" + text + "'";
    const std::string escaped = Str(o, Code::FilterString, {HostParam::Str(text)});
    Check(escaped == m.Escape(text), "FilterString$( escapes exactly the filtered bytes");
    const std::string back = Str(o, Code::DefilterString, {HostParam::Str(escaped)});
    Check(back == UpToZero(Decode(escaped)), "DefilterString$( of an escaped text");
    if (m.Filtered('%') || text.find('%') == std::string::npos)
        Check(back == text, "filtering round trip");
    const std::string other = Text(12, true) + (Chance(30) ? "%" : "");
    Check(Str(o, Code::DefilterString, {HostParam::Str(other)}) == UpToZero(Decode(other)),
          "DefilterString$( of any text");
}

void Session::EncryptString() {
    RunData* o = AnyObject();
    const std::string key = Chance(85) && !m.keys.empty()
        ? m.keys[size_t(Below(int(m.keys.size())))] : KeyText();
    const std::string text = Text(40, true);
    current = "encrypt '" + text + "' under '" + key + "'";
    if (!m.HasKey(key)) {
        Check(host->ExpressionText(o, Code::EncryptString,
                                   {HostParam::Str(key), HostParam::Str(text)}) == text,
              "a missing key hands the text back");
        m.Of(o).expressionError = 2;
        return;
    }
    const std::string cipher = Str(o, Code::EncryptString, {HostParam::Str(key),
                                                           HostParam::Str(text)});
    const size_t padded = (text.size() + 7) / 8 * 8;
    Check(cipher.size() >= padded && cipher.size() <= 3 * padded, "cipher text length");
    const bool decodable = m.Filtered('%') && m.Filtered(0);
    if (decodable) {
        // The cipher bytes, escaped exactly where the filter says; the first block is
        // also what the integer expression makes of it.
        const Bytes bytes = Decode(cipher);
        Check(bytes.size() == padded && m.Escape(std::string(bytes.begin(), bytes.end())) ==
              cipher, "escaped as the filter stands");
        if (padded > 0) {
            Bytes plain(text.begin(), text.end());
            plain.resize(padded, 0);
            Block(o, key, true, plain.data());
            Check(std::equal(plain.begin(), plain.begin() + 8, bytes.begin()),
                  "the first block is the block cipher's");
        }
        Check(Str(o, Code::DecryptString, {HostParam::Str(key), HostParam::Str(cipher)}) ==
              text, "decrypts back");
        ++totals->ciphersChecked;
    }
    if (Chance(30)) {
        // Straight from the result buffer, as one expression nested in another.
        m.Of(o).buffers = std::min(m.Of(o).buffers + 1, 2);
        const auto* result = reinterpret_cast<const char*>(host->Expression(
            o, Code::EncryptString, {HostParam::Str(key), HostParam::Str(text)}));
        const std::string again = Str(o, Code::DecryptString, {HostParam::Str(key),
                                                               HostParam::Ptr(result)});
        if (decodable) Check(again == text, "decrypts its own result buffer");
    }
    if (issued.size() < 64) issued.push_back({key, text, cipher, decodable});
    else issued[size_t(Below(64))] = {key, text, cipher, decodable};
}

void Session::DecryptString() {
    RunData* o = AnyObject();
    if (issued.empty() || Chance(20)) {
        const std::string key = Chance(50) && !m.keys.empty() ? m.keys.front() : KeyText();
        const std::string text = Text(30, false);
        current = "decrypt any text under '" + key + "'";
        if (!m.HasKey(key)) {
            m.Of(o).expressionError = 2;
            Check(host->ExpressionText(o, Code::DecryptString, {HostParam::Str(key),
                                                                 HostParam::Str(text)}) == text,
                  "a missing key hands the cipher text back");
        } else {
            Check(Str(o, Code::DecryptString, {HostParam::Str(key), HostParam::Str(text)})
                      .size() <= Decode(text).size() + 7, "decrypted length");
        }
        return;
    }
    const Issued& c = issued[size_t(Below(int(issued.size())))];
    current = "decrypt the cipher of '" + c.text + "' under '" + c.key + "'";
    if (!m.HasKey(c.key)) {
        m.Of(o).expressionError = 2;
        Check(host->ExpressionText(o, Code::DecryptString, {HostParam::Str(c.key),
                                                             HostParam::Str(c.cipher)}) ==
              c.cipher, "a missing key hands the cipher text back");
        return;
    }
    const std::string text = Str(o, Code::DecryptString, {HostParam::Str(c.key),
                                                          HostParam::Str(c.cipher)});
    // A key removed and added again is the same key: its text is its material.
    if (c.decodable) Check(text == c.text, "decrypts under any later filter");
}

void Session::Integers() {
    RunData* o = AnyObject();
    const std::string key = Chance(80) && !m.keys.empty()
        ? m.keys[size_t(Below(int(m.keys.size())))] : KeyText();
    const int32_t l = int32_t(random()), r = int32_t(random());
    const int32_t selector = Below(5) - 1;
    current = "integers under '" + key + "'";
    const auto call = [&](int code, int32_t a, int32_t b, int32_t s) {
        return Int(o, code, {HostParam::Str(key), HostParam::Int(a), HostParam::Int(b),
                             HostParam::Int(s)});
    };
    if (!m.HasKey(key)) {
        m.Of(o).expressionError = 2;
        Check(call(Code::EncryptInteger, l, r, selector) == (selector == 2 ? r : l),
              "a missing key hands the selected half back");
        return;
    }
    const int32_t a = call(Code::EncryptInteger, l, r, selector == 2 ? 0 : selector);
    const int32_t b = call(Code::EncryptInteger, l, r, 2);
    Check(call(Code::DecryptInteger, a, b, selector == 2 ? 1 : selector) == l &&
          call(Code::DecryptInteger, a, b, 2) == r, "integers decrypt back");
    // The same key text encrypts alike all its life, and after being removed and added.
    const std::pair<int32_t, int32_t> fixed{call(Code::EncryptInteger, 1, 2, 0),
                                            call(Code::EncryptInteger, 1, 2, 2)};
    auto known = std::find_if(blocks.begin(), blocks.end(),
                              [&](const auto& kb) { return kb.first == key; });
    if (known == blocks.end()) blocks.emplace_back(key, fixed);
    else Check(known->second == fixed, "a key encrypts as it always did");
}

void Session::Conversions() {
    RunData* o = AnyObject();
    current = "conversions";
    // Finite floats only: the host hands over a number, not an arbitrary pattern.
    uint32_t bits = uint32_t(random()) & 0xBFFFFFFFu;
    Check(uint32_t(Int(o, Code::ConvertToInteger, {HostParam{ParamFloat, int32_t(bits), {}}})) ==
          bits, "ConvertToInteger( keeps the bits");
    Check((host->LastHostFlags(o) & (ResultIsFloat | ResultIsString)) == 0, "integer result");
    Check(uint32_t(Int(o, Code::ConvertToFloat, {HostParam::Int(int32_t(bits))})) == bits,
          "ConvertToFloat( keeps the bits");
    Check((host->LastHostFlags(o) & ResultIsFloat) != 0, "float result");
}

void Session::RandomKey() {
    RunData* o = AnyObject();
    const int32_t length = Below(64) - 3;
    current = "random key of " + std::to_string(length);
    const std::string key = Str(o, Code::RandomKey, {HostParam::Int(length)});
    Check(key.size() == size_t(std::clamp(length, 0, MaxKey)), "random key length");
    if (length > MaxKey) m.Of(o).expressionError = 1;
}

void Session::ErrorCodes() {
    RunData* o = AnyObject();
    current = "error codes";
    Check(Int(o, Code::ErrorCode) == 0, "ErrorCode( is 0 outside On Error");
    Check(Int(o, Code::ExpressionErrorCode) == m.Of(o).expressionError, "ExpressionErrorCode(");
    if (Chance(40)) {
        host->Action(o, Code::ClearExpressionError);
        m.Of(o).expressionError = 0;
    }
}

void Session::FileAction() {
    RunData* o = AnyObject();
    const bool encrypt = Chance(60);
    std::string key = Chance(85) && !m.keys.empty()
        ? m.keys[size_t(Below(int(m.keys.size())))] : KeyText();
    if (Chance(10)) key = std::string(MaxKey, 'k') + "zz";   // cut, it may name a key
    const std::string cut = key.substr(0, MaxKey);
    const int where = Below(20);
    std::string path;
    const size_t file = size_t(Below(int(m.files.size())));
    if (where == 0) path = (dir / "missing.dat").string();
    else if (where == 1) path = dir.string();
    else if (where == 2) path = "";
    else path = m.files[file].path.string();
    current = std::string(encrypt ? "encrypt" : "decrypt") + " file '" + path + "' under '" +
              key + "'";

    if (key.size() > size_t(MaxKey)) ExpectError(o, 1);
    if (!m.HasKey(cut)) {
        ExpectError(o, 2);
        Act(o, encrypt ? Code::EncryptFile : Code::DecryptFile, {key, path});
        return;
    }
    if (m.jobActive) ExpectError(o, 8);
    else if (where <= 2) ExpectError(o, 6);
    if (m.jobActive || where <= 2) {
        Act(o, encrypt ? Code::EncryptFile : Code::DecryptFile, {key, path});
        Check(host->rehandles.empty(), "no job, no frames asked for");
        return;
    }

    // The job the model expects: the file as read now, every block through the key.
    const Bytes& content = m.files[file].content;
    const uint32_t length = uint32_t(content.size());
    m.paddedSize = (length + 7) / 8 * 8;
    m.bytesDone = 0;
    m.bytesToWrite = m.noPadding ? length : m.paddedSize;
    m.bytesToProcess = m.noPadding ? length / 8 * 8 : m.paddedSize;
    m.jobResult = content;
    m.jobResult.resize(m.bytesToWrite, 0);
    for (uint32_t at = 0; at < m.bytesToProcess; at += 8)
        Block(o, cut, encrypt, m.jobResult.data() + at);
    m.jobFile = file;

    const bool budget = m.timeInterval > 0 || (m.percentInterval >= 1 && m.percentInterval <= 99);
    if (budget) {
        m.jobActive = true;
    } else {
        m.bytesDone = m.bytesToProcess;
        m.files[file].content = m.jobResult;
        expected.push_back({o, Code::FileDone, 0});
        ++totals->jobsFinished;
    }
    Act(o, encrypt ? Code::EncryptFile : Code::DecryptFile, {key, path});
    Check(host->rehandles.size() == (budget ? 1u : 0u), "frames asked for only when pending");
    Check(ReadFile(m.files[file].path) == m.files[file].content,
          budget ? "the file waits for the last frame" : "the file is written at once");
}

void Session::Frame() {
    RunData* o = AnyObject();
    current = "frame";
    if (!m.jobActive) {
        Check(host->Frame(o) == 1, "no job: stop calling");
        return;
    }
    // The blocks this continuation may do: up to the percentage bound (one block when the
    // step is below a byte after work has begun), and natively, with a clock that moves
    // one millisecond per reading, no more blocks than the time interval.
    uint64_t bound = 0;
    if (m.percentInterval >= 1 && m.percentInterval <= 99) {
        uint64_t step = uint64_t(m.percentInterval) * m.paddedSize / 100;
        if (step == 0 && m.bytesDone > 0) step = 8;
        bound = m.bytesDone + step;
    }
    int64_t blocks = 0;
    while (m.bytesDone < m.bytesToProcess) {
#if !defined(_WIN32)
        if (m.timeInterval > 0 && blocks + 1 > m.timeInterval) break;
#endif
        if (bound != 0 && m.bytesDone >= bound) break;
        m.bytesDone += 8;
        ++blocks;
    }
    const bool ends = m.bytesDone >= m.bytesToProcess;
    if (ends) {
        m.jobActive = false;
        m.files[m.jobFile].content = m.jobResult;
        expected.push_back({o, Code::FileDone, 0});
        ++totals->jobsFinished;
    }
    Check(host->Frame(o) == (ends ? 1 : 0), "frame result");
    const int32_t progress = m.bytesToProcess == 0
        ? 0 : int32_t(uint64_t(m.bytesDone) * 100 / m.bytesToProcess);
    Check(Int(o, Code::FileProgress) == progress, "FileProgress(");
    Check(ReadFile(m.files[m.jobFile].path) == m.files[m.jobFile].content,
          ends ? "written back" : "untouched until the last frame");
}

void Session::FileSettings() {
    RunData* o = AnyObject();
    const int kind = Below(3);
    if (kind == 0) {
#if defined(_WIN32)
        static const int32_t Times[] = {0, -5, 600000};
#else
        static const int32_t Times[] = {0, -5, 1, 2, 3, 5, 8, 600000};
#endif
        m.timeInterval = Times[Below(int(std::size(Times)))];
        current = "time interval " + std::to_string(m.timeInterval);
        host->Action(o, Code::SetTimeInterval, m.timeInterval);
    } else if (kind == 1) {
        static const int32_t Percents[] = {0, 100, 150, -5, 1, 5, 25, 30, 50, 99};
        m.percentInterval = Percents[Below(int(std::size(Percents)))];
        current = "percent interval " + std::to_string(m.percentInterval);
        host->Action(o, Code::SetPercentInterval, m.percentInterval);
    } else {
        m.noPadding = Chance(50) ? 1 : 0;
        current = m.noPadding ? "no padding" : "padding";
        host->Action(o, m.noPadding ? Code::NoPadding : Code::Padding);
    }
}

void Session::FileReadings() {
    RunData* o = AnyObject();
    current = "file readings";
    Check(Condition(o, Code::IsPadding) == (m.noPadding == 0), "padding condition");
    Check(Condition(o, Code::FileBusy) == m.jobActive, "busy condition");
    Check(Int(o, Code::FileTimeInterval) == m.timeInterval, "FileTimeInterval(");
    Check(Int(o, Code::FilePercentInterval) == m.percentInterval, "FilePercentInterval(");
    Check(Int(o, Code::FileSize) == int32_t(m.bytesToWrite), "FileSize(");
    const int32_t progress = m.bytesToProcess == 0
        ? 0 : int32_t(uint64_t(m.bytesDone) * 100 / m.bytesToProcess);
    Check(Int(o, Code::FileProgress) == progress, "FileProgress(");
}

void Session::RewriteFile() {
    const size_t file = size_t(Below(int(m.files.size())));
    current = "rewrite file " + std::to_string(file);
    if (m.jobActive && m.jobFile == file) return;
    m.files[file].content.resize(size_t(Below(700)));
    for (uint8_t& b : m.files[file].content) b = uint8_t(random());
    WriteFile(m.files[file].path, m.files[file].content);
}

void Session::CreateObject() {
    if (m.objects.size() >= size_t(MaxObjects)) return DestroyObject();
    const uint16_t flags = uint16_t(Below(4));
    const std::string characters = Text(MaxFilterCharacters, true);
    std::vector<uint16_t> codes(size_t(Below(MaxFilterCodes + 1)));
    for (uint16_t& c : codes) c = uint16_t(Below(256));
    current = "create object, flags " + std::to_string(flags);

    m.controlCodes = (flags & FlagFilterControlCodes) != 0;
    m.noPadding = (flags & FlagNoPadding) != 0 ? 1 : 0;
    if (std::none_of(std::begin(m.stored), std::end(m.stored), [](bool b) { return b; })) {
        m.stored['%'] = true;
        if (!m.controlCodes) m.stored[0] = true;
    }
    if (!m.controlCodes) m.Add(0);
    for (char c : characters) m.Add(uint8_t(c));
    for (uint16_t c : codes) m.Add(uint8_t(c));
    m.ringExists = true;
    RunData* o = host->Create(TestHost::NewEditData(flags, characters.c_str(), codes));
    m.objects.push_back({o, 0, 0});
    Check(Int(o, Code::ExpressionErrorCode) == 0, "a new object has no expression error");
}

void Session::DestroyObject() {
    if (m.objects.size() <= 1) return CreateObject();
    const size_t which = size_t(Below(int(m.objects.size())));
    current = "destroy object";
    host->Destroy(m.objects[which].rd);
    m.objects.erase(m.objects.begin() + long(which));
}

// Initialize and Free: only the last Free releases keys and an unfinished job, whose
// file keeps its content; the filter and the settings carry into the next run.
void Session::References() {
    if (Chance(50) && m.references < 3) {
        current = "initialize";
        host->Initialize();
        ++m.references;
        return;
    }
    if (m.references > 1) {
        current = "free, references left";
        host->Free();
        --m.references;
        for (const std::string& k : m.keys) Check(Has(AnyObject(), k), "keys stay");
        return;
    }
    current = "last free";
    const std::vector<std::string> before = m.keys;
    while (!m.objects.empty()) {
        host->Destroy(m.objects.back().rd);
        m.objects.pop_back();
    }
    host->Free();
    if (m.jobActive) ++totals->jobsAbandoned;
    m.jobActive = false;
    m.keys.clear();
    m.ringExists = false;
    ++totals->lastFrees;
    CheckBlocks();
    host->Initialize();
    CreateObject();
    for (const std::string& k : before) Check(!Has(AnyObject(), k), "keys released");
    for (const Model::File& f : m.files)
        Check(ReadFile(f.path) == f.content, "an abandoned job writes nothing");
}

void Session::WholeFilter() {
    RunData* o = AnyObject();
    current = "whole filter";
    for (int32_t c = 0; c < 256; ++c)
        Check(Condition(o, Code::CodeFiltered, c) == m.Filtered(uint8_t(c)),
              "code " + std::to_string(c) + " filtered");
}

uint64_t EnvironmentNumber(const char* name, uint64_t otherwise) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : otherwise;
}

TEST(Soak, LongSessionMatchesTheModelAndKeepsTheHeap) {
    const uint64_t seed = EnvironmentNumber("CIPHREL_SOAK_SEED", std::random_device{}());
    const int64_t operations = int64_t(EnvironmentNumber("CIPHREL_SOAK_OPERATIONS", 10000));
    std::printf("soak seed %" PRIu64 " (CIPHREL_SOAK_SEED=%" PRIu64 " repeats this run)\n",
                seed, seed);
    std::fflush(stdout);
    const fs::path dir = fs::path(testing::TempDir()) / ("soak_" + std::to_string(seed));
    fs::create_directories(dir);

    // A short session first, so that whatever the runtime allocates once for good (stdio,
    // the test host's module table) is in place before the heap is measured.
    Totals warmUp;
    const int64_t warmUpOperations = std::min<int64_t>(operations, 2000);
    ASSERT_TRUE(Session(seed ^ 0x5A5A5A5Au, dir).Run(warmUpOperations, &warmUp));
    const int64_t heapBefore = HeapInUse();
#if !defined(_WIN32)
    const int64_t blocksBefore = LiveAllocations();
    const size_t descriptorsBefore = OpenDescriptors();
#endif

    Totals totals;
    const bool ok = Session(seed, dir).Run(operations, &totals);
    const int64_t heapAfter = HeapInUse();
    fs::remove_all(dir);
    ASSERT_TRUE(ok) << "repeat with CIPHREL_SOAK_SEED=" << seed;

    std::printf("soak: %" PRId64 " operations, %" PRId64 " events, %" PRId64
                " file jobs finished, %" PRId64 " abandoned by the last Free, %" PRId64
                " last Frees, %" PRId64 " cipher texts checked, at most %" PRIu64 " keys\n",
                totals.operations, totals.events, totals.jobsFinished, totals.jobsAbandoned,
                totals.lastFrees, totals.ciphersChecked, uint64_t(totals.mostKeys));
    std::printf("soak: heap in use before %" PRId64 " bytes, after %" PRId64 " bytes\n",
                heapBefore, heapAfter);
    EXPECT_EQ(totals.operations, operations);
#if !defined(_WIN32)
    std::printf("soak: engine blocks live before %" PRId64 ", after %" PRId64
                "; open files before %" PRIu64 ", after %" PRIu64 "\n", blocksBefore,
                LiveAllocations(), uint64_t(descriptorsBefore), uint64_t(OpenDescriptors()));
    EXPECT_EQ(LiveAllocations(), blocksBefore) << "blocks the engine still holds";
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore) << "files left open";
#endif
    if (heapBefore < 0 || heapAfter < 0) {
        std::printf("soak: this C runtime cannot walk its heap; the heap is not compared\n");
    } else {
        EXPECT_LE(heapAfter, heapBefore + HeapCacheSlack) << "the heap grew over the session";
    }
}

}  // namespace
