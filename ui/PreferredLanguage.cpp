#include "ui/PreferredLanguage.h"

#include <cstdlib>

namespace
{
    juce::String readVariable (const char* name)
    {
        const char* value = std::getenv (name);
        return value != nullptr ? juce::String::fromUTF8 (value) : juce::String();
    }

    /** The first non-empty setting among the variables, in their order of precedence. */
    juce::String findLocaleSetting()
    {
        // LANGUAGE is a colon-separated list of preferences; only its first entry counts.
        const auto firstOfList = readVariable ("LANGUAGE").upToFirstOccurrenceOf (":", false, false).trim();

        if (firstOfList.isNotEmpty())
            return firstOfList;

        for (const auto* name : { "LC_ALL", "LC_MESSAGES", "LANG" })
        {
            const auto value = readVariable (name).trim();

            if (value.isNotEmpty())
                return value;
        }

        return {};
    }
}

juce::String getFirstPreferredLanguage()
{
    // language[_territory][.codeset][@modifier]
    const auto language = findLocaleSetting().upToFirstOccurrenceOf (".", false, false)
                                              .upToFirstOccurrenceOf ("@", false, false);

    if (language.isEmpty() || language == "C" || language == "POSIX")
        return "en";

    return language;
}

bool isChineseLanguage()
{
    return getFirstPreferredLanguage().startsWith ("zh");
}
