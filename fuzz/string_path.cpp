// The string expressions through the routine table, as a game calls them: arbitrary
// escaped text decrypts to what decoding and decrypting it by hand gives, and arbitrary
// text comes back from EncryptString$( then DecryptString$( up to its first zero byte.
#include <fuzzer/FuzzedDataProvider.h>

#include "cipher/blowfish.h"
#include "engine/engine_state.h"
#include "fuzz/fuzz_check.h"
#include "testhost/test_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr int AddKey = 0, AddCharacters = 2, EncryptString = 2, DecryptString = 5;
    FuzzedDataProvider input(data, size);
    const bool controlCodes = input.ConsumeBool();
    std::vector<std::string> extra{input.ConsumeRandomLengthString(24).c_str()};
    std::vector<std::string> key{input.ConsumeRandomLengthString(56).c_str()};
    const std::string escaped = input.ConsumeRandomLengthString(400).c_str();
    const std::string text = input.ConsumeRemainingBytesAsString().c_str();

    engine.filterSet = FilterSet{};     // so that a finding replays by itself
    TestHost host;
    host.Initialize();
    RunData* o = host.Create(TestHost::NewEditData(controlCodes ? 1 : 0, "", {}));
    host.ActionText(o, AddCharacters, extra);
    host.ActionText(o, AddKey, key);
    const HostParam keyText = HostParam::Str(key[0]);
    BlowfishContext context;
    ExpandKey(&context, reinterpret_cast<const uint8_t*>(key[0].data()), int32_t(key[0].size()));

    // Decoded, completed with zeros to whole blocks, decrypted, up to the first zero.
    std::vector<uint8_t> bytes = DecodeEscapes(reinterpret_cast<const uint8_t*>(escaped.data()),
                                               escaped.size());
    bytes.resize((bytes.size() + 7) / 8 * 8 + 1, 0);
    DecryptBlocks(&context, bytes.data(), bytes.size() / 8);
    REQUIRE(host.ExpressionText(o, DecryptString, {keyText, HostParam::Str(escaped)}) ==
            reinterpret_cast<const char*>(bytes.data()));

    // Whole blocks, escaped exactly where the filter says, and back again, also straight
    // from the result buffer that the encryption left.
    const std::string cipher =
            host.ExpressionText(o, EncryptString, {keyText, HostParam::Str(text)});
    std::vector<uint8_t> plain(text.begin(), text.end());
    plain.resize((plain.size() + 7) / 8 * 8, 0);
    EncryptBlocks(&context, plain.data(), plain.size() / 8);
    REQUIRE(DecodeEscapes(reinterpret_cast<const uint8_t*>(cipher.data()), cipher.size()) ==
            plain);
    size_t at = 0;
    for (uint8_t b : plain) {
        const bool filtered =
                FindFilterCode(&engine.filterSet, engine.filterControlCodes, b) != FilterAbsent;
        REQUIRE(filtered == (cipher[at] == '%'));
        at += filtered ? 3 : 1;
    }
    const auto* result = reinterpret_cast<const char*>(
        host.Expression(o, EncryptString, {keyText, HostParam::Str(text)}));
    REQUIRE(host.ExpressionText(o, DecryptString, {keyText, HostParam::Ptr(result)}) == text);
    REQUIRE(host.events.empty() && host.faults.empty() && o->expressionErrorCode == 0);
    host.Destroy(o);
    host.Free();
    return 0;
}
