#include "device/MIDIPortPair.h"

#include "device/MessageThreadLock.h"

#include <thread>

MIDIPortPair::MIDIPortPair (MidiPortCallback* callbackToUse)
    : callback (callbackToUse),
      sendSlots (std::make_shared<SendSlots>())
{
}

MIDIPortPair::~MIDIPortPair()
{
    close();
}

//==============================================================================
void MIDIPortPair::setOutputDevice (int index, const juce::String& name)
{
    const std::lock_guard<std::mutex> guard (portLock);
    outputIndex = index;
    outputName = name;
}

void MIDIPortPair::setInputDevice (int index, const juce::String& name)
{
    const std::lock_guard<std::mutex> guard (portLock);
    inputIndex = index;
    inputName = name;
}

int MIDIPortPair::getOutputIndex() const
{
    const std::lock_guard<std::mutex> guard (portLock);
    return outputIndex;
}

juce::String MIDIPortPair::getOutputName() const
{
    const std::lock_guard<std::mutex> guard (portLock);
    return outputName;
}

int MIDIPortPair::getInputIndex() const
{
    const std::lock_guard<std::mutex> guard (portLock);
    return inputIndex;
}

juce::String MIDIPortPair::getInputName() const
{
    const std::lock_guard<std::mutex> guard (portLock);
    return inputName;
}

//==============================================================================
bool MIDIPortPair::openOutput()
{
    std::shared_ptr<MidiOutputPort> held;
    juce::String wantedName;
    int index;

    {
        const std::lock_guard<std::mutex> guard (portLock);
        held = output;
        wantedName = outputName;
        index = outputIndex;
    }

    // The ports are called outside the lock: a port may take locks of its own.
    if (held != nullptr && held->getName().equalsIgnoreCase (wantedName))
        return true;

    if (held != nullptr)
        held->stopBackgroundThread();

    std::shared_ptr<MidiOutputPort> opened (MidiPorts::get().openOutput (index));

    {
        const std::lock_guard<std::mutex> guard (portLock);
        output = opened;
    }

    return opened != nullptr;
}

bool MIDIPortPair::openInput()
{
    int index;

    {
        const std::lock_guard<std::mutex> guard (portLock);
        index = inputIndex;
    }

    auto opened = MidiPorts::get().openInput (index, callback);
    juce::String identifier;

    if (opened != nullptr)
    {
        identifier = opened->getIdentifier();
        opened->start();
    }

    const auto success = opened != nullptr;
    std::unique_ptr<MidiInputPort> previous;

    {
        const std::lock_guard<std::mutex> guard (portLock);
        previous = std::exchange (input, std::move (opened));
        inputIdentifier = identifier;
    }

    retireInput (std::move (previous));
    return success;
}

bool MIDIPortPair::hasOutput() const
{
    const std::lock_guard<std::mutex> guard (portLock);
    return output != nullptr;
}

bool MIDIPortPair::hasInput() const
{
    const std::lock_guard<std::mutex> guard (portLock);
    return input != nullptr;
}

bool MIDIPortPair::isOpenInput (const juce::String& identifier) const
{
    const std::lock_guard<std::mutex> guard (portLock);
    return input != nullptr && inputIdentifier == identifier;
}

void MIDIPortPair::close()
{
    std::shared_ptr<MidiOutputPort> oldOutput;
    std::unique_ptr<MidiInputPort> oldInput;

    {
        const std::lock_guard<std::mutex> guard (portLock);
        oldOutput = std::move (output);
        output.reset();
        outputIndex = -1;
        outputName = {};
        oldInput = std::move (input);
        input.reset();
        inputIdentifier = {};
        inputIndex = -1;
        inputName = {};
    }

    // A write that is still running keeps its own reference to the output.
    if (oldOutput != nullptr)
        oldOutput->stopBackgroundThread();

    oldOutput.reset();
    retireInput (std::move (oldInput));
}

void MIDIPortPair::retireInput (std::unique_ptr<MidiInputPort> oldInput)
{
    if (oldInput == nullptr)
        return;

    {
        // stop() waits for a delivery that may itself wait for the message thread.
        const MessageThreadLock::Refusal refusal;
        oldInput->stop();
    }

    // Off the message thread this may be the input's own delivery: release it later,
    // once that delivery has unwound.
    if (juce::MessageManager::getInstanceWithoutCreating() == nullptr
         || juce::MessageManager::existsAndIsCurrentThread())
        return;

    std::shared_ptr<MidiInputPort> stopped (std::move (oldInput));
    juce::MessageManager::callAsync ([stopped] {});
}

//==============================================================================
void MIDIPortPair::writeNow (const juce::MidiMessage& message)
{
    std::shared_ptr<MidiOutputPort> target;

    {
        const std::lock_guard<std::mutex> guard (portLock);

        if (input == nullptr || output == nullptr)
            return;

        target = output;
    }

    target->sendMessageNow (message);
}

void MIDIPortPair::sendMessage (const juce::MidiMessage& message)
{
    const juce::MidiMessage copy (message);
    std::shared_ptr<MidiOutputPort> target;

    {
        const std::lock_guard<std::mutex> guard (portLock);

        if (input == nullptr || output == nullptr)
            return;

        target = output;
    }

    try
    {
        const std::lock_guard<std::mutex> guard (sendSlots->lock);

        if (sendSlots->inFlight >= maxSendsInFlight)
            return;

        // The count goes up only once the thread exists, so a failed start loses no place.
        std::thread (watchSend, target, copy, sendTimeLimitMs.load(), sendSlots).detach();
        ++sendSlots->inFlight;
    }
    catch (...)
    {
        close();
    }
}

int MIDIPortPair::getSendsInFlight() const
{
    const std::lock_guard<std::mutex> guard (sendSlots->lock);
    return sendSlots->inFlight;
}

void MIDIPortPair::watchSend (std::shared_ptr<MidiOutputPort> target, juce::MidiMessage message,
                              int timeLimitMs, std::shared_ptr<SendSlots> slots)
{
    const auto start = juce::Time::getMillisecondCounter();
    const auto completed = std::make_shared<std::atomic<bool>> (false);

    try
    {
        std::thread ([target, message, completed]
                     {
                         try
                         {
                             target->sendMessageNow (message);
                             completed->store (true);
                         }
                         catch (...) {}
                     }).detach();
    }
    catch (...)
    {
        completed->store (true);   // no sender to wait for
    }

    while (! completed->load())
    {
        if (juce::Time::getMillisecondCounter() - start >= (juce::uint32) timeLimitMs)
        {
            if (! completed->load())
                target->stopBackgroundThread();

            break;
        }

        juce::Thread::sleep (10);
    }

    const std::lock_guard<std::mutex> guard (slots->lock);
    --slots->inFlight;
}
