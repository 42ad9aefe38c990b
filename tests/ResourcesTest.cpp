#include <gtest/gtest.h>

#include "BinaryData.h"
#include "tests/support/PageTesting.h"

#include <set>
#include <string>

namespace
{
    juce::String textOf (const char* data, int size)   { return juce::String::createStringFromData (data, size); }
    juce::String utf8 (const char* text)               { return juce::String::fromUTF8 (text); }
}

TEST (TranslationTables, LookupsOfTheSystemInBothLanguages)
{
    const juce::LocalisedStrings english (textOf (BinaryData::english_txt, BinaryData::english_txtSize), false);
    const juce::LocalisedStrings chinese (textOf (BinaryData::chinese_txt, BinaryData::chinese_txtSize), false);

    const juce::String warning ("To prevent unexpected situations during firmware updates, be sure to back up your tones. \n Are you sure to continue?");
    const juce::String incompatible ("The firmware file is not compatible with your device. ");
    const juce::String recognition ("Device recognition failed, your Norvo may be occupied by other applications. "
                                    "Please try to close related applications and try again.");
    const juce::String select ("Select a firmware and click the Update button below");

    // An empty English column means the key comes back unchanged, as it does for every absent key.
    const struct { juce::String key; const char* english; const char* chinese; } lookups[] =
    {
        { "There's no new firmware yet. Download it", "", "还没有新版固件, 去下载>>" },
        { "Select a file path",                       "", "请选择文件路径" },
        { "Cancel",                                   "", "取消" },
        { "Continue",                                 "", "继续" },
        { "Updated version:",                         "", "更新版本:" },
        { "Warning",                                  "", "提示" },
        { recognition,                                "", "识别设备失败，可能您的Norvo正被占用，请尝试关闭其他相关应用程序后再试。" },
        { incompatible,                               "", "此固件文件与您的设备不匹配。" },
        { select,                                     "", "选择一个固件，并点击下方更新按钮" },
        { warning,                                    "", "为防止固件更新过程中的意外情况, \n 请务必备份您的音色。 \n 您确定要继续吗？" },
        { "Restart the device r software",            "Restart the device or software", "Restart the device r software" },
        { "Restart the device or software",           "", "重启设备或重启软件" },
        { "OK",                                       "", "OK" },
        { "The firmware file is not compatible with your device.", "", "The firmware file is not compatible with your device." },
    };

    for (const auto& entry : lookups)
    {
        SCOPED_TRACE (entry.key);
        EXPECT_EQ (english.translate (entry.key), *entry.english != 0 ? utf8 (entry.english) : entry.key);
        EXPECT_EQ (chinese.translate (entry.key), utf8 (entry.chinese));
    }

    // The warning's key holds one real line break, its Chinese text two.
    EXPECT_EQ (juce::StringArray::fromLines (chinese.translate (warning)).size(), 3);
}

TEST (EmbeddedImages, EachDecodesAtItsSizeAndIsItsOwnPicture)
{
    const struct { const char* name; int width, height; } images[] =
    {
        { "disconnected_en_png", 1300, 828 },          { "disconnected_zh_png", 1300, 828 },
        { "help_en_png", 1300, 828 },                  { "help_zh_png", 1300, 828 },
        { "help_button_en_png", 280, 60 },             { "help_button_zh_png", 280, 60 },
        { "back_button_png", 28, 28 },                 { "browse_button_png", 56, 56 },
        { "connected_normal_en_full_png", 1300, 828 }, { "connected_normal_en_mini_png", 1300, 828 },
        { "connected_normal_zh_full_png", 1300, 828 }, { "connected_normal_zh_mini_png", 1300, 828 },
        { "connected_update_en_full_png", 1300, 828 }, { "connected_update_en_mini_png", 1300, 828 },
        { "connected_update_zh_full_png", 1300, 828 }, { "connected_update_zh_mini_png", 1300, 828 },
        { "update_en_full_png", 1300, 828 },           { "update_en_mini_png", 1300, 828 },
        { "update_zh_full_png", 1300, 828 },           { "update_zh_mini_png", 1300, 828 },
        { "start_enabled_en_png", 200, 56 },           { "start_enabled_zh_png", 158, 56 },
        { "start_disabled_en_png", 158, 56 },          { "start_disabled_zh_png", 158, 56 },
        { "progress_track_png", 448, 20 },
    };

    std::set<std::string> contents;   // a copied file under a second name would pass every size check

    for (const auto& entry : images)
    {
        SCOPED_TRACE (entry.name);
        int size = 0;
        const auto* data = BinaryData::getNamedResource (entry.name, size);
        ASSERT_NE (data, nullptr);
        EXPECT_TRUE (contents.insert (std::string (static_cast<const char*> (data), (size_t) size)).second);

        const auto image = resourceImage (entry.name);
        ASSERT_TRUE (image.isValid());
        EXPECT_EQ (image.getBounds(), juce::Rectangle<int> (entry.width, entry.height));
        EXPECT_TRUE (image.hasAlphaChannel());

        // A page image covers its whole page: no corner may let the window show through.
        for (auto [x, y] : { std::pair { 0, 0 }, { 1299, 0 }, { 0, 827 }, { 1299, 827 } })
            EXPECT_TRUE (entry.width != 1300 || image.getPixelAt (x, y).getAlpha() == 255) << x << ", " << y;
    }
}

TEST (EmbeddedTypeface, HasAGlyphForEveryCharacterOfBothTables)
{
    const auto typeface = juce::Typeface::createSystemTypefaceFor (BinaryData::typeface_otf, (size_t) BinaryData::typeface_otfSize);
    ASSERT_NE (typeface, nullptr);

    const auto outlineOf = [&typeface] (juce::juce_wchar character)
    {
        juce::Array<int> glyphs;
        juce::Array<float> offsets;
        typeface->getGlyphPositions (juce::String::charToString (character), glyphs, offsets);
        juce::Path outline;

        if (glyphs.size() == 1)
            typeface->getOutlineForGlyph (glyphs[0], outline);

        return outline.toString();
    };

    // A character the face lacks gets its "missing" box; private-use characters are never in it.
    const auto missing = outlineOf (0xe000);
    ASSERT_TRUE (missing.isNotEmpty());
    ASSERT_EQ (outlineOf (0xe123), missing);

    const auto text = textOf (BinaryData::english_txt, BinaryData::english_txtSize)
                    + textOf (BinaryData::chinese_txt, BinaryData::chinese_txtSize);
    std::set<juce::juce_wchar> characters;

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
        characters.insert (p.getAndAdvance());

    characters.erase ('\n');
    characters.erase (' ');
    EXPECT_GT (characters.size(), 150u);

    for (auto c : characters)
        EXPECT_NE (outlineOf (c), missing) << "no glyph for U+" << juce::String::toHexString ((int) c);
}
