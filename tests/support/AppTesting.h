#pragma once

#include "BinaryData.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TrafficSingletons.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <optional>

/** Sets environment variables (null unsets one) and puts them back at the end. */
struct ScopedEnv
{
    ~ScopedEnv()   { for (auto i = saved.rbegin(); i != saved.rend(); ++i) i->second ? setenv (i->first.c_str(), i->second->c_str(), 1) : unsetenv (i->first.c_str()); }

    void set (const char* name, const char* value)
    {
        saved.emplace_back (name, std::getenv (name) != nullptr ? std::optional<std::string> (std::getenv (name)) : std::nullopt);
        value != nullptr ? setenv (name, value, 1) : unsetenv (name);
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

inline std::vector<juce::AlertWindow*> findAlertWindows()
{
    std::vector<juce::AlertWindow*> alerts;

    for (int i = 0; i < juce::TopLevelWindow::getNumTopLevelWindows(); ++i)
        if (auto* alert = dynamic_cast<juce::AlertWindow*> (juce::TopLevelWindow::getTopLevelWindow (i)))
            alerts.push_back (alert);

    return alerts;
}

/** An alert window describes itself as its title, ". " and its message. */
inline juce::String getAlertMessage (const juce::AlertWindow& alert)   { return alert.getDescription().substring (alert.getName().length() + 2); }
inline juce::AlertWindow* waitForAlertWindow()   { return pumpMessagesUntil ([] { return ! findAlertWindows().empty(); }) ? findAlertWindows().back() : nullptr; }

inline void dismissAllAlerts (int result = 0)   { for (auto* alert : findAlertWindows()) alert->exitModalState (result); pumpMessagesUntil ([] { return findAlertWindows().empty(); }); }

inline bool isOnlyPageShown (const juce::Component& page)
{
    const auto& pages = page.getParentComponent()->getChildren();
    return page.isVisible() && std::none_of (pages.begin(), pages.end(), [&page] (auto* other) { return other != &page && other->isVisible(); });
}

/** "1" for each component shown and "0" for each hidden one, in order. */
inline std::string visibility (std::initializer_list<const juce::Component*> components)
{
    std::string flags;

    for (const auto* component : components)
        flags += component->isVisible() ? '1' : '0';

    return flags;
}

inline juce::Image resourceImage (const juce::String& name)   { int size = 0; const auto* data = BinaryData::getNamedResource (name.toRawUTF8(), size); return juce::ImageCache::getFromMemory (data, size); }

/** A cleared ARGB image with what the function paints on it. */
inline juce::Image drawn (int width, int height, const std::function<void (juce::Graphics&)>& paint)
{
    juce::Image image (juce::Image::ARGB, width, height, true);
    juce::Graphics g (image);
    paint (g);
    return image;
}

inline juce::Rectangle<int> boundsOfPixels (const juce::Image& image, const std::function<bool (juce::Colour, int x, int y)>& test)
{
    juce::Rectangle<int> found;

    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            found = test (image.getPixelAt (x, y), x, y) ? found.getUnion ({ x, y, 1, 1 }) : found;

    return found;
}

inline bool samePixels (const juce::Image& a, const juce::Image& b)
{
    return a.getBounds() == b.getBounds() && boundsOfPixels (a, [&b] (juce::Colour c, int x, int y) { return c != b.getPixelAt (x, y); }).isEmpty();
}
