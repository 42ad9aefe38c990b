// Links against norvo_core from outside and uses it: the nibble split of two bytes.

#include "firmware/FirmwareFile.h"

int main()
{
    const juce::uint8 bytes[] = { 0xA5, 0x0F };
    const auto nibbles = FirmwareFile::splitNibbles (bytes, 2);
    const bool right = nibbles.size() == 4 && nibbles[0] == 0x0A && nibbles[1] == 0x05
                        && nibbles[2] == 0x00 && nibbles[3] == 0x0F;
    return right ? 0 : 1;
}
