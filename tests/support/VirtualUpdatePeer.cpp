#include "tests/support/VirtualUpdatePeer.h"

#include <map>
#include <mutex>
#include <numeric>

struct VirtualUpdatePeer::State
{
    struct Plan { Fault fault; int times, skip; };

    std::mutex lock;
    VirtualMidiDevice* device = nullptr;
    int blockSize = 64;
    std::map<Step, Plan> faults;
    std::vector<juce::uint8> withheld, nibbles;   // nibbles of the open section's accepted blocks
    std::vector<Section> sections;
    juce::StringArray errors;
    bool awaitingHeader = false, inSection = false, finished = false;

    void handle (const juce::uint8* d, int n)
    {
        static constexpr juce::uint8 commands[] = { 0x01, 0x0B, 0x7F, 0x02, 0x04, 0x05, 0x07, 0x09 };   // by Step
        const auto step = (Step) (std::find (commands, commands + 8, n > 4 ? d[3] : 0) - commands);

        if (device == nullptr || n < 5 || d[0] != 0xF0 || d[1] != 0x7E || d[2] != 0x48 || ! check (step <= Step::metadata, "command"))
            return;   // gone, or no update message

        auto& plan = faults[step];
        const bool faulty = plan.times > 0 && plan.skip-- <= 0;
        const auto fault = faulty ? plan.fault : Fault::none;
        plan.times -= faulty ? 1 : 0;
        const bool refused = fault == Fault::refuse;   // with a status and a command that nothing accepts
        std::vector<juce::uint8> answer { 0xF0, 0x7E, 0x48, refused ? (juce::uint8) 0x7E : d[3], (juce::uint8) (refused ? 0x7E : 0x7F), 0xF7 };

        if (step == Step::start)
        {
            sections.clear();
            errors.clear();
            awaitingHeader = inSection = finished = false;

            if (! refused)   // two 16-byte fields the host does not interpret, then the block size
            {
                answer.resize (36, 0x7F);
                answer.insert (answer.end(), { (juce::uint8) ((blockSize >> 4) & 0x0F), (juce::uint8) (blockSize & 0x0F), 0xF7 });
            }
        }
        else if (step == Step::version || (step == Step::header && ! std::exchange (awaitingHeader, false)))
            return;
        else if (step == Step::select)
            awaitingHeader = check (! inSection, "select inside a section") && ! refused;
        else if (step == Step::header && ! refused)
        {
            auto value = [d] (int at) { return std::accumulate (d + at, d + at + 8, 0u, [] (juce::uint32 v, juce::uint8 b) { return (v << 4) | b; }); };
            sections.push_back ({ value (4), value (12), {} });
            nibbles.clear();
            inSection = true;
        }
        else if (step == Step::block && ! blockIsValid (d, n))
            answer[4] = 0x7E;
        else if (step == Step::block && ! refused)
            nibbles.insert (nibbles.end(), d + 5, d + n - 3);
        else if (step == Step::sectionEnd && std::exchange (inSection, false))
            finishSection();

        finished |= step == Step::metadata;

        if (fault == Fault::abort)
            answer = { 0xF0, 0x7E, 0x48, 0x06, 0xF7 };

        if (fault == Fault::quiet || fault == Fault::vanish)
            withheld = answer;
        else
            send (answer);

        if (fault == Fault::vanish)
            device->unplug();
    }

    bool blockIsValid (const juce::uint8* d, int n)
    {
        const int carried = 2 * blockSize;
        return check (inSection, "block outside a section") && check (n == carried + 8, "block length")
            && check (d[4] == ((nibbles.size() / (size_t) carried) & 0x7F), "block index")
            && check (std::all_of (d + 5, d + n - 1, [] (juce::uint8 b) { return b <= 0x0F; }), "block nibbles")
            && check ((std::accumulate (d + 5, d + 5 + carried, 0) & 0xFF) == ((d[n - 3] << 4) | d[n - 2]), "checksum");
    }

    void finishSection()
    {
        auto& s = sections.back();
        const auto wanted = 2 * (size_t) s.length;
        check (s.blockCount == (s.length + (juce::uint32) blockSize - 1) / (juce::uint32) blockSize
                 && nibbles.size() == 2 * (size_t) blockSize * s.blockCount, "block count");

        if (check (nibbles.size() >= wanted && std::all_of (nibbles.begin() + (long) wanted, nibbles.end(),
                                                             [] (juce::uint8 b) { return b == 0x0F; }), "padding"))
            for (size_t i = 0; i < wanted; i += 2)
            {
                const auto byte = (juce::uint8) ((nibbles[i] << 4) | nibbles[i + 1]);
                s.data.append (&byte, 1);
            }
    }

    bool check (bool ok, const char* what)                  { if (! ok) errors.add (what); return ok; }
    void send (const std::vector<juce::uint8>& reply)       { device->sendToHost (juce::MidiMessage (reply.data(), (int) reply.size())); }
};

//==============================================================================
VirtualUpdatePeer::VirtualUpdatePeer (VirtualMidiDevice& d) : state (std::make_shared<State>()), device (d)
{
    state->device = &device;

    // The hook keeps the state alive while a write that is already under way finishes.
    device.setOnMessageWritten ([s = state] (const juce::MidiMessage& m)
                                { const std::lock_guard<std::mutex> guard (s->lock); s->handle (m.getRawData(), m.getRawDataSize()); });
}

VirtualUpdatePeer::~VirtualUpdatePeer()
{
    device.setOnMessageWritten (nullptr);
    const std::lock_guard<std::mutex> guard (state->lock);
    state->device = nullptr;
}

#define PEER_LOCKED const std::lock_guard<std::mutex> guard (state->lock)

void VirtualUpdatePeer::setBlockSize (int size)                                { PEER_LOCKED; state->blockSize = size; }
void VirtualUpdatePeer::setFault (Step step, Fault fault, int times, int skip) { PEER_LOCKED; state->faults[step] = { fault, times, skip }; }
void VirtualUpdatePeer::clearFaults()                                          { PEER_LOCKED; state->faults.clear(); state->withheld.clear(); }
std::vector<VirtualUpdatePeer::Section> VirtualUpdatePeer::getSections() const { PEER_LOCKED; return state->sections; }
juce::StringArray VirtualUpdatePeer::getErrors() const                         { PEER_LOCKED; return state->errors; }
bool VirtualUpdatePeer::isFinished() const                                     { PEER_LOCKED; return state->finished; }

bool VirtualUpdatePeer::sendWithheldReply()
{
    PEER_LOCKED;
    const auto reply = std::exchange (state->withheld, {});

    if (! reply.empty() && state->device != nullptr)
        state->send (reply);

    return ! reply.empty();
}

#undef PEER_LOCKED
