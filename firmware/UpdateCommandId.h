#pragma once

/** Command codes posted to the command target of the update engine (and by the
    start of an update) with juce::Component::postCommandMessage.
*/
enum UpdateCommandId
{
    updateStarted     = 240,
    updateProgress    = 241,
    fileNotCompatible = 248,
    updateFinished    = 259,
    updateFailed      = 260,
    updateTimedOut    = 261,
    sectionRefused    = 262
};
