#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

/** Sets the user's preferred language through LANG, with the variables that would
    override it cleared, and puts every variable back at the end. An empty language
    leaves no language variable set at all.
*/
class ScopedLanguage
{
public:
    ScopedLanguage() = default;
    ~ScopedLanguage();

    void use (const std::string& language);

private:
    std::map<std::string, std::optional<std::string>> saved;

    JUCE_DECLARE_NON_COPYABLE (ScopedLanguage)
};

/** Deletes every singleton of the device link, newest first, as the framework's
    shutdown does; the next use builds a fresh link.
*/
void deleteWholeDeviceLink();

/** The alert windows currently on the desktop, oldest first. */
std::vector<juce::AlertWindow*> findAlertWindows();

/** The message of an alert window (without its title). */
juce::String getAlertMessage (const juce::AlertWindow& alert);

/** Runs the message loop until an alert window is shown; null if none comes. */
juce::AlertWindow* waitForAlertWindow();

/** Whether this page is the only one of its parent's children that is visible. */
bool isOnlyPageShown (const juce::Component& page);

/** Dismisses every alert window and runs the message loop until they are gone. */
void dismissAllAlerts();
