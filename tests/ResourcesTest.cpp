#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include "BinaryData.h"

#include <memory>
#include <set>

namespace
{
    juce::String textOf (const char* data, int size)
    {
        return juce::String::createStringFromData (data, size);
    }

    std::unique_ptr<juce::LocalisedStrings> englishTable()
    {
        return std::make_unique<juce::LocalisedStrings> (textOf (BinaryData::english_txt, BinaryData::english_txtSize), false);
    }

    std::unique_ptr<juce::LocalisedStrings> chineseTable()
    {
        return std::make_unique<juce::LocalisedStrings> (textOf (BinaryData::chinese_txt, BinaryData::chinese_txtSize), false);
    }

    // The keys of the entry lines, in file order (duplicates included).
    juce::StringArray entryKeys (const juce::String& text)
    {
        juce::StringArray lines, keys;
        lines.addLines (text);

        for (auto& line : lines)
            if (line.trim().startsWithChar ('"'))
                keys.add (line.trim().fromFirstOccurrenceOf ("\"", false, false).upToFirstOccurrenceOf ("\"", false, false));

        return keys;
    }

    const juce::String backUpWarning ("To prevent unexpected situations during firmware updates, be sure to back up your tones. \n Are you sure to continue?");
    const juce::String incompatibleFile ("The firmware file is not compatible with your device. ");
    const juce::String recognitionFailed ("Device recognition failed, your Norvo may be occupied by other applications. "
                                          "Please try to close related applications and try again.");
    const juce::String selectAndUpdate ("Select a firmware and click the Update button below");

    // Installs a table for juce::translate and removes it again.
    struct ScopedMappings
    {
        explicit ScopedMappings (std::unique_ptr<juce::LocalisedStrings> table) { juce::LocalisedStrings::setCurrentMappings (table.release()); }
        ~ScopedMappings() { juce::LocalisedStrings::setCurrentMappings (nullptr); }
    };
}

//==============================================================================
TEST (TranslationTables, EnglishHeaderAndEntryLayout)
{
    const auto text = textOf (BinaryData::english_txt, BinaryData::english_txtSize);
    const auto table = englishTable();

    EXPECT_EQ (table->getLanguageName(), "[English]");
    EXPECT_EQ (table->getCountryCodes(), juce::StringArray ("[en]"));
    EXPECT_TRUE (text.endsWith ("\n"));

    const auto keys = entryKeys (text);
    ASSERT_EQ (keys.size(), 25);
    EXPECT_EQ (table->getMappings().size(), 24);

    // The instruction row occurs twice: once in its place, once after "Updated version:".
    EXPECT_EQ (keys[16], selectAndUpdate);
    EXPECT_EQ (keys[19], "Updated version:");
    EXPECT_EQ (keys[20], selectAndUpdate);
    EXPECT_EQ (keys[24], incompatibleFile);
    EXPECT_TRUE (keys.contains ("2. Press and hold the UPDAT button and access the power supply at the same time"));

    // Every value is its key, except the misspelled restart row.
    for (auto& key : table->getMappings().getAllKeys())
    {
        if (key == "Restart the device r software")
            EXPECT_EQ (table->translate (key), "Restart the device or software");
        else
            EXPECT_EQ (table->translate (key), key) << key;
    }
}

TEST (TranslationTables, EnglishLookupsOfTheSystem)
{
    ScopedMappings installed (englishTable());

    EXPECT_EQ (juce::translate ("There's no new firmware yet. Download it"), "There's no new firmware yet. Download it");
    EXPECT_EQ (juce::translate ("Select a file path"), "Select a file path");
    EXPECT_EQ (juce::translate ("Cancel"), "Cancel");
    EXPECT_EQ (juce::translate ("Continue"), "Continue");
    EXPECT_EQ (juce::translate ("Updated version:"), "Updated version:");
    EXPECT_EQ (juce::translate (recognitionFailed), recognitionFailed);
    EXPECT_EQ (juce::translate (incompatibleFile), incompatibleFile);
    EXPECT_EQ (juce::translate (selectAndUpdate), selectAndUpdate);

    // Absent keys come back unchanged.
    EXPECT_EQ (juce::translate ("Warning"), "Warning");
    EXPECT_EQ (juce::translate (backUpWarning), backUpWarning);
    EXPECT_EQ (juce::translate ("OK"), "OK");
    EXPECT_EQ (juce::translate ("Restart the device or software"), "Restart the device or software");
    EXPECT_FALSE (englishTable()->getMappings().containsKey ("Warning"));
}

TEST (TranslationTables, ChineseHeaderAndEntryLayout)
{
    const auto text = textOf (BinaryData::chinese_txt, BinaryData::chinese_txtSize);
    const auto table = chineseTable();

    EXPECT_EQ (table->getLanguageName(), "[SimplifiedChinese]");
    EXPECT_EQ (table->getCountryCodes(), juce::StringArray ("[cn]"));
    EXPECT_TRUE (text.startsWith ("language: [SimplifiedChinese]\ncountries: [cn]\n\n"));
    EXPECT_TRUE (text.endsWith ("\n"));

    const auto keys = entryKeys (text);
    ASSERT_EQ (keys.size(), 30);
    EXPECT_EQ (table->getMappings().size(), 29);

    EXPECT_EQ (keys[0], recognitionFailed);
    EXPECT_EQ (keys[1], "Warning");
    EXPECT_EQ (keys[2], backUpWarning.replace ("\n", "\\n"));
    EXPECT_EQ (keys.indexOf (selectAndUpdate), 21);
    EXPECT_EQ (keys[25], selectAndUpdate);
    EXPECT_EQ (keys[29], "This firmware file version is too low, please use the firmware file version V1.2.0 or later to try again.");

    // Only the correctly spelled restart row is translated.
    EXPECT_FALSE (keys.contains ("Restart the device r software"));
    EXPECT_EQ (table->translate ("Restart the device or software"), juce::String (juce::CharPointer_UTF8 ("重启设备或重启软件")));
}

TEST (TranslationTables, ChineseLookupsOfTheSystem)
{
    ScopedMappings installed (chineseTable());

    const auto utf8 = [] (const char* s) { return juce::String (juce::CharPointer_UTF8 (s)); };

    EXPECT_EQ (juce::translate ("There's no new firmware yet. Download it"), utf8 ("还没有新版固件, 去下载>>"));
    EXPECT_EQ (juce::translate ("Select a file path"), utf8 ("请选择文件路径"));
    EXPECT_EQ (juce::translate ("Cancel"), utf8 ("取消"));
    EXPECT_EQ (juce::translate ("Continue"), utf8 ("继续"));
    EXPECT_EQ (juce::translate ("Updated version:"), utf8 ("更新版本:"));
    EXPECT_EQ (juce::translate ("Warning"), utf8 ("提示"));
    EXPECT_EQ (juce::translate (recognitionFailed), utf8 ("识别设备失败，可能您的Norvo正被占用，请尝试关闭其他相关应用程序后再试。"));
    EXPECT_EQ (juce::translate (incompatibleFile), utf8 ("此固件文件与您的设备不匹配。"));
    EXPECT_EQ (juce::translate (selectAndUpdate), utf8 ("选择一个固件，并点击下方更新按钮"));

    // The back-up warning's key holds one real line break, its value two.
    const auto warning = juce::translate (backUpWarning);
    EXPECT_EQ (warning, utf8 ("为防止固件更新过程中的意外情况, \n 请务必备份您的音色。 \n 您确定要继续吗？"));
    EXPECT_EQ (juce::StringArray::fromLines (warning).size(), 3);

    // Neither table knows these.
    EXPECT_EQ (juce::translate ("OK"), "OK");
    EXPECT_EQ (juce::translate ("Restart the device r software"), "Restart the device r software");
    EXPECT_EQ (juce::translate ("The firmware file is not compatible with your device."), "The firmware file is not compatible with your device.");
}

//==============================================================================
namespace
{
    struct EmbeddedImage
    {
        const char* name;
        const char* data;
        int size;
        int width, height;
    };

    const EmbeddedImage embeddedImages[] =
    {
        { "disconnected_en",          BinaryData::disconnected_en_png,          BinaryData::disconnected_en_pngSize,          1300, 828 },
        { "disconnected_zh",          BinaryData::disconnected_zh_png,          BinaryData::disconnected_zh_pngSize,          1300, 828 },
        { "help_en",                  BinaryData::help_en_png,                  BinaryData::help_en_pngSize,                  1300, 828 },
        { "help_zh",                  BinaryData::help_zh_png,                  BinaryData::help_zh_pngSize,                  1300, 828 },
        { "help_button_en",           BinaryData::help_button_en_png,           BinaryData::help_button_en_pngSize,            280,  60 },
        { "help_button_zh",           BinaryData::help_button_zh_png,           BinaryData::help_button_zh_pngSize,            280,  60 },
        { "back_button",              BinaryData::back_button_png,              BinaryData::back_button_pngSize,                28,  28 },
        { "connected_normal_en_full", BinaryData::connected_normal_en_full_png, BinaryData::connected_normal_en_full_pngSize, 1300, 828 },
        { "connected_normal_en_mini", BinaryData::connected_normal_en_mini_png, BinaryData::connected_normal_en_mini_pngSize, 1300, 828 },
        { "connected_normal_zh_full", BinaryData::connected_normal_zh_full_png, BinaryData::connected_normal_zh_full_pngSize, 1300, 828 },
        { "connected_normal_zh_mini", BinaryData::connected_normal_zh_mini_png, BinaryData::connected_normal_zh_mini_pngSize, 1300, 828 },
        { "connected_update_en_full", BinaryData::connected_update_en_full_png, BinaryData::connected_update_en_full_pngSize, 1300, 828 },
        { "connected_update_en_mini", BinaryData::connected_update_en_mini_png, BinaryData::connected_update_en_mini_pngSize, 1300, 828 },
        { "connected_update_zh_full", BinaryData::connected_update_zh_full_png, BinaryData::connected_update_zh_full_pngSize, 1300, 828 },
        { "connected_update_zh_mini", BinaryData::connected_update_zh_mini_png, BinaryData::connected_update_zh_mini_pngSize, 1300, 828 },
        { "update_en_full",           BinaryData::update_en_full_png,           BinaryData::update_en_full_pngSize,           1300, 828 },
        { "update_en_mini",           BinaryData::update_en_mini_png,           BinaryData::update_en_mini_pngSize,           1300, 828 },
        { "update_zh_full",           BinaryData::update_zh_full_png,           BinaryData::update_zh_full_pngSize,           1300, 828 },
        { "update_zh_mini",           BinaryData::update_zh_mini_png,           BinaryData::update_zh_mini_pngSize,           1300, 828 },
        { "browse_button",            BinaryData::browse_button_png,            BinaryData::browse_button_pngSize,              56,  56 },
        { "start_enabled_en",         BinaryData::start_enabled_en_png,         BinaryData::start_enabled_en_pngSize,          200,  56 },
        { "start_enabled_zh",         BinaryData::start_enabled_zh_png,         BinaryData::start_enabled_zh_pngSize,          158,  56 },
        { "start_disabled_en",        BinaryData::start_disabled_en_png,        BinaryData::start_disabled_en_pngSize,         158,  56 },
        { "start_disabled_zh",        BinaryData::start_disabled_zh_png,        BinaryData::start_disabled_zh_pngSize,         158,  56 },
        { "progress_track",           BinaryData::progress_track_png,           BinaryData::progress_track_pngSize,            448,  20 },
    };

    juce::uint32 bigEndian32 (const char* p)
    {
        return juce::ByteOrder::bigEndianInt (p);
    }

    bool isPageBackground (const EmbeddedImage& image)
    {
        return image.width == 1300;
    }
}

TEST (EmbeddedImages, EveryImageIsAnEightBitRgbaPngOfItsSize)
{
    for (auto& image : embeddedImages)
    {
        SCOPED_TRACE (image.name);
        ASSERT_GT (image.size, 33);

        // Signature, then the IHDR chunk: width, height, bit depth, colour type (6 = RGBA).
        EXPECT_EQ (juce::MemoryBlock (image.data, 8), juce::MemoryBlock ("\x89PNG\r\n\x1a\n", 8));
        EXPECT_EQ (juce::String (image.data + 12, 4), "IHDR");
        EXPECT_EQ (bigEndian32 (image.data + 16), (juce::uint32) image.width);
        EXPECT_EQ (bigEndian32 (image.data + 20), (juce::uint32) image.height);
        EXPECT_EQ ((int) image.data[24], 8);
        EXPECT_EQ ((int) image.data[25], 6);

        const auto decoded = juce::ImageCache::getFromMemory (image.data, image.size);
        ASSERT_TRUE (decoded.isValid());
        EXPECT_EQ (decoded.getWidth(), image.width);
        EXPECT_EQ (decoded.getHeight(), image.height);
        EXPECT_TRUE (decoded.hasAlphaChannel());
    }
}

TEST (EmbeddedImages, PagesAreOpaqueAndTheBackButtonHasATransparentGround)
{
    for (auto& image : embeddedImages)
    {
        if (! isPageBackground (image))
            continue;

        SCOPED_TRACE (image.name);
        const auto decoded = juce::ImageCache::getFromMemory (image.data, image.size);

        // A page image covers its whole page: no corner may let the window show through.
        for (auto corner : { juce::Point<int> (0, 0), { 1299, 0 }, { 0, 827 }, { 1299, 827 }, { 650, 414 } })
            EXPECT_EQ (decoded.getPixelAt (corner.x, corner.y).getAlpha(), 255);
    }

    const auto back = juce::ImageCache::getFromMemory (BinaryData::back_button_png, BinaryData::back_button_pngSize);
    EXPECT_EQ (back.getPixelAt (0, 0).getAlpha(), 0);
    EXPECT_EQ (back.getPixelAt (27, 27).getAlpha(), 0);
}

TEST (EmbeddedImages, EachLanguageAndModelHasItsOwnPicture)
{
    // A copied file under a second name would pass every size check.
    for (size_t i = 0; i < std::size (embeddedImages); ++i)
        for (size_t j = i + 1; j < std::size (embeddedImages); ++j)
            EXPECT_FALSE (juce::MemoryBlock (embeddedImages[i].data, (size_t) embeddedImages[i].size)
                          == juce::MemoryBlock (embeddedImages[j].data, (size_t) embeddedImages[j].size))
                << embeddedImages[i].name << " and " << embeddedImages[j].name;
}

//==============================================================================
namespace
{
    juce::Typeface::Ptr embeddedTypeface()
    {
        return juce::Typeface::createSystemTypefaceFor (BinaryData::typeface_otf, (size_t) BinaryData::typeface_otfSize);
    }

    juce::String outlineOf (juce::Typeface& typeface, juce::juce_wchar character)
    {
        juce::Array<int> glyphs;
        juce::Array<float> offsets;
        typeface.getGlyphPositions (juce::String::charToString (character), glyphs, offsets);

        juce::Path outline;

        if (glyphs.size() == 1)
            typeface.getOutlineForGlyph (glyphs[0], outline);

        return outline.toString();
    }
}

TEST (EmbeddedTypeface, IsTheWholeSimplifiedChineseFace)
{
    ASSERT_GT (BinaryData::typeface_otfSize, 8 * 1024 * 1024);
    EXPECT_EQ (juce::String (BinaryData::typeface_otf, 4), "OTTO");

    const auto typeface = embeddedTypeface();
    ASSERT_NE (typeface, nullptr);
    EXPECT_EQ (typeface->getName(), "Noto Sans CJK SC");
}

TEST (EmbeddedTypeface, HasAGlyphForEveryCharacterOfBothTables)
{
    const auto typeface = embeddedTypeface();
    ASSERT_NE (typeface, nullptr);

    // A character the face lacks gets its "missing" box; private-use U+E000 is never in it.
    const auto missing = outlineOf (*typeface, 0xe000);
    ASSERT_TRUE (missing.isNotEmpty());
    ASSERT_EQ (outlineOf (*typeface, 0xe123), missing);

    const auto text = textOf (BinaryData::english_txt, BinaryData::english_txtSize)
                    + textOf (BinaryData::chinese_txt, BinaryData::chinese_txtSize);
    std::set<juce::juce_wchar> characters;

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
        characters.insert (p.getAndAdvance());

    characters.erase ('\n');
    characters.erase (' ');
    EXPECT_GT (characters.size(), 150u);

    for (auto c : characters)
        EXPECT_NE (outlineOf (*typeface, c), missing) << "no glyph for U+" << juce::String::toHexString ((int) c);
}
