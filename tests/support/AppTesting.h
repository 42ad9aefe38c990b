#pragma once

#include "device/CPackTrans.h"
#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/PresetManager.h"
#include "device/ReceivedMsgHandle.h"
#include "device/SendMsgHander.h"
#include "tests/support/MessageLoop.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

/** Sets the user's first preferred language (LANGUAGE, which overrides the other locale
    variables) and puts the variable back at the end.
*/
struct ScopedLanguage
{
    ~ScopedLanguage()
    {
        if (saved.has_value())
            setenv ("LANGUAGE", saved->c_str(), 1);
        else
            unsetenv ("LANGUAGE");
    }

    void use (const std::string& language)  { setenv ("LANGUAGE", language.c_str(), 1); }

    const std::optional<std::string> saved = std::getenv ("LANGUAGE") != nullptr ? std::optional<std::string> (std::getenv ("LANGUAGE"))
                                                                                 : std::nullopt;
};

/** Deletes every singleton of the device link, newest first, as the framework's
    shutdown does; the next use builds a fresh link.
*/
inline void deleteWholeDeviceLink()
{
    KRMIDIDeviceManager::deleteInstance();
    SendMsgHander::deleteInstance();
    MIDIManager::deleteInstance();
    CPackTrans::deleteInstance();
    ReceivedMsgHandle::deleteInstance();
    ConstVar::deleteInstance();
    PresetManager::deleteInstance();
}

/** The alert windows currently on the desktop, oldest first. */
inline std::vector<juce::AlertWindow*> findAlertWindows()
{
    std::vector<juce::AlertWindow*> alerts;

    for (int i = 0; i < juce::TopLevelWindow::getNumTopLevelWindows(); ++i)
        if (auto* alert = dynamic_cast<juce::AlertWindow*> (juce::TopLevelWindow::getTopLevelWindow (i)))
            alerts.push_back (alert);

    return alerts;
}

/** The message of an alert window: it describes itself as its title, ". " and its message. */
inline juce::String getAlertMessage (const juce::AlertWindow& alert)
{
    return alert.getDescription().substring (alert.getName().length() + 2);
}

/** Runs the message loop until an alert window is shown; null if none comes. */
inline juce::AlertWindow* waitForAlertWindow()
{
    pumpMessagesUntil ([] { return ! findAlertWindows().empty(); });
    const auto alerts = findAlertWindows();
    return alerts.empty() ? nullptr : alerts.back();
}

inline void dismissAllAlerts()
{
    for (auto* alert : findAlertWindows())
        alert->exitModalState (0);

    pumpMessagesUntil ([] { return findAlertWindows().empty(); });
}

/** Whether this page is the only one of its parent's children that is visible. */
inline bool isOnlyPageShown (const juce::Component& page)
{
    for (auto* sibling : page.getParentComponent()->getChildren())
        if (sibling != &page && sibling->isVisible())
            return false;

    return page.isVisible();
}
