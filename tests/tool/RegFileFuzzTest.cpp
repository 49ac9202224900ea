// A mutation loop over .reg files: whatever the bytes, the reader either
// refuses them with a RegFileError or returns a document that the writer
// writes and the reader reads back unchanged. Run under the sanitizers, it
// also finds reads out of bounds. Bounded by VESK_FUZZ_SECONDS (default 2)
// and by a count of inputs.
#include "tools/vesk/core/RegFile.h"
#include "tools/vesk/core/Text.h"
#include "RegFileSummary.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>

using namespace vesk_tool;

namespace {

const char* const Seeds[] = {
    "Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\K]\r\n@=\"d\"\r\n\"a\"=\"x\\\\y\\\"z\\n\" ;c\r\n\"b\"=dword:0000002a\r\n"
    "\"c\"=hex:01,02,\\\r\n  03\r\n\"d\"=hex(7):41,00,00,00,00,00\r\n\"e\"=-\r\n[-HKLM\\K\\Old\\]\r\n# c\r\n",
    "REGEDIT4\n[HKLM\\K]\n\"x\"=hex(2):41,e9,00\n\"\xe9\"=\"\x80\"\n",
    "Windows Registry Editor Version 5.00\r[HKLM\\K\\\xC3\xA9]\r\"q\"=hex(b):01,02,03,04,05,06,07,08\r",
};

// Pieces of the syntax, so mutations reach past the first check.
const char* const Tokens[] = {"\"", "\\", "\\\\", "\\\"", "\\n", "=", "@", "[", "]", "[-", "-", ";", "#", ",", ",\\\n", "\r\n", "\n", "\r",
                              "hex:", "hex(", "):", "dword:", "ff", " ", "\t", "\0", "\xC3", "\xEF\xBB\xBF", "\xFF\xFE"};

class Mutator {
public:
    explicit Mutator(unsigned seed) : random(seed) {}

    std::string mutate(std::string input)
    {
        const int steps = 1 + pick(4);
        for (int i = 0; i < steps; ++i)
            step(input);
        return input;
    }

    // Now and then the seed in UTF-16LE, when it is UTF-8.
    std::string seedOrUtf16(const std::string& seed)
    {
        if (pick(3) != 0)
            return seed;
        try {
            return "\xFF\xFE" + toUtf16le(fromUtf8(seed));
        } catch (const DecodeError&) {
            return seed;
        }
    }

    int pick(std::size_t bound) { return static_cast<int>(std::uniform_int_distribution<std::size_t>(0, bound - 1)(random)); }

private:
    void step(std::string& input)
    {
        const std::size_t at = input.empty() ? 0 : static_cast<std::size_t>(pick(input.size() + 1));
        switch (pick(5)) {
        case 0:
            if (at < input.size())
                input[at] = static_cast<char>(pick(256));
            break;
        case 1: {
            const char* token = Tokens[pick(std::size(Tokens))];
            input.insert(at, token, *token ? std::char_traits<char>::length(token) : 1);
            break;
        }
        case 2:
            input.erase(at, static_cast<std::size_t>(pick(8)));
            break;
        case 3:
            input.insert(at, input.substr(at, static_cast<std::size_t>(pick(16))));
            break;
        default:
            input.resize(at);
            break;
        }
    }

    std::mt19937 random;
};

bool writable(const RegDocument& document, RegEncoding encoding)
{
    for (const RegKey& key : document.keys) {
        if (!canWriteKeyPath(key.path))
            return false;
        for (const RegValue& value : key.values)
            if (!canWriteName(value.name) || (!value.remove && !canWriteValue(value.value, encoding)))
                return false;
    }
    return true;
}

} // namespace

TEST(RegFileFuzz, ReaderRefusesOrRoundTripsWhateverItIsGiven)
{
    const char* configured = std::getenv("VESK_FUZZ_SECONDS");
    const auto budget = std::chrono::seconds(configured ? std::atoi(configured) : 2);
    const auto start = std::chrono::steady_clock::now();
    Mutator mutator(20261206);
    long inputs = 0;
    long accepted = 0;
    for (; inputs < 50'000'000 && std::chrono::steady_clock::now() - start < budget; ++inputs) {
        const std::string input = mutator.mutate(mutator.seedOrUtf16(Seeds[mutator.pick(std::size(Seeds))]));
        RegDocument document;
        try {
            document = readRegFile(input);
        } catch (const RegFileError& error) {
            ASSERT_GE(error.line, 1) << testing::PrintToString(input);
            continue;
        }
        ++accepted;
        for (const RegEncoding encoding : {RegEncoding::Utf16, RegEncoding::Utf8}) {
            if (!writable(document, encoding))
                continue;
            try {
                ASSERT_EQ(regfile_test::summary(readRegFile(writeRegFile(document, encoding))), regfile_test::summary(document))
                    << testing::PrintToString(input);
            } catch (const RegFileError& error) {
                FAIL() << "line " << error.line << ": " << error.what() << " reading back " << testing::PrintToString(input);
            }
        }
    }
    std::printf("%ld inputs, %ld accepted\n", inputs, accepted);
}
