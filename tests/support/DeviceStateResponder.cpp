#include "tests/support/DeviceStateResponder.h"

#include <mutex>

namespace
{
    const juce::uint8 signature[] = { 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A };

    bool hasSignatureAndCommand (const juce::uint8* data, int size, juce::uint8 command)
    {
        return size > 9 && data[0] == 0xF0 && std::equal (signature, signature + 7, data + 1) && data[8] == command;
    }

    /** The record types of a single-chunk data packet, decoded from its nibbles. */
    std::vector<int> recordTypesOf (const juce::uint8* data, int size)
    {
        std::vector<juce::uint8> payload;

        for (int i = 13; i + 1 < size - 1; i += 2)
            payload.push_back ((juce::uint8) ((data[i] << 4) | data[i + 1]));

        std::vector<int> types;

        for (size_t offset = 0; offset + 4 <= payload.size();)
        {
            types.push_back (payload[offset] | (payload[offset + 1] << 8));
            offset += 4u + (size_t) (payload[offset + 2] | (payload[offset + 3] << 8));
        }

        return types;
    }
}

struct DeviceStateResponder::Settings
{
    mutable std::mutex lock;
    int state = 1;
    int modelType = 0;
    std::optional<int> kind;
    bool answersInformation = true;
    bool answersStateRead = true;
    int chunkSize = 183;
    int fillerLength = 0;
    int informationRequests = 0;
    int stateReads = 0;
};

DeviceStateResponder::DeviceStateResponder (VirtualMidiDevice& deviceToTeach)
    : settings (std::make_shared<Settings>()), device (deviceToTeach)
{
    device.setOnMessageWritten ([s = settings, &target = device] (const juce::MidiMessage& written)
    {
        std::vector<juce::MidiMessage> answers;

        {
            const std::lock_guard<std::mutex> guard (s->lock);

            if (isInformationRequest (written))
            {
                ++s->informationRequests;

                if (s->answersInformation)
                    answers = makeChunks (makeInformationPayload (s->state, s->modelType, s->fillerLength), s->chunkSize);
            }
            else if (isStateRead (written))
            {
                ++s->stateReads;

                if (s->answersStateRead)
                    answers.push_back (makeSystemReply (s->state, s->kind));
            }
        }

        for (auto& answer : answers)
            target.sendToHost (answer);
    });
}

DeviceStateResponder::~DeviceStateResponder()
{
    device.setOnMessageWritten (nullptr);
}

void DeviceStateResponder::setDeviceState (int state)
{
    const std::lock_guard<std::mutex> guard (settings->lock);
    settings->state = state;
}

void DeviceStateResponder::setModelType (int modelType)
{
    const std::lock_guard<std::mutex> guard (settings->lock);
    settings->modelType = modelType;
}

void DeviceStateResponder::setDeviceKind (std::optional<int> kind)
{
    const std::lock_guard<std::mutex> guard (settings->lock);
    settings->kind = kind;
}

void DeviceStateResponder::setAnswersInformationRequest (bool shouldAnswer)
{
    const std::lock_guard<std::mutex> guard (settings->lock);
    settings->answersInformation = shouldAnswer;
}

void DeviceStateResponder::setAnswersStateRead (bool shouldAnswer)
{
    const std::lock_guard<std::mutex> guard (settings->lock);
    settings->answersStateRead = shouldAnswer;
}

void DeviceStateResponder::setChunkSize (int payloadBytesPerChunk)
{
    jassert (payloadBytesPerChunk >= 1 && payloadBytesPerChunk <= 183);
    const std::lock_guard<std::mutex> guard (settings->lock);
    settings->chunkSize = payloadBytesPerChunk;
}

void DeviceStateResponder::setFillerLength (int numBytes)
{
    const std::lock_guard<std::mutex> guard (settings->lock);
    settings->fillerLength = numBytes;
}

int DeviceStateResponder::getNumInformationRequests() const
{
    const std::lock_guard<std::mutex> guard (settings->lock);
    return settings->informationRequests;
}

int DeviceStateResponder::getNumStateReads() const
{
    const std::lock_guard<std::mutex> guard (settings->lock);
    return settings->stateReads;
}

//==============================================================================
bool DeviceStateResponder::isInformationRequest (const juce::MidiMessage& message)
{
    const auto* data = message.getRawData();
    const auto size = message.getRawDataSize();

    // A one-chunk data packet (offset 0, total = its payload) whose first record is 0x2001.
    if (! hasSignatureAndCommand (data, size, 0x11) || size < 14 || data[size - 1] != 0xF7
         || data[11] != 0 || data[12] != 0 || (data[9] | (data[10] << 7)) != (size - 14) / 2)
        return false;

    const auto types = recordTypesOf (data, size);
    return ! types.empty() && types.front() == 0x2001;
}

bool DeviceStateResponder::isStateRead (const juce::MidiMessage& message)
{
    const auto* data = message.getRawData();
    return message.getRawDataSize() == 14 && hasSignatureAndCommand (data, 14, 0x11)
            && data[9] == 0x12 && data[10] == 0 && data[11] == 0 && data[12] == 0 && data[13] == 0xF7;
}

std::vector<juce::uint8> DeviceStateResponder::makeInformationPayload (int state, int modelType, int fillerLength)
{
    std::vector<juce::uint8> payload { 0x01, 0x20, 0x04, 0x00,
                                       (juce::uint8) (state & 0xFF), (juce::uint8) (state >> 8),
                                       (juce::uint8) (modelType & 0xFF), (juce::uint8) (modelType >> 8) };

    if (fillerLength > 0)
    {
        payload.insert (payload.end(), { 0x03, 0x10, (juce::uint8) (fillerLength & 0xFF), (juce::uint8) (fillerLength >> 8) });

        for (int i = 0; i < fillerLength; ++i)
            payload.push_back ((juce::uint8) i);
    }

    return payload;
}

std::vector<juce::MidiMessage> DeviceStateResponder::makeChunks (const std::vector<juce::uint8>& payload, int chunkSize)
{
    std::vector<juce::MidiMessage> chunks;
    const int total = (int) payload.size();

    for (int offset = 0; offset < total || (total == 0 && chunks.empty()); offset += chunkSize)
    {
        const int count = std::min (chunkSize, total - offset);
        std::vector<juce::uint8> frame { 0xF0 };
        frame.insert (frame.end(), signature, signature + 7);
        frame.insert (frame.end(), { 0x11, (juce::uint8) (total & 0x7F), (juce::uint8) (total >> 7),
                                     (juce::uint8) (offset & 0x7F), (juce::uint8) (offset >> 7) });

        for (int i = offset; i < offset + count; ++i)
        {
            frame.push_back ((juce::uint8) (payload[(size_t) i] >> 4));
            frame.push_back ((juce::uint8) (payload[(size_t) i] & 0x0F));
        }

        frame.push_back (0xF7);
        chunks.emplace_back (frame.data(), (int) frame.size(), 0.0);
    }

    return chunks;
}

juce::MidiMessage DeviceStateResponder::makeSystemReply (int state, std::optional<int> kind)
{
    std::vector<juce::uint8> frame { 0xF0 };
    frame.insert (frame.end(), signature, signature + 7);
    frame.insert (frame.end(), { 0x11, 0x12, 0x00, 0x00, 0x00, (juce::uint8) state });

    if (kind.has_value())
        frame.push_back ((juce::uint8) *kind);

    frame.push_back (0xF7);
    return juce::MidiMessage (frame.data(), (int) frame.size(), 0.0);
}
