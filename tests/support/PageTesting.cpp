#include "tests/support/PageTesting.h"

#include "device/ConstVar.h"

#include "BinaryData.h"

#include <cstdlib>
#include <cstring>

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

void PageSurroundings::useModel (bool fullSize)
{
    ConstVar::getInstance()->isFullSizeModel = fullSize;
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
    juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true);
    juce::Graphics g (image);
    component.paint (g);
    return image;
}

juce::Image scaledToPage (const juce::Image& source)
{
    juce::Image image (juce::Image::ARGB, 650, 414, true);
    juce::Graphics g (image);
    g.drawImage (source, 0, 0, 650, 414, 0, 0, source.getWidth(), source.getHeight());
    return image;
}

bool samePixels (const juce::Image& a, const juce::Image& b)
{
    const auto argbA = a.convertedToFormat (juce::Image::ARGB), argbB = b.convertedToFormat (juce::Image::ARGB);
    const juce::Image::BitmapData first (argbA, juce::Image::BitmapData::readOnly), second (argbB, juce::Image::BitmapData::readOnly);
    bool same = a.getBounds() == b.getBounds();

    for (int y = 0; same && y < first.height; ++y)
        same = std::memcmp (first.getLinePointer (y), second.getLinePointer (y), (size_t) (first.width * first.pixelStride)) == 0;

    return same;
}

bool linkLooks (juce::HyperlinkButton& link, juce::Colour colour, float fontHeight, juce::Justification justification)
{
    juce::Image expected (juce::Image::ARGB, link.getWidth(), link.getHeight(), true);
    juce::Graphics g (expected);
    g.setColour (colour);
    g.setFont (juce::Font (fontHeight));
    g.drawText (link.getButtonText(), link.getLocalBounds().reduced (1, 0),
                justification.getOnlyHorizontalFlags() | juce::Justification::verticallyCentred, true);

    return samePixels (link.createComponentSnapshot (link.getLocalBounds()), expected);
}
