#include "tests/support/AppTesting.h"

#include "device/CPackTrans.h"
#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/PresetManager.h"
#include "device/ReceivedMsgHandle.h"
#include "device/SendMsgHander.h"
#include "tests/support/MessageLoop.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

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
        if (saved.count (name) == 0)
        {
            const char* value = std::getenv (name);
            saved[name] = value != nullptr ? std::optional<std::string> (value) : std::nullopt;
        }

        unsetenv (name);
    }

    if (! language.empty())
        setenv ("LANG", language.c_str(), 1);
}

void deleteWholeDeviceLink()
{
    // Registration order: hub, device variables, dispatcher, transport, manager, sender,
    // device manager; deleted the other way round.
    KRMIDIDeviceManager::deleteInstance();
    SendMsgHander::deleteInstance();
    MIDIManager::deleteInstance();
    CPackTrans::deleteInstance();
    ReceivedMsgHandle::deleteInstance();
    ConstVar::deleteInstance();
    PresetManager::deleteInstance();
}

juce::String captureStandardOutput (const std::function<void()>& function)
{
    std::fflush (stdout);

    auto* capture = std::tmpfile();
    const int savedStdout = dup (STDOUT_FILENO);
    dup2 (fileno (capture), STDOUT_FILENO);

    function();

    std::fflush (stdout);
    dup2 (savedStdout, STDOUT_FILENO);
    close (savedStdout);

    std::rewind (capture);
    juce::MemoryOutputStream text;
    char buffer[512];

    for (size_t n; (n = std::fread (buffer, 1, sizeof (buffer), capture)) > 0;)
        text.write (buffer, n);

    std::fclose (capture);
    return text.toUTF8();
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

juce::AlertWindow* waitForAlertWindow (int timeoutMs)
{
    pumpMessagesUntil ([] { return ! findAlertWindows().empty(); }, timeoutMs);
    const auto alerts = findAlertWindows();
    return alerts.empty() ? nullptr : alerts.back();
}

void dismissAllAlerts()
{
    for (auto* alert : findAlertWindows())
        alert->exitModalState (0);

    pumpMessagesUntil ([] { return findAlertWindows().empty(); });
}
