#include "tests/support/DeviceStateResponder.h"

#include <mutex>

namespace
{
    using Bytes = std::vector<juce::uint8>;

    const Bytes header { 0xF0, 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A, 0x11 };

    Bytes bytesOf (const juce::MidiMessage& m)
    {
        return { m.getRawData(), m.getRawData() + m.getRawDataSize() };
    }

    /** Record 0x2001 (state, model), then the filler record, cut into data packet chunks. */
    std::vector<juce::MidiMessage> makeInformationAnswer (const DeviceStateResponder::Answer& answer)
    {
        Bytes payload { 0x01, 0x20, 0x04, 0x00, (juce::uint8) answer.state, (juce::uint8) (answer.state >> 8),
                        (juce::uint8) answer.modelType, (juce::uint8) (answer.modelType >> 8) };

        if (answer.fillerLength > 0)
        {
            payload.insert (payload.end(), { 0x03, 0x10, (juce::uint8) answer.fillerLength, (juce::uint8) (answer.fillerLength >> 8) });
            payload.resize (payload.size() + (size_t) answer.fillerLength, 0x5A);
        }

        std::vector<juce::MidiMessage> chunks;
        const int total = (int) payload.size();

        for (int offset = 0; offset < total; offset += answer.chunkSize)
        {
            auto frame = header;
            frame.insert (frame.end(), { (juce::uint8) (total & 0x7F), (juce::uint8) (total >> 7),
                                         (juce::uint8) (offset & 0x7F), (juce::uint8) (offset >> 7) });

            for (int i = offset; i < std::min (total, offset + answer.chunkSize); ++i)
                frame.insert (frame.end(), { (juce::uint8) (payload[(size_t) i] >> 4), (juce::uint8) (payload[(size_t) i] & 0x0F) });

            frame.push_back (0xF7);
            chunks.emplace_back (frame.data(), (int) frame.size(), 0.0);
        }

        return chunks;
    }
}

struct DeviceStateResponder::Shared
{
    std::mutex lock;
    Answer answer;
    int requests = 0;
};

DeviceStateResponder::DeviceStateResponder (VirtualMidiDevice& deviceToTeach)
    : shared (std::make_shared<Shared>()), device (deviceToTeach)
{
    // Runs on the writing thread; holds the shared state so that a late write stays safe.
    device.setOnMessageWritten ([s = shared, &target = device] (const juce::MidiMessage& written)
    {
        std::vector<juce::MidiMessage> replies;

        {
            const std::lock_guard<std::mutex> guard (s->lock);
            const bool information = isInformationRequest (written), stateRead = isStateRead (written);
            s->requests += (information || stateRead) ? 1 : 0;

            if (information && s->answer.answersInformation)
                replies = makeInformationAnswer (s->answer);
            else if (stateRead && s->answer.answersStateRead)
                replies.push_back (makeSystemReply (s->answer.state, s->answer.kind));
        }

        for (auto& reply : replies)
            target.sendToHost (reply);
    });
}

DeviceStateResponder::~DeviceStateResponder()
{
    device.setOnMessageWritten (nullptr);
}

void DeviceStateResponder::setAnswer (const Answer& answer)
{
    jassert (answer.chunkSize >= 1 && answer.chunkSize <= 183);
    const std::lock_guard<std::mutex> guard (shared->lock);
    shared->answer = answer;
}

int DeviceStateResponder::getNumRequests() const
{
    const std::lock_guard<std::mutex> guard (shared->lock);
    return shared->requests;
}

bool DeviceStateResponder::isInformationRequest (const juce::MidiMessage& message)
{
    // One chunk, total 4, offset 0, carrying an empty record of type 0x2001.
    auto expected = header;
    expected.insert (expected.end(), { 0x04, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 });
    return bytesOf (message) == expected;
}

bool DeviceStateResponder::isStateRead (const juce::MidiMessage& message)
{
    auto expected = header;
    expected.insert (expected.end(), { 0x12, 0x00, 0x00, 0x00, 0xF7 });
    return bytesOf (message) == expected;
}

juce::MidiMessage DeviceStateResponder::makeSystemReply (int state, std::optional<int> kind)
{
    auto frame = header;
    frame.insert (frame.end(), { 0x12, 0x00, 0x00, 0x00, (juce::uint8) state });

    if (kind.has_value())
        frame.push_back ((juce::uint8) *kind);

    frame.push_back (0xF7);
    return juce::MidiMessage (frame.data(), (int) frame.size(), 0.0);
}
