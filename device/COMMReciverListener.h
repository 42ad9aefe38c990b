#pragma once

#include <juce_core/juce_core.h>

/** Receives the raw bytes of one incoming MIDI message (SysEx with its F0 and F7). */
class COMMReciverListener
{
public:
    virtual void onReceive (const juce::uint8* /*data*/, int /*length*/) {}
    virtual ~COMMReciverListener() = default;
};
