#include "bench/DelayedUpdateDevice.h"

#include <time.h>

namespace
{
    constexpr juce::uint64 fnvOffset = 0xcbf29ce484222325ull;
    constexpr juce::uint64 fnvPrime = 0x100000001b3ull;

    juce::int64 nowNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds> (std::chrono::steady_clock::now().time_since_epoch()).count();
    }

    juce::int64 threadCpuNs()
    {
        timespec t {};
        clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
        return (juce::int64) t.tv_sec * 1000000000 + t.tv_nsec;
    }

    juce::uint32 readNibbles (const juce::uint8* nibbles)
    {
        juce::uint32 value = 0;

        for (int i = 0; i < 8; ++i)
            value = (value << 4) | (nibbles[i] & 0x0F);

        return value;
    }
}

DelayedUpdateDevice::DelayedUpdateDevice (VirtualMidiDevice& d, int size, std::chrono::microseconds delay)
    : device (d), blockSize (size), latency (delay)
{
    if (latency.count() > 0)
        thread = std::thread ([this] { replyThread(); });

    device.setOnMessageWritten ([this] (const juce::MidiMessage& message) { handle (message); });
}

DelayedUpdateDevice::~DelayedUpdateDevice()
{
    device.setOnMessageWritten (nullptr);

    {
        const std::lock_guard<std::mutex> guard (queueLock);
        quitting = true;
    }

    queueChanged.notify_all();

    if (thread.joinable())
        thread.join();
}

juce::uint64 DelayedUpdateDevice::hashOf (const std::vector<juce::MemoryBlock>& payloads)
{
    auto h = fnvOffset;

    for (const auto& payload : payloads)
        for (size_t i = 0; i < payload.getSize(); ++i)
            h = (h ^ (juce::uint8) payload[i]) * fnvPrime;

    return h;
}

void DelayedUpdateDevice::reset()
{
    latenessNs = 0;
    turnaroundNs = 0;
    turnarounds = 0;
    lateReplies = 0;
    lastReplySentNs = 0;
    firstBlockCpuNs = 0;
    endCpuNs = 0;
    replies = 0;
    blocks = 0;
    badBlocks = 0;
    finished = false;
}

double DelayedUpdateDevice::getThreadCpuPerBlockMicroseconds() const noexcept
{
    return blocks > 1 ? (double) (endCpuNs - firstBlockCpuNs) / (blocks - 1) / 1000.0 : 0.0;
}

double DelayedUpdateDevice::getMeanLatenessMicroseconds() const noexcept
{
    return lateReplies > 0 ? (double) latenessNs / lateReplies / 1000.0 : 0.0;
}

double DelayedUpdateDevice::getMeanTurnaroundMicroseconds() const noexcept
{
    return turnarounds > 0 ? (double) turnaroundNs / turnarounds / 1000.0 : 0.0;
}

juce::uint64 DelayedUpdateDevice::getHash() const
{
    const std::lock_guard<std::mutex> guard (hashLock);
    return hash;
}

//==============================================================================
void DelayedUpdateDevice::handle (const juce::MidiMessage& message)
{
    if (const auto sent = lastReplySentNs.exchange (0); sent != 0)
    {
        turnaroundNs += nowNs() - sent;
        ++turnarounds;
    }

    const auto* d = message.getRawData();
    const auto n = message.getRawDataSize();

    if (n < 5 || d[0] != 0xF0 || d[1] != 0x7E || d[2] != 0x48)
        return;

    const auto accept = [this] (int command) { reply ({ 0xF0, 0x7E, 0x48, (juce::uint8) command, 0x7F, 0xF7 }); };

    switch (d[3])
    {
        case 0x01:
        {
            {
                const std::lock_guard<std::mutex> guard (hashLock);
                hash = fnvOffset;
            }

            awaitingHeader = false;
            sectionBytesLeft = 0;

            Bytes start (39, 0);
            start[0] = 0xF0; start[1] = 0x7E; start[2] = 0x48; start[3] = 0x01;
            start[36] = (juce::uint8) ((blockSize >> 4) & 0x0F);
            start[37] = (juce::uint8) (blockSize & 0x0F);
            start[38] = 0xF7;
            reply (std::move (start));
            break;
        }

        case 0x7F:
            awaitingHeader = true;
            accept (0x7F);
            break;

        case 0x02:
            if (awaitingHeader && n == 21)
            {
                awaitingHeader = false;
                sectionBytesLeft = readNibbles (d + 4);
                blockIndex = 0;
                accept (0x02);
            }
            break;

        case 0x04:
            if (blocks == 0)
                firstBlockCpuNs = threadCpuNs();

            handleBlock (d, n);
            break;

        case 0x05: accept (0x05); break;
        case 0x07: endCpuNs = threadCpuNs(); accept (0x07); break;
        case 0x09: finished = true; accept (0x09); break;
        default:   break;   // the version message gets no answer
    }
}

void DelayedUpdateDevice::handleBlock (const juce::uint8* d, int n)
{
    const int carried = 2 * blockSize;
    int sum = 0;
    bool valid = n == carried + 8 && d[4] == (blockIndex & 0x7F);

    for (int i = 0; valid && i < carried + 2; ++i)
        valid = d[5 + i] <= 0x0F;

    for (int i = 0; valid && i < carried; ++i)
        sum += d[5 + i];

    valid = valid && (sum & 0xFF) == ((d[5 + carried] << 4) | d[6 + carried]);

    if (! valid)
    {
        ++badBlocks;
        reply ({ 0xF0, 0x7E, 0x48, 0x04, 0x7E, 0xF7 });
        return;
    }

    {
        const std::lock_guard<std::mutex> guard (hashLock);
        const auto bytes = juce::jmin ((juce::uint32) blockSize, sectionBytesLeft);

        for (juce::uint32 i = 0; i < bytes; ++i)
            hash = (hash ^ (juce::uint8) ((d[5 + 2 * i] << 4) | d[6 + 2 * i])) * fnvPrime;

        sectionBytesLeft -= bytes;
    }

    ++blockIndex;
    ++blocks;
    reply ({ 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 });
}

void DelayedUpdateDevice::reply (Bytes bytes)
{
    ++replies;

    if (latency.count() == 0)
    {
        device.sendToHost (juce::MidiMessage (bytes.data(), (int) bytes.size()));
        return;
    }

    {
        const std::lock_guard<std::mutex> guard (queueLock);
        queue.emplace_back (Clock::now() + latency, std::move (bytes));
    }

    queueChanged.notify_one();
}

void DelayedUpdateDevice::replyThread()
{
    std::unique_lock<std::mutex> guard (queueLock);

    for (;;)
    {
        queueChanged.wait (guard, [this] { return quitting || ! queue.empty(); });

        if (quitting)
            return;

        auto [due, bytes] = std::move (queue.front());
        queue.pop_front();
        guard.unlock();

        // The scheduler wakes late by tens of microseconds: sleep short of the due time,
        // then spin to it.
        std::this_thread::sleep_until (due - std::chrono::microseconds (150));

        while (Clock::now() < due)
        {
        }

        const juce::MidiMessage message (bytes.data(), (int) bytes.size());
        latenessNs += std::chrono::duration_cast<std::chrono::nanoseconds> (Clock::now() - due).count();
        ++lateReplies;
        lastReplySentNs = nowNs();
        device.sendToHost (message);
        guard.lock();
    }
}
