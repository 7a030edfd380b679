// The string expressions through the routine table, as a game calls them: arbitrary
// escaped text decrypts to what decoding and decrypting it by hand gives, and arbitrary
// text comes back from EncryptString$( then DecryptString$( up to its first zero byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cipher/blowfish.h"
#include "engine/engine_state.h"
#include "fuzz/fuzz_check.h"
#include "testhost/test_host.h"

namespace {

constexpr int AddKeyAction = 0, AddCharactersAction = 2;
constexpr int EncryptStringExpression = 2, DecryptStringExpression = 5;
constexpr int ExpressionErrorExpression = 9;

std::vector<uint8_t> Decode(const std::string& text) {
    return DecodeEscapes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string UpToZero(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        if (b == 0) break;
        text.push_back(char(b));
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const bool controlCodes = input.ConsumeBool();
    // Host strings end at their first zero byte.
    const std::string extra = input.ConsumeRandomLengthString(24).c_str();
    const std::string key = input.ConsumeRandomLengthString(56).c_str();
    const std::string escaped = input.ConsumeRandomLengthString(400).c_str();
    const std::string text = input.ConsumeRemainingBytesAsString().c_str();

    // Each input starts from an empty filter set, so that a finding replays by itself.
    engine.filterSet = FilterSet{};
    TestHost host;
    host.Initialize();
    RunData* o = host.Create(TestHost::NewEditData(controlCodes ? 1 : 0, "", {}));
    std::vector<std::string> texts{extra};
    host.ActionText(o, AddCharactersAction, texts);
    texts = {key};
    host.ActionText(o, AddKeyAction, texts);
    REQUIRE(host.events.empty());

    BlowfishContext context;
    ExpandKey(&context, reinterpret_cast<const uint8_t*>(key.data()), int32_t(key.size()));

    // Arbitrary escaped text: decoded, completed with zeros to whole blocks, decrypted.
    std::vector<uint8_t> bytes = Decode(escaped);
    bytes.resize((bytes.size() + 7) / 8 * 8, 0);
    DecryptBlocks(&context, bytes.data(), bytes.size() / 8);
    const std::string decrypted = host.ExpressionText(
        o, DecryptStringExpression, {HostParam::Str(key), HostParam::Str(escaped)});
    REQUIRE(decrypted == UpToZero(bytes));

    // A text encrypts to whole blocks, escaped exactly where the filter says.
    const std::string cipher = host.ExpressionText(o, EncryptStringExpression,
                                                   {HostParam::Str(key), HostParam::Str(text)});
    std::vector<uint8_t> plain(text.begin(), text.end());
    plain.resize((plain.size() + 7) / 8 * 8, 0);
    REQUIRE(cipher.size() >= plain.size() && cipher.size() <= 3 * plain.size());
    EncryptBlocks(&context, plain.data(), plain.size() / 8);
    REQUIRE(Decode(cipher) == plain);
    size_t at = 0;
    for (uint8_t b : plain) {
        const bool filtered =
            FindFilterCode(&engine.filterSet, engine.filterControlCodes, b) != FilterAbsent;
        REQUIRE(filtered == (cipher[at] == '%'));
        at += filtered ? 3 : 1;
    }

    // Back again, also straight from the result buffer that the encryption left.
    REQUIRE(host.ExpressionText(o, DecryptStringExpression,
                                {HostParam::Str(key), HostParam::Str(cipher)}) == text);
    const auto* result = reinterpret_cast<const char*>(host.Expression(
        o, EncryptStringExpression, {HostParam::Str(key), HostParam::Str(text)}));
    REQUIRE(host.ExpressionText(o, DecryptStringExpression,
                                {HostParam::Str(key), HostParam::Ptr(result)}) == text);

    REQUIRE(host.Expression(o, ExpressionErrorExpression) == 0);
    REQUIRE(host.faults.empty());
    host.Destroy(o);
    host.Free();
    return 0;
}
