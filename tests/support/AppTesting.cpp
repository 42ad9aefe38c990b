#include "tests/support/AppTesting.h"

#include "device/CPackTrans.h"
#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/PresetManager.h"
#include "device/ReceivedMsgHandle.h"
#include "device/SendMsgHander.h"
#include "tests/support/MessageLoop.h"

#include <cstdlib>

ScopedLanguage::~ScopedLanguage()
{
    for (const auto& [name, value] : saved)
    {
        if (value.has_value())
            setenv (name.c_str(), value->c_str(), 1);
        else
            unsetenv (name.c_str());
    }
}

void ScopedLanguage::use (const std::string& language)
{
    for (const auto* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" })
    {
        if (const char* value = std::getenv (name); saved.count (name) == 0)
            saved[name] = value != nullptr ? std::optional<std::string> (value) : std::nullopt;

        unsetenv (name);
    }

    if (! language.empty())
        setenv ("LANG", language.c_str(), 1);
}

void deleteWholeDeviceLink()
{
    // The other way round from their registration.
    KRMIDIDeviceManager::deleteInstance();
    SendMsgHander::deleteInstance();
    MIDIManager::deleteInstance();
    CPackTrans::deleteInstance();
    ReceivedMsgHandle::deleteInstance();
    ConstVar::deleteInstance();
    PresetManager::deleteInstance();
}

std::vector<juce::AlertWindow*> findAlertWindows()
{
    std::vector<juce::AlertWindow*> alerts;

    for (int i = 0; i < juce::TopLevelWindow::getNumTopLevelWindows(); ++i)
        if (auto* alert = dynamic_cast<juce::AlertWindow*> (juce::TopLevelWindow::getTopLevelWindow (i)))
            alerts.push_back (alert);

    return alerts;
}

juce::String getAlertMessage (const juce::AlertWindow& alert)
{
    // The window describes itself as its title, ". " and its message.
    return alert.getDescription().substring (alert.getName().length() + 2);
}

juce::AlertWindow* waitForAlertWindow()
{
    pumpMessagesUntil ([] { return ! findAlertWindows().empty(); });
    const auto alerts = findAlertWindows();
    return alerts.empty() ? nullptr : alerts.back();
}

bool isOnlyPageShown (const juce::Component& page)
{
    for (auto* sibling : page.getParentComponent()->getChildren())
        if (sibling != &page && sibling->isVisible())
            return false;

    return page.isVisible();
}

void dismissAllAlerts()
{
    for (auto* alert : findAlertWindows())
        alert->exitModalState (0);

    pumpMessagesUntil ([] { return findAlertWindows().empty(); });
}
