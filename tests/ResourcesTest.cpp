#include <gtest/gtest.h>

#include "tests/support/AppTesting.h"
#include "ui/PreferredLanguage.h"

#include <set>

static const auto english = juce::String::createStringFromData (BinaryData::english_txt, BinaryData::english_txtSize);
static const auto chinese = juce::String::createStringFromData (BinaryData::chinese_txt, BinaryData::chinese_txtSize);

TEST (Resources, TheTablesAnswerTheSystemsLookupsTheImagesDecodeAtTheirSizesAndTheTypefaceHasEveryGlyph)
{
    const juce::LocalisedStrings en (english, false), zh (chinese, false);
    const juce::String misspelt ("Restart the device r software"), warning ("To prevent unexpected situations during firmware updates, "
                                                                              "be sure to back up your tones. \n Are you sure to continue?");
    const std::pair<juce::String, const char*> lookups[] = {
        { "There's no new firmware yet. Download it", "还没有新版固件, 去下载>>" }, { "Select a file path", "请选择文件路径" }, { "Cancel", "取消" },
        { "Continue", "继续" }, { "Updated version:", "更新版本:" }, { "Warning", "提示" }, { "OK", "OK" }, { misspelt, "Restart the device r software" },
        { "Device recognition failed, your Norvo may be occupied by other applications. Please try to close related applications and try again.",
          "识别设备失败，可能您的Norvo正被占用，请尝试关闭其他相关应用程序后再试。" }, { "Restart the device or software", "重启设备或重启软件" },
        { "The firmware file is not compatible with your device. ", "此固件文件与您的设备不匹配。" },
        { "Select a firmware and click the Update button below", "选择一个固件，并点击下方更新按钮" },   // twice in each table
        { warning, "为防止固件更新过程中的意外情况, \n 请务必备份您的音色。 \n 您确定要继续吗？" } };

    // English gives every key back unchanged, apart from correcting the misspelt one.
    for (const auto& [key, chineseValue] : lookups)
        EXPECT_EQ (en.translate (key) + "|" + zh.translate (key), (key == misspelt ? "Restart the device or software" : key) + "|" + juce::String::fromUTF8 (chineseValue));

    const std::map<juce::String, juce::Rectangle<int>> buttons { { "help_button_en_png", { 280, 60 } }, { "help_button_zh_png", { 280, 60 } },
        { "back_button_png", { 28, 28 } }, { "browse_button_png", { 56, 56 } }, { "start_enabled_en_png", { 200, 56 } }, { "start_enabled_zh_png", { 158, 56 } },
        { "start_disabled_en_png", { 158, 56 } }, { "start_disabled_zh_png", { 158, 56 } }, { "progress_track_png", { 448, 20 } } };
    int images = 0;

    for (int i = 0; i < BinaryData::namedResourceListSize; ++i)
    {
        const juce::String name (BinaryData::namedResourceList[i]);
        const auto image = resourceImage (name);
        images += image.isValid() ? 1 : 0;
        EXPECT_TRUE (! name.endsWith ("_png") || (image.getFormat() == juce::Image::ARGB   // the page images are 1300 x 828
                                                  && image.getBounds() == (buttons.count (name) > 0 ? buttons.at (name) : juce::Rectangle<int> (1300, 828)))) << name;
    }

    EXPECT_EQ (images, 25);

    // A character the face lacks gets its "missing" box; private-use characters are never in it.
    const auto typeface = juce::Typeface::createSystemTypefaceFor (BinaryData::typeface_otf, (size_t) BinaryData::typeface_otfSize);
    const auto outlineOf = [&typeface] (juce::juce_wchar character)
    {
        juce::Path outline;
        typeface->getOutlineForGlyph ((int) character, outline);   // the face numbers its glyphs by character
        return outline.toString();
    };
    const auto missing = outlineOf (0xe000), bothTables = english + chinese;
    ASSERT_TRUE (missing.isNotEmpty() && outlineOf (0xe123) == missing);
    std::set<juce::juce_wchar> characters;

    for (const auto c : bothTables)
        characters.insert (c);

    for (const auto c : characters)
        EXPECT_TRUE (c == '\n' || c == ' ' || outlineOf (c) != missing) << "no glyph for U+" << juce::String::toHexString ((int) c);
}

TEST (Resources, ThePreferredLanguageIsTheFirstSettingInPosixOrderWithoutCodesetOrModifier)
{
    ScopedEnv env;
    const std::tuple<const char*, const char*, const char*> settings[] = {
        { "LANGUAGE", nullptr, "" }, { "LC_ALL", nullptr, "" }, { "LC_MESSAGES", nullptr, "" }, { "LANG", nullptr, "en" }, { "LANG", "de_DE.UTF-8", "de_DE" },
        { "LC_MESSAGES", "ja_JP", "ja_JP" }, { "LC_ALL", "zh_HK@stroke", "zh_HK" }, { "LANGUAGE", "en_GB:zh_CN", "en_GB" }, { "LANGUAGE", "", "zh_HK" },
        { "LC_ALL", "C", "en" }, { "LC_ALL", "POSIX.UTF-8", "en" }, { "LC_ALL", "zh_TW.Big5", "zh_TW" } };

    for (const auto& [name, value, expected] : settings)
    {
        env.set (name, value);
        EXPECT_TRUE (*expected == 0 || getFirstPreferredLanguage() == expected) << name << "=" << (value != nullptr ? value : "(unset)");
    }
}
