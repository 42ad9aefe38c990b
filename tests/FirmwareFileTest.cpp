#include "firmware/FirmwareFile.h"
#include "tests/support/MainComponentFixture.h"
#include "tests/support/UpdateRoad.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    using Codes = std::vector<int>;
    constexpr juce::int64 limit = 64 * 1024 * 1024;
    constexpr juce::uint32 base = 136;   // payloads of a five-entry file start here

    /** Ends the process when its scope is not left in time, so that a read that blocks fails the run instead of hanging it. */
    class TimeLimit
    {
    public:
        explicit TimeLimit (int seconds)
            : watcher ([this, seconds]
              {
                  std::unique_lock<std::mutex> l (lock);

                  if (! done.wait_for (l, std::chrono::seconds (seconds), [this] { return finished; }))
                  {
                      std::fprintf (stderr, "blocked for more than %d s\n", seconds);
                      std::abort();
                  }
              })
        {}

        ~TimeLimit()   { { const std::lock_guard<std::mutex> l (lock); finished = true; } done.notify_all(); watcher.join(); }

    private:
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        std::thread watcher;
    };

    struct Entry { int type; juce::uint32 offset, length; };

    /** A full-size header with these raw entries, the others of type 0xFF, then the payload bytes. */
    juce::MemoryBlock withEntries (const std::vector<Entry>& entries, const juce::MemoryBlock& payloads = {})
    {
        juce::MemoryOutputStream out;
        out.write (FirmwareFileBuilder().version ('V', 1, 2, 3).build().getData(), FirmwareHeader::headerSize);

        for (size_t i = 0; i < 5; ++i)
        {
            const auto e = i < entries.size() ? entries[i] : Entry { 0xFF, 0, 0 };
            out.writeShort (0);
            out.writeByte (0);
            out.writeByte ((char) e.type);
            out.writeInt (0);
            out.writeInt ((int) e.offset);
            out.writeInt ((int) e.length);
        }

        out << payloads;
        return out.getMemoryBlock();
    }

    /** Temporary files of every kind, large ones sparse: their size costs no memory until they are read. */
    struct Files
    {
        Files()    { folder.createDirectory(); }
        ~Files()   { folder.deleteRecursively(); }

        juce::File write (const juce::String& name, const juce::MemoryBlock& bytes, juce::int64 sparseSize = -1) const
        {
            const auto file = folder.getChildFile (name);
            file.replaceWithData (bytes.getData(), bytes.getSize());

            if (sparseSize >= 0)
            {
                EXPECT_EQ (::truncate (file.getFullPathName().toRawUTF8(), (off_t) sparseSize), 0);
            }

            return file;
        }

        /** A compatible file of this size whose one section holds its last four bytes. */
        juce::File ofSize (juce::int64 size) const
        {
            return write ("size" + juce::String (size) + ".bin", withEntries ({ { 0x00, (juce::uint32) (size - base - 4), 4 } }), size);
        }

        /** The same with the section first: an update reads no further than that. */
        juce::File ofSizeSectionFirst (juce::int64 size) const
        {
            return write ("first" + juce::String (size) + ".bin", withEntries ({ { 0x00, 0, 4 } }, juce::MemoryBlock ("\1\2\3\4", 4)), size);
        }

        juce::File fifo() const
        {
            const auto file = folder.getChildFile ("fifo.bin");
            EXPECT_EQ (::mkfifo (file.getFullPathName().toRawUTF8(), 0600), 0);
            return file;
        }

        juce::File link (const juce::String& name, const juce::File& target) const
        {
            const auto file = folder.getChildFile (name);
            EXPECT_EQ (::symlink (target.getFullPathName().toRawUTF8(), file.getFullPathName().toRawUTF8()), 0);
            return file;
        }

        const juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("norvo-files-" + juce::Uuid().toString());
    };

    class FirmwareFileTest : public ::testing::Test, public DataListener
    {
    protected:
        void SetUp() override   { engine.senders.add (this); engine.setCommandTarget (&target); }

        void sysExMessage (int length, const juce::uint8* data, int) override   { sent.emplace_back (data, data + length); }

        Files files;
        FirmwareUpdate engine;
        UpdateCommandRecorder target;
        std::vector<std::vector<juce::uint8>> sent;
    };
}

TEST_F (FirmwareFileTest, HostileFilesAreRefusedBeforeTheyCostMemoryAndGoodOnesStillStart)
{
    const auto good = files.write ("good.bin", withEntries ({ { 0x00, 0, 4 } }, juce::MemoryBlock ("\1\2\3\4", 4)));
    const auto twoGiB = (juce::int64) 2 << 30;
    const juce::uint32 overflowing = 715827880;   // a section whose nibble list an array cannot grow to

    const std::vector<std::tuple<const char*, juce::File, bool>> rows {
        { "just below the limit", files.ofSizeSectionFirst (limit - 1), true },
        { "at the limit", files.ofSizeSectionFirst (limit), true },
        { "just above the limit", files.ofSizeSectionFirst (limit + 1), false },
        { "section in the last bytes", files.ofSize (1 << 20), true },
        { "2 GiB", files.ofSize (twoGiB), false },
        { "overflowing section inside the file", files.write ("overflow.bin", withEntries ({ { 0x00, 0, overflowing } }), base + overflowing), false },
        { "overflowing section past the end", files.write ("overflow-short.bin", withEntries ({ { 0x00, 0, overflowing } })), false },
        { "directory", files.folder, false },
        { "FIFO", files.fifo(), false },
        { "symlink to /dev/zero", files.link ("zero.bin", juce::File ("/dev/zero")), false },
        { "symlink to the FIFO", files.link ("to-fifo.bin", files.folder.getChildFile ("fifo.bin")), false },
        { "symlink to a good file", files.link ("to-good.bin", good), true },
        { "missing", files.folder.getChildFile ("missing.bin"), false },
        { "empty", files.write ("empty.bin", {}), false },
        { "31 bytes", files.write ("31.bin", withEntries ({}), 31), false },
        { "offset wrapping 32 bits", files.write ("wrap-offset.bin", withEntries ({ { 0x11, 0xFFFFFFF0, 0x20 } }), base + 0x20), false },
        { "length wrapping 32 bits", files.write ("wrap-length.bin", withEntries ({ { 0x00, 0x10, 0xFFFFFFF8 } }), base + 0x20), false },
        { "empty entry past the end", files.write ("empty-entry.bin", withEntries ({ { 0x02, 0xFFFFFFFF, 0 }, { 0x00, 0, 4 } }), base + 4), true },
    };

    for (const auto& [name, file, accepted] : rows)
    {
        SCOPED_TRACE (name);
        const TimeLimit timeLimit (10);
        EXPECT_EQ (engine.startUpdate (file, true), accepted);
        EXPECT_EQ (target.drain(), (Codes { updateStarted, accepted ? updateStarted : fileNotCompatible }));
        EXPECT_EQ (sent.size(), accepted ? 1u : 0u);
        EXPECT_TRUE (sent.empty() || sent[0] == (std::vector<juce::uint8> { 0x7E, 0x48, 0x01 }));
        EXPECT_EQ (engine.getUpdatingState(), accepted ? 0 : FirmwareUpdate::idleState);
        EXPECT_EQ (engine.getSectionNibbleCount (0), accepted ? 8 : 0);
        sent.clear();
        engine.resetUpdate();
    }
}

TEST_F (FirmwareFileTest, SizesAreCheckedInSixtyFourBitsAndTheSectionsKeptStayWithinTheLimit)
{
    const auto header = [] (const std::vector<Entry>& entries)
    {
        FirmwareHeader h;
        const auto bytes = withEntries (entries);
        juce::MemoryInputStream stream (bytes, false);
        FirmwareFile::readHeader (h, stream);
        return h;
    };

    const juce::uint32 fifth = (juce::uint32) (limit / 5 + 1);
    const std::vector<std::tuple<std::vector<Entry>, juce::int64, bool>> rows {
        { {}, base - 1, false },
        { {}, base, true },
        { {}, limit + 1, false },
        { { { 0x00, 0, 4 } }, base + 4, true },
        { { { 0x00, 1, 4 } }, base + 4, false },
        { { { 0x00, 0xFFFFFFFF, 1 } }, base + 4, false },
        { { { 0x00, 0xFFFFFFFF, 0 }, { 0x11, 0xFFFFFFFF, 0 } }, base, true },
        { { { 0x03, 0xFFFFFFFF, 0xFFFFFFFF } }, base, true },                            // no section: never read
        { { { 0x00, 0, fifth }, { 0x01, 0, fifth }, { 0x02, 0, fifth }, { 0x10, 0, fifth } }, limit, true },
        { { { 0x00, 0, fifth }, { 0x01, 0, fifth }, { 0x02, 0, fifth }, { 0x10, 0, fifth }, { 0x11, 0, fifth } }, limit, false },
        { { { 0x00, 0, fifth }, { 0x00, 0, fifth }, { 0x00, 0, fifth }, { 0x00, 0, fifth }, { 0x00, 0, fifth } }, limit, true },   // the last one is kept
    };

    for (const auto& [entries, size, inside] : rows)
        EXPECT_EQ (FirmwareFile::payloadsLieInside (header (entries), size), inside) << entries.size() << " entries, " << size << " bytes";

    // The split refuses what the limit refuses, without touching the data.
    const juce::uint8 bytes[2] = { 0xA5, 0x0F };

    for (const auto length : { limit + 1, (juce::int64) 715827880, (juce::int64) 1 << 40 })
        EXPECT_EQ (FirmwareFile::splitNibbles (bytes, length).size(), 0) << length;

    EXPECT_EQ (FirmwareFile::splitNibbles (bytes, 2), (juce::Array<juce::uint8> { 0x0A, 0x05, 0x00, 0x0F }));
}

TEST (FirmwareFileRoad, AnEmptyEntryPointingPastTheEndStillLetsTheUpdateComplete)
{
    const auto payload = FirmwareFileBuilder::pattern (9);
    Files files;
    const auto file = files.write ("empty-entry.bin", withEntries ({ { 0x01, 0xFFFFFFFF, 0 }, { 0x10, 0, 9 }, { 0x11, 0x7FFFFFFF, 0 } }, payload));

    UpdateRoad road;
    ASSERT_TRUE (road.connect());
    ASSERT_TRUE (road.start (file));
    ASSERT_TRUE (road.waitFor (updateFinished));
    EXPECT_TRUE (road.peer.getErrors().isEmpty()) << road.peer.getErrors().joinIntoString ("\n");
    const auto sections = road.peer.getSections();
    ASSERT_EQ (sections.size(), 1u);
    EXPECT_EQ (sections[0].data, payload);
}

using FirmwareFilePages = MainComponentFixture;

TEST_F (FirmwareFilePages, ARefusedFileAlertsAndGoesBackWithoutAByteToTheDeviceAndItsVersionIsNotShown)
{
    Files files;
    const auto good = files.write ("good.bin", withEntries ({ { 0x00, 0, 4 } }, juce::MemoryBlock ("\1\2\3\4", 4)));
    auto& page = main->getConnectedView();
    connect();
    answer (2);   // a device in update mode: the file choice
    ASSERT_TRUE (isOnlyPageShown (page) && page.startButton.isVisible());

    // A file too large still shows its version; what is not a regular file is never opened.
    const std::vector<std::tuple<juce::File, const char*>> rows {
        { files.ofSize (limit + 1), "V 1.2.3" }, { files.fifo(), "" }, { files.link ("zero.bin", juce::File ("/dev/zero")), "" },
        { files.folder, "" }, { good, "V 1.2.3" },
    };

    for (const auto& [file, version] : rows)
    {
        SCOPED_TRACE (file.getFileName());
        const TimeLimit timeLimit (10);
        const bool isGood = file == good;
        page.fileChosen (good);
        page.versionLabel.setText ("before", juce::dontSendNotification);
        page.fileChosen (file);
        EXPECT_EQ (page.versionLabel.getText(), file.isDirectory() ? "before" : version);   // a folder is not taken at all
        page.pathBox.setText (file.getFullPathName(), juce::dontSendNotification);
        takeWritten();

        page.startButton.triggerClick();

        if (isGood)
        {
            EXPECT_TRUE (pumpMessagesUntil ([this] { return ! device.getWrittenMessages().empty(); }));
            EXPECT_EQ (takeWritten(), (std::vector<std::vector<juce::uint8>> { { 0xF0, 0x7E, 0x48, 0x01, 0xF7 } }));
            EXPECT_TRUE (isOnlyPageShown (main->getUpdateView()));
            break;
        }

        const auto* alert = waitForAlertWindow();
        ASSERT_NE (alert, nullptr);
        EXPECT_EQ (getAlertMessage (*alert), "The firmware file is not compatible with your device. ");
        EXPECT_TRUE (isOnlyPageShown (page) && ! main->getUpdateView().isVisible());
        settle();
        EXPECT_TRUE (takeWritten().empty());
        dismissAllAlerts();
    }
}
