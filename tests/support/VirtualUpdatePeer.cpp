#include "tests/support/VirtualUpdatePeer.h"

#include <map>
#include <mutex>
#include <numeric>
#include <optional>

namespace
{
    using Bytes = std::vector<juce::uint8>;

    Bytes statusReply (int command, bool accepted)   { return { 0xF0, 0x7E, 0x48, (juce::uint8) command, (juce::uint8) (accepted ? 0x7F : 0x7E), 0xF7 }; }

    Bytes startReply (int blockSize)
    {
        Bytes reply { 0xF0, 0x7E, 0x48, 0x01 };
        reply.resize (36, 0x7F);   // two 16-byte fields the host does not interpret
        reply.insert (reply.end(), { (juce::uint8) ((blockSize >> 4) & 0x0F), (juce::uint8) (blockSize & 0x0F), 0xF7 });
        return reply;
    }

    juce::uint32 readNibbles (const juce::uint8* nibbles)
    {
        juce::uint32 value = 0;

        for (int i = 0; i < 8; ++i)
            value = (value << 4) | (nibbles[i] & 0x0F);

        return value;
    }
}

//==============================================================================
struct VirtualUpdatePeer::State
{
    using Step = VirtualUpdatePeer::Step;

    std::mutex lock;
    VirtualMidiDevice* device = nullptr;

    // What the test asked for
    int blockSize = 64;
    int startReplyLength = 39;
    std::map<int, int> refusedBlocks;
    std::map<Step, int> refusals, quiet;
    std::optional<Step> abortStep, vanishStep;
    int endCommand = 0x07;
    bool answerVersion = false, answerEveryHeader = false;
    Bytes withheld;

    // What the device has seen
    std::vector<Section> sections;
    std::vector<juce::uint8> sectionNibbles;
    std::vector<int> selects;
    juce::StringArray errors;
    juce::MemoryBlock version;
    std::map<Step, int> counts;
    int blockNumber = 0;
    bool awaitingHeader = false;
    bool inSection = false;
    bool finished = false;

    //==============================================================================
    void handle (const juce::MidiMessage& message)
    {
        const std::lock_guard<std::mutex> guard (lock);
        const auto* d = message.getRawData();
        const auto n = message.getRawDataSize();

        if (device == nullptr || n < 4 || d[0] != 0xF0 || d[1] != 0x7E || d[2] != 0x48 || d[n - 1] != 0xF7)
            return;   // gone, or not an update message

        switch (d[3])
        {
            case 0x01: handleStart (n); break;
            case 0x0B: handleVersion (d, n); break;
            case 0x7F: handleSelect (d, n); break;
            case 0x02: handleHeader (d, n); break;
            case 0x04: handleBlock (d, n); break;
            case 0x05: handleSectionEnd (d, n); break;
            case 0x07: ++counts[Step::end]; respond (Step::end, statusReply (endCommand, true)); break;
            case 0x09: ++counts[Step::metadata]; finished = true; respond (Step::metadata, statusReply (0x09, true)); break;
            default:   errors.add ("unknown command " + juce::String::toHexString (d[3])); break;
        }
    }

    void handleStart (int n)
    {
        ++counts[Step::start];
        expect (n == 5, "START length");

        // A new update begins.
        sections.clear();
        sectionNibbles.clear();
        selects.clear();
        blockNumber = 0;
        awaitingHeader = inSection = finished = false;

        auto reply = startReply (blockSize);

        if (startReplyLength < (int) reply.size())
            reply.erase (reply.begin() + 4, reply.begin() + 4 + ((int) reply.size() - startReplyLength));

        respond (Step::start, reply);
    }

    void handleVersion (const juce::uint8* d, int n)
    {
        ++counts[Step::version];

        if (expect (n == 10 && d[4] == 0x01, "version message"))
            version = juce::MemoryBlock (d + 5, 4);

        if (answerVersion)
            respond (Step::version, statusReply (0x0B, true));
    }

    void handleSelect (const juce::uint8* d, int n)
    {
        ++counts[Step::select];

        if (! expect (n == 6, "select length"))
            return respond (Step::select, statusReply (0x7F, false));

        expect (! inSection, "select inside a section");
        selects.push_back (d[4]);
        awaitingHeader = true;
        inSection = false;
        respond (Step::select, statusReply (0x7F, ! takeRefusal (Step::select)));
    }

    void handleHeader (const juce::uint8* d, int n)
    {
        ++counts[Step::header];

        if (! expect (n == 21 && allNibbles (d + 4, 16), "header format"))
            return respond (Step::header, statusReply (0x02, false));

        if (! awaitingHeader)
        {
            expect (inSection, "header without a select");

            if (answerEveryHeader)
                respond (Step::header, statusReply (0x02, true));

            return;
        }

        awaitingHeader = false;
        const bool accepted = ! takeRefusal (Step::header);

        if (accepted)
        {
            Section section;
            section.length = readNibbles (d + 4);
            section.blockCount = readNibbles (d + 12);
            sections.push_back (section);
            sectionNibbles.clear();
            inSection = true;
        }

        respond (Step::header, statusReply (0x02, accepted));
    }

    void handleBlock (const juce::uint8* d, int n)
    {
        ++counts[Step::block];

        const int carried = 2 * blockSize;
        const bool valid = expect (inSection, "block outside a section")
                            && expect (n == carried + 8, "block length")
                            && expect (d[4] == (sections.back().blocksAccepted & 0x7F), "block index")
                            && expect (allNibbles (d + 5, carried + 2), "block nibbles")
                            && expect (checksumOf (d + 5, carried) == ((d[5 + carried] << 4) | d[6 + carried]),
                                       "block checksum");

        auto& refusalsLeft = refusedBlocks[blockNumber];
        const bool accepted = valid && refusalsLeft <= 0;

        if (valid && ! accepted)
            --refusalsLeft;

        if (accepted)
        {
            sectionNibbles.insert (sectionNibbles.end(), d + 5, d + 5 + carried);
            ++sections.back().blocksAccepted;
            ++blockNumber;
        }

        respond (Step::block, statusReply (0x04, accepted));
    }

    void handleSectionEnd (const juce::uint8* d, int n)
    {
        ++counts[Step::sectionEnd];
        expect (n == 6 && d[4] == 0x7B, "section end format");

        if (inSection)
            finishSection();

        inSection = awaitingHeader = false;
        respond (Step::sectionEnd, statusReply (0x05, ! takeRefusal (Step::sectionEnd)));
    }

    void finishSection()
    {
        auto& section = sections.back();
        const auto wanted = (size_t) section.length * 2;

        expect (section.blocksAccepted == (int) section.blockCount, "block count of section");

        if (! expect (sectionNibbles.size() >= wanted, "section shorter than its header"))
            return;

        for (auto i = wanted; i < sectionNibbles.size(); ++i)
            expect (sectionNibbles[i] == 0x0F, "padding other than 0x0F");

        expect (sectionNibbles.size() - wanted < (size_t) (2 * juce::jmax (1, blockSize)), "a whole block of padding");

        section.data.setSize (section.length);

        for (size_t i = 0; i < section.length; ++i)
            section.data[i] = (char) ((sectionNibbles[2 * i] << 4) | sectionNibbles[2 * i + 1]);

        section.ended = true;
    }

    //==============================================================================
    void respond (Step step, const Bytes& reply)
    {
        if (vanishStep == step)
        {
            vanishStep.reset();
            device->unplug();
            return;
        }

        if (abortStep == step)
        {
            abortStep.reset();
            send ({ 0xF0, 0x7E, 0x48, 0x06, 0xF7 });
            return;
        }

        if (auto& silent = quiet[step]; silent > 0)
        {
            --silent;
            withheld = reply;
            return;
        }

        send (reply);
    }

    void send (const Bytes& reply)
    {
        device->sendToHost (juce::MidiMessage (reply.data(), (int) reply.size()));
    }

    bool takeRefusal (Step step)
    {
        if (refusals[step] <= 0)
            return false;

        --refusals[step];
        return true;
    }

    bool expect (bool condition, const juce::String& what)
    {
        if (! condition)
            errors.add (what);

        return condition;
    }

    static bool allNibbles (const juce::uint8* data, int count)
    {
        return std::all_of (data, data + count, [] (juce::uint8 b) { return b <= 0x0F; });
    }

    static int checksumOf (const juce::uint8* data, int count)   { return std::accumulate (data, data + count, 0) & 0xFF; }
};

//==============================================================================
VirtualUpdatePeer::VirtualUpdatePeer (VirtualMidiDevice& d)
    : state (std::make_shared<State>()), device (d)
{
    state->device = &device;

    // The hook keeps the state alive while a write that is already under way finishes.
    device.setOnMessageWritten ([s = state] (const juce::MidiMessage& message) { s->handle (message); });
}

VirtualUpdatePeer::~VirtualUpdatePeer()
{
    device.setOnMessageWritten (nullptr);

    const std::lock_guard<std::mutex> guard (state->lock);
    state->device = nullptr;
}

#define PEER_LOCKED const std::lock_guard<std::mutex> guard (state->lock)

void VirtualUpdatePeer::setBlockSize (int blockSize)               { PEER_LOCKED; state->blockSize = blockSize; }
void VirtualUpdatePeer::setStartReplyLength (int length)          { PEER_LOCKED; state->startReplyLength = length; }
void VirtualUpdatePeer::refuseBlock (int blockNumber, int times)   { PEER_LOCKED; state->refusedBlocks[blockNumber] = times; }
void VirtualUpdatePeer::refuseStep (Step step, int times)          { PEER_LOCKED; state->refusals[step] = times; }
void VirtualUpdatePeer::stayQuietAt (Step step, int times)         { PEER_LOCKED; state->quiet[step] = times; }
void VirtualUpdatePeer::abortAt (Step step)                        { PEER_LOCKED; state->abortStep = step; }
void VirtualUpdatePeer::vanishAt (Step step)                       { PEER_LOCKED; state->vanishStep = step; }
void VirtualUpdatePeer::setEndReplyCommand (int command)           { PEER_LOCKED; state->endCommand = command; }
void VirtualUpdatePeer::setAnswerVersion (bool shouldAnswer)       { PEER_LOCKED; state->answerVersion = shouldAnswer; }
void VirtualUpdatePeer::setAnswerEveryHeader (bool shouldAnswer)   { PEER_LOCKED; state->answerEveryHeader = shouldAnswer; }

void VirtualUpdatePeer::sendWithheldReply()
{
    PEER_LOCKED;

    if (! state->withheld.empty() && state->device != nullptr)
        state->send (std::exchange (state->withheld, {}));
}

void VirtualUpdatePeer::sendAbort()
{
    PEER_LOCKED;

    if (state->device != nullptr)
        state->send ({ 0xF0, 0x7E, 0x48, 0x06, 0xF7 });
}

std::vector<VirtualUpdatePeer::Section> VirtualUpdatePeer::getSections() const   { PEER_LOCKED; return state->sections; }
std::vector<int> VirtualUpdatePeer::getSelects() const                           { PEER_LOCKED; return state->selects; }
juce::StringArray VirtualUpdatePeer::getErrors() const                           { PEER_LOCKED; return state->errors; }
juce::MemoryBlock VirtualUpdatePeer::getVersion() const                          { PEER_LOCKED; return state->version; }
int VirtualUpdatePeer::getCount (Step step) const                                { PEER_LOCKED; return state->counts[step]; }
bool VirtualUpdatePeer::isFinished() const                                       { PEER_LOCKED; return state->finished; }

#undef PEER_LOCKED
