#include "tests/support/PageTesting.h"

#include "BinaryData.h"

#include <cstdlib>

namespace
{
    juce::File freshFolder()
    {
        auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getChildFile ("norvo-pages-" + juce::Uuid().toString());
        folder.createDirectory();
        return folder;
    }
}

PageSurroundings::PageSurroundings()
    : home (freshFolder()), scratch (freshFolder()), savedModel (ConstVar::getInstance()->isFullSizeModel)
{
    setEnv ("HOME", home.getFullPathName().toRawUTF8());
    useLanguage ("en");
}

PageSurroundings::~PageSurroundings()
{
    for (const auto& [name, value] : savedEnv)
        setEnv (name.c_str(), value.has_value() ? value->c_str() : nullptr);

    ConstVar::getInstance()->isFullSizeModel = savedModel;
    juce::LocalisedStrings::setCurrentMappings (nullptr);

    if (&juce::LookAndFeel::getDefaultLookAndFeel() == &lookAndFeel)
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);

    juce::Typeface::clearTypefaceCache();
    home.deleteRecursively();
    scratch.deleteRecursively();
}

void PageSurroundings::setEnv (const char* name, const char* value)
{
    if (const char* old = std::getenv (name); savedEnv.count (name) == 0)
        savedEnv[name] = old != nullptr ? std::optional<std::string> (old) : std::nullopt;

    if (value != nullptr)
        setenv (name, value, 1);
    else
        unsetenv (name);
}

void PageSurroundings::useLanguage (const juce::String& lang)
{
    for (const auto* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES" })
        setEnv (name, nullptr);

    const bool chinese = lang == "zh";
    setEnv ("LANG", chinese ? "zh_CN.UTF-8" : "en_US.UTF-8");
    juce::LocalisedStrings::setCurrentMappings (new juce::LocalisedStrings (
        chinese ? juce::String::createStringFromData (BinaryData::chinese_txt, BinaryData::chinese_txtSize)
                : juce::String::createStringFromData (BinaryData::english_txt, BinaryData::english_txtSize), false));
}

void PageSurroundings::useEmbeddedTypeface()
{
    for (auto* face : { &lookAndFeel.regularTypeface, &lookAndFeel.boldTypeface })
        *face = juce::Typeface::createSystemTypefaceFor (BinaryData::typeface_otf, (size_t) BinaryData::typeface_otfSize);

    juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);
    juce::Typeface::clearTypefaceCache();
}

//==============================================================================
juce::Image resourceImage (const juce::String& name)
{
    int size = 0;
    const auto* data = BinaryData::getNamedResource (name.toRawUTF8(), size);
    return juce::ImageCache::getFromMemory (data, size);
}

juce::Image paintOwnFace (juce::Component& component)
{
    auto image = blankImage (component.getWidth(), component.getHeight());
    juce::Graphics g (image);
    component.paint (g);
    return image;
}

juce::Image scaledToPage (const juce::Image& source)
{
    auto image = blankImage (650, 414);
    juce::Graphics g (image);
    g.drawImage (source, 0, 0, 650, 414, 0, 0, source.getWidth(), source.getHeight());
    return image;
}

bool samePixels (const juce::Image& a, const juce::Image& b)
{
    if (a.getBounds() != b.getBounds())
        return false;

    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                return false;

    return true;
}

juce::Image blankImage (int width, int height)
{
    return juce::Image (juce::Image::ARGB, width, height, true);
}

int countPixels (const juce::Image& image, const std::function<bool (juce::Colour)>& test)
{
    int count = 0;

    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            count += test (image.getPixelAt (x, y)) ? 1 : 0;

    return count;
}

bool linkLooks (juce::HyperlinkButton& link, juce::Colour colour, float fontHeight, juce::Justification justification)
{
    auto expected = blankImage (link.getWidth(), link.getHeight());
    juce::Graphics g (expected);
    g.setColour (colour);
    g.setFont (juce::Font (fontHeight));
    g.drawText (link.getButtonText(), link.getLocalBounds().reduced (1, 0),
                justification.getOnlyHorizontalFlags() | juce::Justification::verticallyCentred, true);

    return samePixels (link.createComponentSnapshot (link.getLocalBounds()), expected);
}
