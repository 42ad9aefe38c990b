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
/** An opened input and the gate its deliveries pass through. The port's own stop only
    clears a flag; closing the gate also waits for a delivery that is running, and lets
    none through after it. The gate's lock is re-entrant, so a delivery may close its
    own input.
*/
struct MIDIPortPair::OpenInput final : public MidiPortCallback
{
    explicit OpenInput (MidiPortCallback& targetToUse) : target (targetToUse) {}

    ~OpenInput() override
    {
        const MessageThreadLock::Refusal refusal;
        close();
        port.reset();
    }

    void handleIncomingMidiMessage (const juce::String& sourceIdentifier, const juce::MidiMessage& message) override
    {
        const juce::ScopedLock sl (gateLock);

        if (isOpen)
            target.handleIncomingMidiMessage (sourceIdentifier, message);
    }

    void start()
    {
        {
            const juce::ScopedLock sl (gateLock);
            isOpen = true;
        }

        port->start();
    }

    // The caller holds a Refusal: the running delivery may be waiting for the message thread.
    void close()
    {
        {
            const juce::ScopedLock sl (gateLock);
            isOpen = false;
        }

        if (port != nullptr)
            port->stop();
    }

    MidiPortCallback& target;
    juce::CriticalSection gateLock;
    bool isOpen = false;
    std::unique_ptr<MidiInputPort> port;
};

std::shared_ptr<MidiOutputPort> MIDIPortPair::holdOutput (std::unique_ptr<MidiOutputPort> opened)
{
    if (opened == nullptr)
        return {};

    // The last holder may be a write that outlived the pair's hold on the output. On such a
    // thread the refusal does nothing: a delivery it waits for is served by the message thread.
    return std::shared_ptr<MidiOutputPort> (opened.release(), [] (MidiOutputPort* port)
                                            {
                                                const MessageThreadLock::Refusal refusal;
                                                delete port;
                                            });
}

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

    std::shared_ptr<MidiOutputPort> opened;

    {
        const MessageThreadLock::Refusal refusal;

        if (held != nullptr)
            held->stopBackgroundThread();

        opened = holdOutput (MidiPorts::get().openOutput (index));
    }

    std::shared_ptr<MidiOutputPort> previous;

    {
        const std::lock_guard<std::mutex> guard (portLock);
        previous = std::exchange (output, opened);
    }

    return opened != nullptr;
}

bool MIDIPortPair::openInput()
{
    int index;
    std::shared_ptr<OpenInput> previous;

    {
        const std::lock_guard<std::mutex> guard (portLock);
        index = inputIndex;
        previous = std::exchange (input, nullptr);
        inputIdentifier = {};
    }

    retireInput (std::move (previous));

    if (callback == nullptr)
        return false;

    const auto opened = std::make_shared<OpenInput> (*callback);

    {
        const MessageThreadLock::Refusal refusal;
        opened->port = MidiPorts::get().openInput (index, opened.get());
    }

    if (opened->port == nullptr)
        return false;

    const auto identifier = opened->port->getIdentifier();

    {
        const std::lock_guard<std::mutex> guard (portLock);
        input = opened;
        inputIdentifier = identifier;
    }

    // Held first: a message that comes the moment it starts is the pair's own.
    opened->start();
    return true;
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
    std::shared_ptr<OpenInput> oldInput;

    {
        const std::lock_guard<std::mutex> guard (portLock);
        oldOutput = std::exchange (output, nullptr);
        outputIndex = -1;
        outputName = {};
        oldInput = std::exchange (input, nullptr);
        inputIdentifier = {};
        inputIndex = -1;
        inputName = {};
    }

    // The input goes first, so that no delivery of it still waits for the message thread
    // when the output is destroyed. A write that is still running keeps its own reference
    // to the output.
    retireInput (std::move (oldInput));

    if (oldOutput != nullptr)
    {
        const MessageThreadLock::Refusal refusal;
        oldOutput->stopBackgroundThread();
        oldOutput.reset();
    }
}

void MIDIPortPair::retireInput (std::shared_ptr<OpenInput> oldInput)
{
    if (oldInput == nullptr)
        return;

    {
        const MessageThreadLock::Refusal refusal;
        oldInput->close();
    }

    // Off the message thread this may be the input's own delivery: release it later,
    // once that delivery has unwound.
    if (juce::MessageManager::getInstanceWithoutCreating() == nullptr
         || juce::MessageManager::existsAndIsCurrentThread())
        return;

    juce::MessageManager::callAsync ([stopped = std::move (oldInput)] {});
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
