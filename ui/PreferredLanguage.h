#pragma once

#include <juce_core/juce_core.h>

/** The user's first preferred language, read afresh from the environment at
    each call in the POSIX order: the first entry of LANGUAGE, else LC_ALL,
    else LC_MESSAGES, else LANG. Encoding and modifier are dropped, so
    "zh_CN.UTF-8" gives "zh_CN". "C", "POSIX" or nothing at all gives "en".
*/
juce::String getFirstPreferredLanguage();

/** True when the first preferred language begins with "zh" (any Chinese
    variant); the pages then use their Chinese images and the Chinese table.
*/
bool isChineseLanguage();
