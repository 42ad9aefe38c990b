#include "firmware/FirmwareFile.h"
#include "tests/support/UpdateRoad.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

extern "C" ssize_t __real_read (int descriptor, void* buffer, size_t count);

namespace
{
    /** What happens at the first read of one file (by device and inode): the read takes at most
        `firstReadLimit` bytes, `misread` may change what it got (the file stays as it is), then
        `action` runs before the read returns, on the reading thread.
    */
    struct BetweenReads
    {
        dev_t device = 0;
        ino_t inode = 0;
        size_t firstReadLimit = 0;
        std::function<void()> action;
        std::function<void (juce::uint8* bytes, ssize_t got)> misread;
    };

    std::mutex hookLock;
    std::optional<BetweenReads> hook;
    std::atomic<bool> hookArmed { false };
    std::atomic<int> hookRuns { 0 };

    /** The hook, taken once, when this descriptor reads its file. */
    std::optional<BetweenReads> takeHook (int descriptor)
    {
        struct stat info {};

        if (! hookArmed.load() || ::fstat (descriptor, &info) != 0)
            return std::nullopt;

        const std::lock_guard<std::mutex> guard (hookLock);

        if (! hook.has_value() || hook->device != info.st_dev || hook->inode != info.st_ino)
            return std::nullopt;

        hookArmed = false;
        return std::exchange (hook, std::nullopt);
    }
}

extern "C" ssize_t __wrap_read (int descriptor, void* buffer, size_t count)
{
    const auto taken = takeHook (descriptor);

    if (! taken.has_value())
        return __real_read (descriptor, buffer, count);

    const auto got = __real_read (descriptor, buffer, std::min (count, taken->firstReadLimit));

    if (taken->misread)
        taken->misread (static_cast<juce::uint8*> (buffer), got);

    taken->action();
    ++hookRuns;
    return got;
}

namespace
{
    /** Arms the hook for a file for the life of the object. */
    struct ScopedBetweenReads
    {
        ScopedBetweenReads (const juce::File& file, size_t firstReadLimit, std::function<void()> action,
                            std::function<void (juce::uint8*, ssize_t)> misread = {})
        {
            struct stat info {};
            EXPECT_EQ (::stat (file.getFullPathName().toRawUTF8(), &info), 0);
            const std::lock_guard<std::mutex> guard (hookLock);
            hook = BetweenReads { info.st_dev, info.st_ino, firstReadLimit, std::move (action), std::move (misread) };
            hookArmed = true;
            runsBefore = hookRuns.load();
        }

        ~ScopedBetweenReads()
        {
            const std::lock_guard<std::mutex> guard (hookLock);
            hook.reset();
            hookArmed = false;
        }

        bool ran() const   { return hookRuns.load() > runsBefore; }

        int runsBefore = 0;
    };

    /** Ways of putting other bytes of the same size into a file, as editors, copies and syncs do it. */
    using Rewrite = void (*) (const juce::File& file, const juce::MemoryBlock& bytes);

    void writeAll (int descriptor, const juce::MemoryBlock& bytes)
    {
        EXPECT_EQ (::pwrite (descriptor, bytes.getData(), bytes.getSize(), 0), (ssize_t) bytes.getSize());
        ::close (descriptor);
    }

    void inPlace (const juce::File& file, const juce::MemoryBlock& bytes)
    {
        writeAll (::open (file.getFullPathName().toRawUTF8(), O_WRONLY), bytes);
    }

    void truncatedThenWritten (const juce::File& file, const juce::MemoryBlock& bytes)
    {
        writeAll (::open (file.getFullPathName().toRawUTF8(), O_WRONLY | O_TRUNC), bytes);
    }

    void inPlaceKeepingItsTimes (const juce::File& file, const juce::MemoryBlock& bytes)
    {
        struct stat before {};
        const auto descriptor = ::open (file.getFullPathName().toRawUTF8(), O_WRONLY);
        ::fstat (descriptor, &before);
        EXPECT_EQ (::pwrite (descriptor, bytes.getData(), bytes.getSize(), 0), (ssize_t) bytes.getSize());
        const struct timespec times[2] { before.st_atim, before.st_mtim };
        EXPECT_EQ (::futimens (descriptor, times), 0);
        ::close (descriptor);
    }

    void replacedByRename (const juce::File& file, const juce::MemoryBlock& bytes)
    {
        const auto next = file.getSiblingFile (file.getFileNameWithoutExtension() + "-next.bin");
        next.replaceWithData (bytes.getData(), bytes.getSize());
        EXPECT_TRUE (next.moveFileTo (file));
    }

    void readByAnotherProgram (const juce::File& file, const juce::MemoryBlock&)
    {
        juce::MemoryBlock copy;
        EXPECT_TRUE (file.loadFileAsData (copy));
    }

    void untouched (const juce::File&, const juce::MemoryBlock&) {}

    bool isUpdateMessage (const VirtualMidiDevice::WrittenMessage& written)
    {
        const auto* bytes = written.message.getRawData();
        return written.message.getRawDataSize() >= 3 && bytes[0] == 0xF0 && bytes[1] == 0x7E && bytes[2] == 0x48;
    }

    bool isVersionMessage (const VirtualMidiDevice::WrittenMessage& written)
    {
        return isUpdateMessage (written) && written.message.getRawDataSize() > 3 && written.message.getRawData()[3] == 0x0B;
    }

    juce::MemoryBlock versionMessage (const juce::uint8 (&version)[4])
    {
        const juce::uint8 bytes[] { 0xF0, 0x7E, 0x48, 0x0B, 0x01, version[0], version[1], version[2], version[3], 0xF7 };
        return { bytes, sizeof (bytes) };
    }
}

TEST (FileChangedWhileRead, AFileRewrittenBetweenItsHeaderAndItsPayloadsIsRefusedAndOneReadWholeIsSentByteExact)
{
    // Two files of one table: only the version and the payload bytes differ.
    const juce::uint8 oldVersion[4] { 1, 2, 3, 4 }, newVersion[4] { 9, 8, 7, 6 };
    const auto oldPayloads = std::pair { FirmwareFileBuilder::pattern (300, 1), FirmwareFileBuilder::pattern (200, 2) };
    const auto build = [] (const juce::uint8 (&v)[4], const std::pair<juce::MemoryBlock, juce::MemoryBlock>& payloads)
    {
        return FirmwareFileBuilder().version (v[0], v[1], v[2], v[3]).section (0x00, payloads.first).section (0x10, payloads.second).build();
    };
    const auto oldBytes = build (oldVersion, oldPayloads);
    const auto newBytes = build (newVersion, { FirmwareFileBuilder::pattern (300, 3), FirmwareFileBuilder::pattern (200, 4) });
    ASSERT_EQ (oldBytes.getSize(), newBytes.getSize());

    struct Row { const char* name; Rewrite rewrite; bool accepted; };
    const Row rows[] {
        { "rewritten in place", inPlace, false },
        { "truncated and written again, as a copy does", truncatedThenWritten, false },
        { "rewritten in place, its modification time put back", inPlaceKeepingItsTimes, false },
        { "replaced by a rename (the open file loses its name, which moves its change time)", replacedByRename, false },
        { "read by another program", readByAnotherProgram, true },
        { "untouched", untouched, true },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        const juce::TemporaryFile temporary (".bin");
        const auto file = temporary.getFile();
        ASSERT_TRUE (file.replaceWithData (oldBytes.getData(), oldBytes.getSize()));

        UpdateRoad road;
        ASSERT_TRUE (road.connect());
        const ScopedBetweenReads between (file, (size_t) (FirmwareHeader::headerSize + 5 * FirmwareHeader::entrySize),
                                          [&] { row.rewrite (file, newBytes); });

        EXPECT_EQ (road.start (file), row.accepted);
        EXPECT_TRUE (between.ran());

        if (! row.accepted)
        {
            EXPECT_EQ (road.target.drain(), (std::vector<int> { updateStarted, fileNotCompatible }));
            const auto written = road.device.getWrittenMessages();
            EXPECT_TRUE (std::none_of (written.begin(), written.end(), isUpdateMessage));
            continue;
        }

        ASSERT_TRUE (road.waitFor (updateFinished));
        EXPECT_TRUE (road.peer.getErrors().isEmpty()) << road.peer.getErrors().joinIntoString ("\n");
        const auto sections = road.peer.getSections();
        ASSERT_EQ (sections.size(), 2u);
        EXPECT_TRUE (sections[0].data == oldPayloads.first && sections[1].data == oldPayloads.second);

        const auto written = road.device.getWrittenMessages();
        const auto version = std::find_if (written.begin(), written.end(), isVersionMessage);
        ASSERT_NE (version, written.end());
        EXPECT_EQ (juce::MemoryBlock (version->message.getRawData(), (size_t) version->message.getRawDataSize()), versionMessage (oldVersion));
        EXPECT_EQ (std::count_if (written.begin(), written.end(), isVersionMessage), 1);
    }
}

TEST (FileChangedWhileRead, TheStartOfAFileReadInTwoStepsIsRefusedWhenTheFileChangesBetweenThem)
{
    // The version label's read: a short first read, as of a file still being written, takes two steps.
    const auto oldBytes = FirmwareFileBuilder().version ('V', 1, 2, 3).build();
    const auto newBytes = FirmwareFileBuilder().version ('V', 9, 8, 7).build();

    for (const auto changes : { true, false })
    {
        SCOPED_TRACE (changes ? "changed" : "unchanged");
        const juce::TemporaryFile temporary (".bin");
        const auto file = temporary.getFile();
        ASSERT_TRUE (file.replaceWithData (oldBytes.getData(), oldBytes.getSize()));

        const ScopedBetweenReads between (file, 30, [&] { if (changes) inPlace (file, newBytes); });
        std::vector<juce::uint8> start;

        EXPECT_EQ (FirmwareFile::readFileStart (file, 32, start), ! changes);
        EXPECT_TRUE (between.ran());
        EXPECT_EQ (start, changes ? std::vector<juce::uint8>() : std::vector<juce::uint8> (oldBytes.begin(), oldBytes.begin() + 32));
    }
}

TEST (FileChangedWhileRead, BytesReadOtherThanTheFileHoldsAreRefusedThoughTheFileShowsNoChange)
{
    // As a write begun before the read gives: its times moved before the first look at them, and
    // its bytes land during the read. Here only the first read sees them: another version.
    const auto bytes = FirmwareFileBuilder().version (1, 2, 3, 4).section (0x00, FirmwareFileBuilder::pattern (300)).build();
    const auto otherVersion = [] (juce::uint8* read, ssize_t got) { if (got >= 32) read[29] = 9; };
    const juce::TemporaryFile temporary (".bin");
    const auto file = temporary.getFile();
    ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));

    {
        UpdateRoad road;
        ASSERT_TRUE (road.connect());
        const ScopedBetweenReads between (file, (size_t) (FirmwareHeader::headerSize + 5 * FirmwareHeader::entrySize), [] {}, otherVersion);

        EXPECT_FALSE (road.start (file));
        EXPECT_TRUE (between.ran());
        EXPECT_EQ (road.target.drain(), (std::vector<int> { 240, 248 }));
        const auto written = road.device.getWrittenMessages();
        EXPECT_TRUE (std::none_of (written.begin(), written.end(), isUpdateMessage));
    }

    // The version label's read of the file's start.
    const ScopedBetweenReads between (file, 32, [] {}, otherVersion);
    std::vector<juce::uint8> start;

    EXPECT_FALSE (FirmwareFile::readFileStart (file, 32, start));
    EXPECT_TRUE (between.ran());
    EXPECT_EQ (start, std::vector<juce::uint8>());
}
