// What the host costs on the road of an update, measured side by side in one run:
//
// - perBlockRoadAgainstBareLoop: host time per data block through the whole road (engine,
//   hub, sender, state machine, port layer, the device's reply, transport, dispatcher,
//   hub, engine) against a loop that only builds the same block messages. The road's time
//   per block is the slope between a small and a large update, so the fixed costs of an
//   update (the 30 ms pause after the version message among them) drop out.
// - fourMiBAtOneMillisecond: a whole 4 MiB full-size update against a device that answers
//   1 ms after each message: the time over (round trips x 1 ms).
// - residentMemoryOfOneUpdate: the process's resident memory before and after a 4 MiB update.

#include "bench/DelayedUpdateDevice.h"
#include "tests/support/UpdateRoad.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>

#include <malloc.h>

namespace
{
    using Clock = std::chrono::steady_clock;

    constexpr int sectionIds[] = { 0x00, 0x01, 0x02, 0x10, 0x11 };

    struct TestFile
    {
        explicit TestFile (const std::vector<size_t>& sizes)
        {
            FirmwareFileBuilder builder;

            for (size_t i = 0; i < sizes.size(); ++i)
            {
                payloads.push_back (FirmwareFileBuilder::pattern (sizes[i], (int) i + 1));
                builder.section (sectionIds[i], payloads.back());
            }

            file = builder.writeTemporary();
            hash = DelayedUpdateDevice::hashOf (payloads);
        }

        std::vector<juce::MemoryBlock> payloads;
        std::unique_ptr<juce::TemporaryFile> file;
        juce::uint64 hash = 0;
    };

    const std::vector<size_t> fourMiB { 256 * 1024, 1024 * 1024, 2048 * 1024, 512 * 1024, 256 * 1024 };

    /** Runs one update to its end; the wall time in seconds, or a negative value on failure. */
    double timeOneUpdate (UpdateRoad& road, DelayedUpdateDevice& device, const TestFile& file,
                          bool resetAfter = true)
    {
        road.target.drain();
        road.device.clearWritten();
        road.engine->blocksDone = 0;
        device.reset();

        const auto start = Clock::now();

        if (! road.start (file.file->getFile()) || ! road.waitFor (updateFinished, 600000))
            return -1.0;

        const std::chrono::duration<double> elapsed = Clock::now() - start;

        if (! device.isFinished() || device.getNumBadBlocks() != 0 || device.getHash() != file.hash)
            return -1.0;

        if (resetAfter)
            road.engine->resetUpdate();

        return elapsed.count();
    }

    /** The block messages of a section built into one reused buffer: the least any sender
        of these blocks must do.
    */
    double bareBlockLoop (const juce::MemoryBlock& payload, int blockSize, juce::uint64& sink)
    {
        std::vector<juce::uint8> nibbles;

        for (size_t i = 0; i < payload.getSize(); ++i)
        {
            nibbles.push_back ((juce::uint8) ((juce::uint8) payload[i] >> 4));
            nibbles.push_back ((juce::uint8) (payload[i] & 0x0F));
        }

        const int perBlock = 2 * blockSize;
        const int count = ((int) nibbles.size() + perBlock - 1) / perBlock;
        std::vector<juce::uint8> message ((size_t) perBlock + 6);
        const auto start = Clock::now();

        for (int k = 0; k < count; ++k)
        {
            const int first = k * perBlock;
            const int carried = juce::jmin (perBlock, (int) nibbles.size() - first);
            message[0] = 0x7E; message[1] = 0x48; message[2] = 0x04;
            message[3] = (juce::uint8) (k & 0x7F);
            std::memcpy (message.data() + 4, nibbles.data() + first, (size_t) carried);
            std::memset (message.data() + 4 + carried, 0x0F, (size_t) (perBlock - carried));

            juce::uint8 sum = 0;

            for (int i = 0; i < perBlock; ++i)
                sum = (juce::uint8) (sum + message[(size_t) (4 + i)]);

            message[(size_t) perBlock + 4] = (juce::uint8) (sum >> 4);
            message[(size_t) perBlock + 5] = (juce::uint8) (sum & 0x0F);
            benchmark::DoNotOptimize (message.data());
            sink += message[(size_t) perBlock + 5];
        }

        const std::chrono::duration<double> elapsed = Clock::now() - start;
        return elapsed.count() / count;
    }

    /** Resident memory of the process. With `trimmed`, freed heap memory is handed back to
        the system first, so that what the virtual device and its log leave behind in the
        same process (freed, but kept by the allocator) does not count.
    */
    long residentKiB (bool trimmed = true)
    {
        if (trimmed)
            malloc_trim (0);

        std::ifstream status ("/proc/self/status");

        for (std::string line; std::getline (status, line);)
            if (line.rfind ("VmRSS:", 0) == 0)
                return std::stol (line.substr (6));

        return -1;
    }

    constexpr int roadBlockSize = 255;
}

//==============================================================================
static void perBlockRoadAgainstBareLoop (benchmark::State& state)
{
    const TestFile small ({ 64 * 1024 });
    const TestFile large ({ 1024 * 1024 });
    const auto blocksOf = [] (const TestFile& f) { return (double) ((f.payloads[0].getSize() + roadBlockSize - 1) / roadBlockSize); };

    UpdateRoad road ("Norvo");
    DelayedUpdateDevice device (road.device, roadBlockSize, std::chrono::microseconds (0));

    if (! road.connect())
        return state.SkipWithError ("the virtual device did not connect");

    // The fastest of the runs: the machine's other work only ever adds time. The road is
    // timed both by the wall clock and by the CPU time of the host's MIDI input thread,
    // which the load of a busy machine disturbs much less.
    double roadWall = 1.0, roadCpu = 1.0, bare = 1.0;
    juce::uint64 sink = 0;

    for (auto _ : state)
    {
        const auto tSmall = timeOneUpdate (road, device, small);
        const auto tLarge = timeOneUpdate (road, device, large);

        if (tSmall < 0 || tLarge < 0)
            return state.SkipWithError ("an update did not arrive intact");

        roadWall = juce::jmin (roadWall, (tLarge - tSmall) / (blocksOf (large) - blocksOf (small)));
        roadCpu = juce::jmin (roadCpu, device.getThreadCpuPerBlockMicroseconds() * 1e-6);
        bare = juce::jmin (bare, bareBlockLoop (large.payloads[0], roadBlockSize, sink));
        state.SetIterationTime ((tLarge - tSmall) / (blocksOf (large) - blocksOf (small)));
    }

    benchmark::DoNotOptimize (sink);
    state.counters["road_wall_us"] = roadWall * 1e6;
    state.counters["road_cpu_us"] = roadCpu * 1e6;
    state.counters["bare_us"] = bare * 1e6;
    state.counters["ratio"] = roadWall / bare;
    state.counters["cpu_ratio"] = roadCpu / bare;
}

BENCHMARK (perBlockRoadAgainstBareLoop)->UseManualTime()->Unit (benchmark::kMicrosecond)->Iterations (7);

//==============================================================================
static void fourMiBAtOneMillisecond (benchmark::State& state)
{
    const TestFile file (fourMiB);

    UpdateRoad road ("Norvo");
    DelayedUpdateDevice device (road.device, roadBlockSize, std::chrono::milliseconds (1));

    if (! road.connect())
        return state.SkipWithError ("the virtual device did not connect");

    double seconds = 0;
    int roundTrips = 0;

    for (auto _ : state)
    {
        seconds = timeOneUpdate (road, device, file);
        roundTrips = device.getNumReplies();

        if (seconds < 0)
            return state.SkipWithError ("the update did not arrive intact");

        state.SetIterationTime (seconds);
    }

    state.counters["round_trips"] = roundTrips;
    state.counters["device_late_us"] = device.getMeanLatenessMicroseconds();
    state.counters["host_turn_us"] = device.getMeanTurnaroundMicroseconds();
    state.counters["host_cpu_us"] = device.getThreadCpuPerBlockMicroseconds();
    state.counters["seconds"] = seconds;
    state.counters["ratio"] = seconds / (roundTrips * 1e-3);
}

BENCHMARK (fourMiBAtOneMillisecond)->UseManualTime()->Unit (benchmark::kSecond)->Iterations (1);

//==============================================================================
static void residentMemoryOfOneUpdate (benchmark::State& state)
{
    UpdateRoad road ("Norvo");
    DelayedUpdateDevice device (road.device, roadBlockSize, std::chrono::microseconds (0));

    if (! road.connect())
        return state.SkipWithError ("the virtual device did not connect");

    long before = 0, after = 0, afterUntrimmed = 0, afterReset = 0;

    for (auto _ : state)
    {
        const TestFile file (fourMiB);
        before = residentKiB();

        if (timeOneUpdate (road, device, file, false) < 0)
            return state.SkipWithError ("the update did not arrive intact");

        // The finished engine keeps its sections until the next start or its time-outs.
        road.target.drain();
        road.device.clearWritten();
        afterUntrimmed = residentKiB (false);
        after = residentKiB();
        road.engine->resetUpdate();
        afterReset = residentKiB();
    }

    state.counters["before_MiB"] = before / 1024.0;
    state.counters["after_MiB"] = after / 1024.0;
    state.counters["after_untrimmed_MiB"] = afterUntrimmed / 1024.0;
    state.counters["after_reset_MiB"] = afterReset / 1024.0;
    state.counters["ratio"] = (double) after / (double) before;
}

BENCHMARK (residentMemoryOfOneUpdate)->Unit (benchmark::kMillisecond)->Iterations (1);

//==============================================================================
// The host's own step for one block, without any device or port: a block's acceptance
// handed straight to the engine, which builds the next block and passes it through the
// hub to the sender, which frames it (the link is not open, so it goes no further).
static void hostBlockStepAlone (benchmark::State& state)
{
    const TestFile file ({ 16 * 1024 * 1024 });
    juce::uint8 startReply[39] = { 0xF0, 0x7E, 0x48, 0x01 };
    startReply[36] = (roadBlockSize >> 4) & 0x0F;
    startReply[37] = roadBlockSize & 0x0F;
    startReply[38] = 0xF7;
    const juce::uint8 accepted[] = { 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 };

    UpdateRoad road ("Norvo");

    if (! road.start (file.file->getFile()))
        return state.SkipWithError ("the file was refused");

    road.engine->deviceReply ((int) sizeof (startReply), startReply);   // version, pause, select
    road.engine->deviceReply ((int) sizeof (accepted), accepted);       // headers
    road.engine->deviceReply ((int) sizeof (accepted), accepted);       // block 0

    for (auto _ : state)
    {
        road.engine->deviceReply ((int) sizeof (accepted), accepted);

        if (road.engine->getUpdatingState() != 3)
            return state.SkipWithError ("the engine left the block state");
    }

    road.target.drain();
}

BENCHMARK (hostBlockStepAlone)->Unit (benchmark::kMicrosecond)->Iterations (50000);
