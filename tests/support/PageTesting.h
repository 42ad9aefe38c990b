#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "tests/support/ScopedEnvironment.h"
#include "ui/DefaultLookAndFeel.h"

#include <map>

/** Installs one of the two embedded translation tables for the lifetime of the
    object; none is installed afterwards.
*/
class ScopedTranslations
{
public:
    explicit ScopedTranslations (bool chinese);
    ~ScopedTranslations();

    JUCE_DECLARE_NON_COPYABLE (ScopedTranslations)
};

/** Installs the application's default look-and-feel, with its typefaces made
    from the embedded font, for the lifetime of the object.
*/
class ScopedEmbeddedTypeface
{
public:
    ScopedEmbeddedTypeface();
    ~ScopedEmbeddedTypeface();

private:
    DefaultLookAndFeel lookAndFeel;

    JUCE_DECLARE_NON_COPYABLE (ScopedEmbeddedTypeface)
};

/** Sets the model flag of the device variables and restores it at the end. */
class ScopedModel
{
public:
    explicit ScopedModel (bool fullSize);
    ~ScopedModel();

private:
    bool previous;

    JUCE_DECLARE_NON_COPYABLE (ScopedModel)
};

/** A temporary folder, deleted with everything in it at the end. */
class ScopedTempFolder
{
public:
    ScopedTempFolder();
    ~ScopedTempFolder();

    const juce::File& getFolder() const noexcept { return folder; }
    juce::File writeFile (const juce::String& name, const juce::MemoryBlock& content) const;

private:
    juce::File folder;

    JUCE_DECLARE_NON_COPYABLE (ScopedTempFolder)
};

/** Stands a distinct solid-colour image in for each of the given embedded
    images, through the image cache, for the lifetime of the object; so a test
    can tell which one was drawn whatever the artwork looks like.
*/
class ScopedDistinctImages
{
public:
    struct Resource
    {
        const char* data;
        int size;
    };

    ScopedDistinctImages (std::initializer_list<Resource> resources, int width, int height);
    ~ScopedDistinctImages();

    /** The image that stands in for the resource. */
    juce::Image operator[] (const char* data) const;

private:
    std::map<const char*, juce::Image> standIns;

    JUCE_DECLARE_NON_COPYABLE (ScopedDistinctImages)
};

juce::Image embeddedImage (const char* data, int size);

/** What the component's own paint draws (its children left out) at its size. */
juce::Image paintOwnFace (juce::Component& component);

/** An embedded image drawn scaled over a whole area, as the pages draw their backgrounds. */
juce::Image drawScaledOver (const juce::Image& image, int width, int height);

/** The component with its children, as it would appear on screen. */
juce::Image snapshotOf (juce::Component& component);

bool samePixels (const juce::Image& a, const juce::Image& b);

/** Number of pixels that are not fully transparent. */
int countVisiblePixels (const juce::Image& image);

/** A folder next to the test executable for snapshots to look at by eye. */
juce::File snapshotFolder();
