// Links the extracted typeface into the program with the assembler's .incbin, which
// takes no time at all, where a 7 MB C array would take minutes to compile.

#include "BinaryData.h"
#include "NorvoTypeface.h" // size and digest, written with the font by the build

#define NORVO_STRINGIFY_IMPL(x) #x
#define NORVO_STRINGIFY(x) NORVO_STRINGIFY_IMPL (x)

asm (".pushsection .rodata.norvo_typeface, \"a\", @progbits\n"
     ".balign 16\n"
     ".globl norvo_typeface_bytes\n"
     ".hidden norvo_typeface_bytes\n"
     ".type norvo_typeface_bytes, @object\n"
     "norvo_typeface_bytes:\n"
     ".incbin \"" NORVO_TYPEFACE_FILE "\"\n"
     "norvo_typeface_bytes_end:\n"
     ".size norvo_typeface_bytes, norvo_typeface_bytes_end - norvo_typeface_bytes\n"
     // The file linked in must be the one the header describes.
     ".if (norvo_typeface_bytes_end - norvo_typeface_bytes) - " NORVO_STRINGIFY (NORVO_TYPEFACE_SIZE) "\n"
     ".error \"embedded typeface does not match NorvoTypeface.h\"\n"
     ".endif\n"
     ".byte 0\n"
     ".popsection\n");

extern "C" const char norvo_typeface_bytes[];

namespace BinaryData
{
    const char* typeface_otf = norvo_typeface_bytes;
    const int   typeface_otfSize = NORVO_TYPEFACE_SIZE;
}
