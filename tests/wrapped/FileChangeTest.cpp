#include "firmware/FirmwareFile.h"
#include "tests/support/TimeLimit.h"
#include "tests/support/UpdateRoad.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdarg>
#include <limits>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" ssize_t __real_read (int descriptor, void* buffer, size_t count);
extern "C" ssize_t __real_pread (int descriptor, void* buffer, size_t count, off_t offset);
extern "C" int __real_fcntl (int descriptor, int command, ...);

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
    std::atomic<int> descriptorInRead { -1 };   // the descriptor whose read runs the action

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

    descriptorInRead = descriptor;
    taken->action();
    ++hookRuns;
    return got;
}

namespace
{
    struct FileIdentity
    {
        dev_t device = 0;
        ino_t inode = 0;

        bool isOpenAs (int descriptor) const
        {
            struct stat info {};
            return ::fstat (descriptor, &info) == 0 && info.st_dev == device && info.st_ino == inode;
        }
    };

    FileIdentity identityOf (const juce::File& file)
    {
        struct stat info {};
        EXPECT_EQ (::stat (file.getFullPathName().toRawUTF8(), &info), 0);
        return { info.st_dev, info.st_ino };
    }

    std::atomic<int> leaseRefusal { 0 };   // the error a read lease asked for gets; 0: the kernel answers
    std::atomic<int> refusalsLeft { 0 };   // how many asks get it
    std::atomic<int> leasesAsked { 0 };

    std::mutex interruptedLock;
    std::optional<FileIdentity> interrupted;   // the next pread of this file fails with EINTR
}

extern "C" int __wrap_fcntl (int descriptor, int command, ...)
{
    // As the C library reads it: one argument, a pointer or an int, or none.
    va_list arguments;
    va_start (arguments, command);
    auto* const argument = va_arg (arguments, void*);
    va_end (arguments);

    if (command == F_SETLEASE && (int) reinterpret_cast<intptr_t> (argument) == F_RDLCK)
    {
        ++leasesAsked;

        if (const auto refusal = leaseRefusal.load(); refusal != 0 && refusalsLeft-- > 0)
        {
            errno = refusal;
            return -1;
        }
    }

    return __real_fcntl (descriptor, command, argument);
}

extern "C" ssize_t __wrap_pread (int descriptor, void* buffer, size_t count, off_t offset)
{
    {
        const std::lock_guard<std::mutex> guard (interruptedLock);

        if (interrupted.has_value() && interrupted->isOpenAs (descriptor))
        {
            interrupted.reset();
            errno = EINTR;
            return -1;
        }
    }

    return __real_pread (descriptor, buffer, count, offset);
}

namespace
{
    /** Read leases asked for are refused with this error (every one, or the first `count`) for the
        life of the object, as on a file system without leases (EINVAL), for a file of another owner
        (EACCES) or while a writer holds the file (EAGAIN).
    */
    struct ScopedLeaseRefused
    {
        explicit ScopedLeaseRefused (int error, int count = std::numeric_limits<int>::max())
            : asksBefore (leasesAsked.load())
        {
            refusalsLeft = count;
            leaseRefusal = error;
        }

        ~ScopedLeaseRefused()       { leaseRefusal = 0; }

        bool leaseAsked() const     { return leasesAsked.load() > asksBefore; }

        const int asksBefore;
    };

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

// Where no read lease can be had, nothing holds a writer back: the file's times and a second read
// must show every change.
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

    for (const auto refusal : { EINVAL, EACCES })
    for (const auto& row : rows)
    {
        SCOPED_TRACE (juce::String (row.name) + (refusal == EINVAL ? ", on a file system without leases" : ", a file of another owner"));
        const juce::TemporaryFile temporary (".bin");
        const auto file = temporary.getFile();
        ASSERT_TRUE (file.replaceWithData (oldBytes.getData(), oldBytes.getSize()));

        const ScopedLeaseRefused noLease (refusal);
        UpdateRoad road;
        ASSERT_TRUE (road.connect());
        const ScopedBetweenReads between (file, (size_t) (FirmwareHeader::headerSize + 5 * FirmwareHeader::entrySize),
                                          [&] { row.rewrite (file, newBytes); });

        EXPECT_EQ (road.start (file), row.accepted);
        EXPECT_TRUE (between.ran());
        EXPECT_TRUE (noLease.leaseAsked());

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

        const ScopedLeaseRefused noLease (EINVAL);
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

//==============================================================================
namespace
{
    constexpr size_t updateFirstRead = (size_t) (FirmwareHeader::headerSize + 5 * FirmwareHeader::entrySize);

    /** What the process does with the signal a broken lease may send. */
    std::vector<std::uintptr_t> leaseSignalDispositions()
    {
        std::vector<std::uintptr_t> handlers;

        for (const auto signalNumber : { SIGIO, SIGURG })
        {
            struct sigaction action {};
            ::sigaction (signalNumber, nullptr, &action);
            handlers.push_back (reinterpret_cast<std::uintptr_t> (action.sa_handler));
        }

        return handlers;
    }

    /** Starts an update of the file on a road of its own, or reads its start as the version label does,
        and tells whether the bytes read are those given.
    */
    bool readsAs (bool update, const juce::File& file, const juce::MemoryBlock& bytes, const juce::MemoryBlock& payload)
    {
        if (update)
        {
            UpdateRoad road;
            const auto sections = road.connect() && road.start (file) && road.waitFor (updateFinished) ? road.peer.getSections() : decltype (road.peer.getSections()) {};
            return sections.size() == 1 && sections[0].data == payload;
        }

        std::vector<juce::uint8> start;
        return FirmwareFile::readFileStart (file, 32, start)
                && start == std::vector<juce::uint8> (bytes.begin(), bytes.begin() + 32);
    }
}

TEST (ReadLease, AFileHeldOpenForWritingOrMappedSharedAndWritableIsRefusedUntilItIsLetGo)
{
    // However still such a writer holds, it may be midway through the file: nothing of it is sent.
    const auto payload = FirmwareFileBuilder::pattern (300);
    const auto bytes = FirmwareFileBuilder().version (1, 2, 3, 4).section (0x00, payload).build();

    for (const auto mapped : { false, true })
    {
        SCOPED_TRACE (mapped ? "mapped shared and writable, its descriptor closed" : "held open for writing");
        const juce::TemporaryFile temporary (".bin");
        const auto file = temporary.getFile();
        ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));

        auto writer = ::open (file.getFullPathName().toRawUTF8(), O_RDWR);
        ASSERT_GE (writer, 0);
        void* mapping = nullptr;

        if (mapped)
        {
            mapping = ::mmap (nullptr, bytes.getSize(), PROT_READ | PROT_WRITE, MAP_SHARED, writer, 0);
            ASSERT_NE (mapping, MAP_FAILED);
            ::close (std::exchange (writer, -1));
        }

        {
            UpdateRoad road;
            ASSERT_TRUE (road.connect());
            EXPECT_FALSE (road.start (file));
            EXPECT_EQ (road.target.drain(), (std::vector<int> { updateStarted, fileNotCompatible }));
            const auto written = road.device.getWrittenMessages();
            EXPECT_TRUE (std::none_of (written.begin(), written.end(), isUpdateMessage));

            std::vector<juce::uint8> start;
            EXPECT_FALSE (FirmwareFile::readFileStart (file, 32, start));
            EXPECT_TRUE (start.empty());
        }

        if (mapped)
            ::munmap (mapping, bytes.getSize());
        else
            ::close (writer);

        EXPECT_TRUE (readsAs (true, file, bytes, payload));
        EXPECT_TRUE (readsAs (false, file, bytes, payload));
    }
}

TEST (ReadLease, AHoldForWritingThatEndsWithinMillisecondsIsWaitedOut)
{
    const auto payload = FirmwareFileBuilder::pattern (300);
    const auto bytes = FirmwareFileBuilder().version (1, 2, 3, 4).section (0x00, payload).build();
    const juce::TemporaryFile temporary (".bin");
    const auto file = temporary.getFile();
    ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));

    for (const auto update : { true, false })
    {
        SCOPED_TRACE (update ? "the update's read" : "the version label's read");
        // Asked six times in all, 31 ms apart from first to last.
        const auto startMs = juce::Time::getMillisecondCounterHiRes();
        const ScopedLeaseRefused writerGoing (EAGAIN, 5);
        EXPECT_TRUE (readsAs (update, file, bytes, payload));

        const ScopedLeaseRefused writerStaying (EAGAIN, 6);
        EXPECT_FALSE (readsAs (update, file, bytes, payload));
        EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - startMs, 500.0);
    }
}

TEST (ReadLease, AWriterThatOpensTheFileDuringTheReadWaitsUntilItHasEndedAndTheFileAsItWasIsKept)
{
    const auto oldPayload = FirmwareFileBuilder::pattern (300, 1);
    const auto oldBytes = FirmwareFileBuilder().version (1, 2, 3, 4).section (0x00, oldPayload).build();
    const auto newBytes = FirmwareFileBuilder().version (9, 8, 7, 6).section (0x00, FirmwareFileBuilder::pattern (300, 2)).build();
    const auto dispositionsBefore = leaseSignalDispositions();

    for (const auto update : { true, false })
    {
        SCOPED_TRACE (update ? "the update's read" : "the version label's read");
        const juce::TemporaryFile temporary (".bin");
        const auto file = temporary.getFile();
        ASSERT_TRUE (file.replaceWithData (oldBytes.getData(), oldBytes.getSize()));

        std::atomic<bool> writerOpened { false };
        bool openedDuringRead = false;
        std::thread writer;

        // In the middle of the read another program opens the file for writing and writes it anew. Its
        // open waits for the lease, which the kernel then marks as breaking; without a lease it returns.
        const auto openWriter = [&]
        {
            writer = std::thread ([&]
            {
                const auto descriptor = ::open (file.getFullPathName().toRawUTF8(), O_WRONLY);
                writerOpened = true;
                writeAll (descriptor, newBytes);
            });

            for (int ms = 0; ms < 2000 && ! writerOpened && __real_fcntl (descriptorInRead.load(), F_GETLEASE) == F_RDLCK; ++ms)
                std::this_thread::sleep_for (std::chrono::milliseconds (1));

            std::this_thread::sleep_for (std::chrono::milliseconds (20));
            openedDuringRead = writerOpened;
        };

        runWithinSeconds (10, "a read that a writer waits for", [&]
        {
            const ScopedBetweenReads between (file, update ? updateFirstRead : 16, openWriter);
            EXPECT_TRUE (readsAs (update, file, oldBytes, oldPayload));
            EXPECT_TRUE (between.ran());
            writer.join();
        });

        EXPECT_FALSE (openedDuringRead);
        juce::MemoryBlock now;
        EXPECT_TRUE (file.loadFileAsData (now) && now == newBytes);
    }

    EXPECT_EQ (leaseSignalDispositions(), dispositionsBefore);
}

TEST (SecondRead, AFileCutShortBetweenTheTwoReadsIsRefusedAtOnce)
{
    // Without a lease nothing holds a truncation back; the second read then meets the end early.
    const auto bytes = FirmwareFileBuilder().version (1, 2, 3, 4).section (0x00, FirmwareFileBuilder::pattern (300)).build();
    const ScopedLeaseRefused noLease (EINVAL);

    for (const auto update : { true, false })
    {
        SCOPED_TRACE (update ? "the update's read" : "the version label's read");
        const juce::TemporaryFile temporary (".bin");
        const auto file = temporary.getFile();
        ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
        const auto cut = [&] { EXPECT_EQ (::truncate (file.getFullPathName().toRawUTF8(), 20), 0); };

        runWithinSeconds (5, "the read of a file cut short", [&]
        {
            const ScopedBetweenReads between (file, update ? updateFirstRead : 32, cut);
            EXPECT_FALSE (readsAs (update, file, bytes, {}));
            EXPECT_TRUE (between.ran());
        });
    }
}

TEST (SecondRead, ASecondReadInterruptedByASignalIsRetried)
{
    const auto payload = FirmwareFileBuilder::pattern (300);
    const auto bytes = FirmwareFileBuilder().version (1, 2, 3, 4).section (0x00, payload).build();

    for (const auto update : { true, false })
    {
        SCOPED_TRACE (update ? "the update's read" : "the version label's read");
        const juce::TemporaryFile temporary (".bin");
        const auto file = temporary.getFile();
        ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));

        {
            const std::lock_guard<std::mutex> guard (interruptedLock);
            interrupted = identityOf (file);
        }

        EXPECT_TRUE (readsAs (update, file, bytes, payload));

        const std::lock_guard<std::mutex> guard (interruptedLock);
        EXPECT_FALSE (interrupted.has_value()) << "the second read never came";
        interrupted.reset();
    }
}
