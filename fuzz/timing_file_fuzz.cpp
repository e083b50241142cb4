// Fuzzes the timing-file reader with whole file contents and checks WAIT1, WAIT2 and the
// echo in DebugText against a small reference of the rules, stated on the bytes.
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "config/timing_file.h"
#include "core/state.h"

// ReadTimingStream never reaches these; LoadTimingFile, beside it in the library, does.
void ShowWarning(DialogHandle, const char *)
{
    abort();
}

void RequestQuit(void)
{
    abort();
}

namespace {

// One read: up to 19 bytes, stopping after a line feed, then a terminator. At the end
// of the data nothing is taken and the buffer keeps what it had.
void ReferenceRead(const std::vector<char> &data, size_t *pos, char line[20])
{
    if (*pos >= data.size())
        return;
    size_t n = 0;
    while (n < 19 && *pos < data.size()) {
        char c = data[(*pos)++];
        line[n++] = c;
        if (c == '\n')
            break;
    }
    line[n] = '\0';
}

// atoi's reading (C locale), but every step modulo 2^32, then times 1000 modulo 2^32,
// seen as two's complement.
int32_t ReferenceValue(const char *text)
{
    const uint64_t wrap = 1ull << 32;
    while (isspace(static_cast<unsigned char>(*text)))
        text++;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        text++;
    uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; text++)
        value = (value * 10 + static_cast<uint64_t>(*text - '0')) % wrap;
    if (negative)
        value = (wrap - value) % wrap;
    value = value * 1000 % wrap;
    return static_cast<int32_t>(static_cast<int64_t>(value) - (value >= wrap / 2 ? static_cast<int64_t>(wrap) : 0));
}

void Check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "timing file reader: %s\n", what);
        abort();
    }
}

// Reads `data` with DebugText already holding `before`, and checks the outcome.
void ReadAndCheck(std::vector<char> &data, const std::string &before)
{
    size_t pos = 0;
    char line1[20] = "", line2[20];
    ReferenceRead(data, &pos, line1);
    memcpy(line2, line1, sizeof line2);
    ReferenceRead(data, &pos, line2);
    std::string expected = before + "Ini file read \nWAIT1= " + line1 + "WAIT2= " + line2 + "\n";
    if (expected.size() > DEBUG_TEXT_SIZE - 1)
        expected.resize(DEBUG_TEXT_SIZE - 1);

    memcpy(DebugText, before.c_str(), before.size() + 1);
    WAIT1 = 0x5a5a5a5a;
    WAIT2 = 0x5a5a5a5a;
    FILE *file = fmemopen(data.data(), data.size(), "r");
    Check(file != nullptr, "fmemopen failed");
    ReadTimingStream(file);
    fclose(file);

    Check(WAIT1 == ReferenceValue(line1), "WAIT1 differs from the reference");
    Check(WAIT2 == ReferenceValue(line2), "WAIT2 differs from the reference");
    Check(memchr(DebugText, '\0', DEBUG_TEXT_SIZE) != nullptr, "DebugText lost its terminator");
    Check(expected == DebugText, "the echo differs from the reference");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    // A copy of exactly `size` bytes, so that ASan sees any read past the file.
    std::vector<char> data(bytes, bytes + size);
    ReadAndCheck(data, "");
    // Again with the buffer nearly full, so that the echo is cut somewhere in its middle.
    ReadAndCheck(data, std::string(DEBUG_TEXT_SIZE - 1 - size % 70, 'x'));
    return 0;
}
