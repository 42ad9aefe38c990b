#include "tests/support/PageTesting.h"

#include <gtest/gtest.h>

#include "device/ConstVar.h"

#include "BinaryData.h"

#include <cstring>

//==============================================================================
ScopedTranslations::ScopedTranslations (bool chinese)
{
    const auto text = chinese ? juce::String::createStringFromData (BinaryData::chinese_txt, BinaryData::chinese_txtSize)
                              : juce::String::createStringFromData (BinaryData::english_txt, BinaryData::english_txtSize);

    juce::LocalisedStrings::setCurrentMappings (new juce::LocalisedStrings (text, false));
}

ScopedTranslations::~ScopedTranslations()
{
    juce::LocalisedStrings::setCurrentMappings (nullptr);
}

//==============================================================================
ScopedEmbeddedTypeface::ScopedEmbeddedTypeface()
{
    for (auto* face : { &lookAndFeel.regularTypeface, &lookAndFeel.boldTypeface })
        *face = juce::Typeface::createSystemTypefaceFor (BinaryData::typeface_otf, (size_t) BinaryData::typeface_otfSize);

    juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);
    juce::Typeface::clearTypefaceCache();
}

ScopedEmbeddedTypeface::~ScopedEmbeddedTypeface()
{
    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    juce::Typeface::clearTypefaceCache();
}

//==============================================================================
ScopedModel::ScopedModel (bool fullSize)
    : previous (ConstVar::getInstance()->isFullSizeModel)
{
    ConstVar::getInstance()->isFullSizeModel = fullSize;
}

ScopedModel::~ScopedModel()
{
    ConstVar::getInstance()->isFullSizeModel = previous;
}

//==============================================================================
ScopedTempFolder::ScopedTempFolder()
    : folder (juce::File::getSpecialLocation (juce::File::tempDirectory)
                  .getChildFile ("norvo-pages-" + juce::Uuid().toString()))
{
    folder.createDirectory();
}

ScopedTempFolder::~ScopedTempFolder()
{
    folder.deleteRecursively();
}

juce::File ScopedTempFolder::writeFile (const juce::String& name, const juce::MemoryBlock& content) const
{
    const auto file = folder.getChildFile (name);
    file.deleteFile();
    file.create();
    file.appendData (content.getData(), content.getSize());
    return file;
}

//==============================================================================
ScopedDistinctImages::ScopedDistinctImages (std::initializer_list<Resource> resources, int width, int height)
{
    juce::ImageCache::releaseUnusedImages();
    int index = 0;

    for (const auto& resource : resources)
    {
        const auto hashCode = (juce::int64) (juce::pointer_sized_int) resource.data;
        if (juce::ImageCache::getFromHashCode (hashCode).isValid())
            ADD_FAILURE() << "an embedded image is still in use and cannot be stood in for";

        juce::Image image (juce::Image::ARGB, width, height, false);
        image.clear (image.getBounds(), juce::Colour::fromHSV ((float) index++ / (float) resources.size(), 0.8f, 0.9f, 1.0f));
        juce::ImageCache::addImageToCache (image, hashCode);
        standIns[resource.data] = image;
    }
}

ScopedDistinctImages::~ScopedDistinctImages()
{
    standIns.clear();
    juce::ImageCache::releaseUnusedImages();
}

juce::Image ScopedDistinctImages::operator[] (const char* data) const
{
    const auto found = standIns.find (data);
    return found != standIns.end() ? found->second : juce::Image();
}

//==============================================================================
juce::Image embeddedImage (const char* data, int size)
{
    return juce::ImageCache::getFromMemory (data, size);
}

juce::Image paintOwnFace (juce::Component& component)
{
    juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true);
    juce::Graphics g (image);
    component.paint (g);
    return image;
}

juce::Image drawScaledOver (const juce::Image& source, int width, int height)
{
    juce::Image image (juce::Image::ARGB, width, height, true);
    juce::Graphics g (image);
    g.drawImage (source, 0, 0, width, height, 0, 0, source.getWidth(), source.getHeight());
    return image;
}

juce::Image snapshotOf (juce::Component& component)
{
    return component.createComponentSnapshot (component.getLocalBounds(), true, 1.0f);
}

bool samePixels (const juce::Image& a, const juce::Image& b)
{
    if (a.getBounds() != b.getBounds())
        return false;

    const auto first = a.convertedToFormat (juce::Image::ARGB);
    const auto second = b.convertedToFormat (juce::Image::ARGB);
    const juce::Image::BitmapData firstData (first, juce::Image::BitmapData::readOnly);
    const juce::Image::BitmapData secondData (second, juce::Image::BitmapData::readOnly);
    const auto rowBytes = (size_t) (firstData.width * firstData.pixelStride);

    for (int y = 0; y < firstData.height; ++y)
        if (std::memcmp (firstData.getLinePointer (y), secondData.getLinePointer (y), rowBytes) != 0)
            return false;

    return true;
}

int countVisiblePixels (const juce::Image& image)
{
    const auto argb = image.convertedToFormat (juce::Image::ARGB);
    const juce::Image::BitmapData data (argb, juce::Image::BitmapData::readOnly);
    int count = 0;

    for (int y = 0; y < data.height; ++y)
        for (int x = 0; x < data.width; ++x)
            if (data.getPixelColour (x, y).getAlpha() != 0)
                ++count;

    return count;
}

juce::File snapshotFolder()
{
    const auto folder = juce::File::getSpecialLocation (juce::File::currentExecutableFile)
                            .getParentDirectory()
                            .getChildFile ("snapshots");
    folder.createDirectory();
    return folder;
}
