#pragma once

#include "tests/support/VirtualMidiDevice.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

/** The device side of an update for the benchmarks: answers every update message that a
    device answers, a fixed time after the host wrote it, and keeps no copy of the data.

    Each block is checked (index, nibbles, checksum) and the accepted data of every section
    is folded into one running hash, so the benchmark can tell that the file arrived intact
    without the device's memory showing up next to the host's. Replies leave from a thread
    of its own that waits for each due time precisely (sleep, then spin for the last part),
    so that the latency is what was asked for and no more.
*/
class DelayedUpdateDevice
{
public:
    DelayedUpdateDevice (VirtualMidiDevice& device, int blockSize, std::chrono::microseconds latency);
    ~DelayedUpdateDevice();

    /** FNV-1a over the bytes of the sections, in the order a device receives them. */
    static juce::uint64 hashOf (const std::vector<juce::MemoryBlock>& payloads);

    /** Forgets the previous update's counts (the hash starts again at the next START). */
    void reset();

    int getNumReplies() const noexcept          { return replies; }

    /** CPU time of the host's MIDI input thread per block, from the first block to the end
        message: everything the host does on that thread for a block and its reply.
    */
    double getThreadCpuPerBlockMicroseconds() const noexcept;

    /** Mean time by which a reply left after its due time. */
    double getMeanLatenessMicroseconds() const noexcept;

    /** Mean time from a reply leaving the device to the host's next message arriving:
        the host's whole turn, the wake-up of the device's input thread included.
    */
    double getMeanTurnaroundMicroseconds() const noexcept;
    int getNumBlocks() const noexcept           { return blocks; }
    int getNumBadBlocks() const noexcept        { return badBlocks; }
    bool isFinished() const noexcept            { return finished; }
    juce::uint64 getHash() const;

private:
    using Bytes = std::vector<juce::uint8>;
    using Clock = std::chrono::steady_clock;

    void handle (const juce::MidiMessage& message);
    void handleBlock (const juce::uint8* d, int n);
    void reply (Bytes bytes);
    void replyThread();

    VirtualMidiDevice& device;
    const int blockSize;
    const std::chrono::microseconds latency;

    // Written on the host's writing thread only; read after the update.
    juce::uint64 hash = 0;
    juce::uint32 sectionBytesLeft = 0;
    bool awaitingHeader = false;
    int blockIndex = 0;
    std::atomic<int> replies { 0 }, blocks { 0 }, badBlocks { 0 };
    std::atomic<bool> finished { false };
    std::atomic<juce::int64> latenessNs { 0 }, turnaroundNs { 0 };
    std::atomic<int> turnarounds { 0 }, lateReplies { 0 };
    std::atomic<juce::int64> lastReplySentNs { 0 };
    std::atomic<juce::int64> firstBlockCpuNs { 0 }, endCpuNs { 0 };
    mutable std::mutex hashLock;

    std::mutex queueLock;
    std::condition_variable queueChanged;
    std::deque<std::pair<Clock::time_point, Bytes>> queue;
    bool quitting = false;
    std::thread thread;
};
