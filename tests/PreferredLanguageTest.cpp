#include <gtest/gtest.h>

#include "tests/support/PageTesting.h"
#include "ui/PreferredLanguage.h"

TEST (PreferredLanguage, FirstNonEmptySettingInPosixOrderWithoutCodeset)
{
    PageSurroundings surroundings;
    const std::pair<const char*, const char*> settings[] = { { "LANG", nullptr },         { "LANG", "de_DE.UTF-8" },
                                                             { "LC_MESSAGES", "ja_JP" },  { "LC_ALL", "zh_HK.UTF-8@stroke" },
                                                             { "LANGUAGE", "en_GB:zh_CN" }, { "LANGUAGE", "" } };
    const char* expected[] = { "en", "de_DE", "ja_JP", "zh_HK", "en_GB", "zh_HK" };

    for (size_t i = 0; i < std::size (settings); ++i)
    {
        surroundings.setEnv (settings[i].first, settings[i].second);
        EXPECT_EQ (getFirstPreferredLanguage(), expected[i]) << i;
    }

    for (const auto* lang : { "zh_CN.UTF-8", "zh_TW.Big5", "zh", "C", "POSIX", "C.UTF-8", "en_GB.UTF-8", "ja_JP" })
    {
        surroundings.setEnv ("LC_ALL", lang);
        EXPECT_EQ (isChineseLanguage(), lang[0] == 'z') << lang;
    }
}
