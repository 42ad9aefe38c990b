// A whole firmware update of a 4 MiB full-size file, block size 255, through the whole
// road (engine, hub, sender, state machine, port, virtual device, transport, dispatcher,
// hub, engine) against a virtual device that answers at once.
//
// The engine's diagnostic lines go to standard output, which is sent to /dev/null here;
// the results are written to standard error.

#include "tests/support/UpdateRoad.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>

namespace
{
    constexpr size_t sectionSizes[] = { 256 * 1024, 1024 * 1024, 2048 * 1024, 512 * 1024, 256 * 1024 };
    constexpr int sectionIds[] = { 0x00, 0x01, 0x02, 0x10, 0x11 };
    constexpr int blockSize = 255;

    FirmwareFileBuilder fourMiBFile()
    {
        FirmwareFileBuilder builder;

        for (size_t i = 0; i < std::size (sectionIds); ++i)
            builder.section (sectionIds[i], FirmwareFileBuilder::pattern (sectionSizes[i], (int) i + 1));

        return builder;
    }

    bool arrivedIntact (const VirtualUpdatePeer& peer)
    {
        const auto sections = peer.getSections();

        if (! peer.getErrors().isEmpty() || sections.size() != std::size (sectionIds))
            return false;

        for (size_t i = 0; i < sections.size(); ++i)
            if (sections[i].data != FirmwareFileBuilder::pattern (sectionSizes[i], (int) i + 1))
                return false;

        return true;
    }
}

static void wholeUpdateOfFourMiB (benchmark::State& state)
{
    const auto file = fourMiBFile().writeTemporary();

    UpdateRoad road ("Norvo");
    road.peer.setBlockSize (blockSize);

    if (! road.connect())
    {
        state.SkipWithError ("the virtual device did not connect");
        return;
    }

    juce::int64 blocks = 0;

    for (auto _ : state)
    {
        state.PauseTiming();
        road.target.drain();
        road.device.clearWritten();
        state.ResumeTiming();

        if (! road.start (file->getFile()) || ! road.waitFor (updateFinished, 600000))
        {
            state.SkipWithError ("the update did not finish");
            return;
        }

        blocks += road.engine->totalBlocks.load();
    }

    if (! arrivedIntact (road.peer))
        state.SkipWithError ("the device did not reassemble the file");

    state.counters["blocks"] = benchmark::Counter ((double) blocks, benchmark::Counter::kAvgIterations);
    state.counters["blocks/s"] = benchmark::Counter ((double) blocks, benchmark::Counter::kIsRate);
    state.counters["s/block"] = benchmark::Counter ((double) blocks,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK (wholeUpdateOfFourMiB)->Unit (benchmark::kMillisecond)->UseRealTime()->Iterations (3);

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    benchmark::Initialize (&argc, argv);

    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    if (std::freopen ("/dev/null", "w", stdout) == nullptr)
        return 1;

    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream (&std::cerr);
    reporter.SetErrorStream (&std::cerr);
    benchmark::RunSpecifiedBenchmarks (&reporter);
    benchmark::Shutdown();
    return 0;
}
