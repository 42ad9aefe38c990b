#include <gtest/gtest.h>

#include "tests/support/ScopedEnvironment.h"
#include "ui/PreferredLanguage.h"

namespace
{
    struct PreferredLanguage : public testing::Test
    {
        void SetUp() override
        {
            for (const auto* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" })
                environment.unset (name);
        }

        ScopedEnvironment environment;
    };
}

TEST_F (PreferredLanguage, TakesTheFirstSettingInPosixOrder)
{
    environment.set ("LANG", "de_DE.UTF-8");
    EXPECT_EQ (getFirstPreferredLanguage(), "de_DE");

    environment.set ("LC_MESSAGES", "ja_JP.UTF-8");
    EXPECT_EQ (getFirstPreferredLanguage(), "ja_JP");

    environment.set ("LC_ALL", "zh_CN.UTF-8");
    EXPECT_EQ (getFirstPreferredLanguage(), "zh_CN");

    environment.set ("LANGUAGE", "en_GB:zh_CN");
    EXPECT_EQ (getFirstPreferredLanguage(), "en_GB");
}

TEST_F (PreferredLanguage, SkipsEmptySettings)
{
    environment.set ("LANGUAGE", "");
    environment.set ("LC_ALL", "");
    environment.set ("LANG", "zh_TW.Big5");

    EXPECT_EQ (getFirstPreferredLanguage(), "zh_TW");
}

TEST_F (PreferredLanguage, DropsCodesetAndModifier)
{
    environment.set ("LANG", "zh_HK.UTF-8@stroke");
    EXPECT_EQ (getFirstPreferredLanguage(), "zh_HK");

    environment.set ("LANG", "sr_RS@latin");
    EXPECT_EQ (getFirstPreferredLanguage(), "sr_RS");
}

TEST_F (PreferredLanguage, PortableLocalesAndNothingMeanEnglish)
{
    EXPECT_EQ (getFirstPreferredLanguage(), "en");

    for (const auto* locale : { "C", "POSIX", "C.UTF-8" })
    {
        environment.set ("LANG", locale);
        EXPECT_EQ (getFirstPreferredLanguage(), "en") << locale;
        EXPECT_FALSE (isChineseLanguage()) << locale;
    }
}

TEST_F (PreferredLanguage, EveryChineseVariantAndOnlyChineseCounts)
{
    for (const auto* chinese : { "zh_CN.UTF-8", "zh_TW.UTF-8", "zh_HK", "zh" })
    {
        environment.set ("LANG", chinese);
        EXPECT_TRUE (isChineseLanguage()) << chinese;
    }

    for (const auto* other : { "en_GB.UTF-8", "ja_JP.UTF-8", "de_DE", "en_ZH" })
    {
        environment.set ("LANG", other);
        EXPECT_FALSE (isChineseLanguage()) << other;
    }
}

TEST_F (PreferredLanguage, FollowsTheEnvironmentAtEachCall)
{
    environment.set ("LANG", "zh_CN.UTF-8");
    EXPECT_TRUE (isChineseLanguage());

    environment.set ("LANGUAGE", "en_US");
    EXPECT_FALSE (isChineseLanguage());

    environment.unset ("LANGUAGE");
    EXPECT_TRUE (isChineseLanguage());
}
