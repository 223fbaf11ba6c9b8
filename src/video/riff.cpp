#include "video/riff.h"

namespace video::riff {

namespace {

int32_t digitValue(uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

uint8_t byteOf(uint32_t id, int index)
{
    return static_cast<uint8_t>(id >> (8 * index));
}

} // namespace

int32_t streamOfDigits(uint32_t id)
{
    const uint8_t high = byteOf(id, 0);
    const uint8_t low = byteOf(id, 1);
    const int32_t h = digitValue(high);
    const int32_t l = digitValue(low);
    if (h < 0 || l < 0)
        return -1;
    // Decimal and hexadecimal numbering agree up to 09; beyond, decimal digits read as decimal
    // (the common writer's choice) and any hex letter makes the pair hexadecimal.
    const bool decimal = high <= '9' && low <= '9';
    return decimal ? h * 10 + l : h * 16 + l;
}

int32_t streamOfDataChunk(uint32_t id)
{
    const uint8_t c2 = byteOf(id, 2);
    const uint8_t c3 = byteOf(id, 3);
    const bool letters = ((c2 >= 'a' && c2 <= 'z') || (c2 >= 'A' && c2 <= 'Z')) &&
                         ((c3 >= 'a' && c3 <= 'z') || (c3 >= 'A' && c3 <= 'Z'));
    if (!letters)
        return -1;
    if ((c2 == 'i' && c3 == 'x') || (c2 == 'p' && c3 == 'c'))
        return -1;
    return streamOfDigits(id);
}

bool isPlausibleId(uint32_t id)
{
    for (int i = 0; i < 4; ++i) {
        const uint8_t c = byteOf(id, i);
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

uint32_t dataChunkId(int32_t stream, const char (&suffix)[3])
{
    const char name[5] = {static_cast<char>('0' + stream / 10 % 10), static_cast<char>('0' + stream % 10),
                          suffix[0], suffix[1], '\0'};
    return core::fourcc(name);
}

} // namespace video::riff
