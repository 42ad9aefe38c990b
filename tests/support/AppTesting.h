#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

/** Sets the user's preferred language through the environment (LANG, with the
    variables that would override it cleared) and puts every variable back at the end.
*/
class ScopedLanguage
{
public:
    ScopedLanguage() = default;
    ~ScopedLanguage();

    /** An empty language leaves no language variable set at all. */
    void use (const std::string& language);

private:
    std::map<std::string, std::optional<std::string>> saved;

    JUCE_DECLARE_NON_COPYABLE (ScopedLanguage)
};

/** Deletes every singleton of the device link, hub and chain included, newest first,
    as the framework's shutdown does; the next use builds a fresh link.
*/
void deleteWholeDeviceLink();

/** Runs the function and returns what it (and anything else meanwhile) wrote to
    standard output.
*/
juce::String captureStandardOutput (const std::function<void()>& function);

/** The alert windows currently on the desktop, oldest first. */
std::vector<juce::AlertWindow*> findAlertWindows();

/** The message of an alert window (without its title). */
juce::String getAlertMessage (const juce::AlertWindow& alert);

/** Runs the message loop until an alert window is shown; null if none comes. */
juce::AlertWindow* waitForAlertWindow (int timeoutMs = 2000);

/** Dismisses every alert window and runs the message loop until they are gone. */
void dismissAllAlerts();
