#include "firmware/FirmwareFile.h"
#include "tests/support/MainComponentFixture.h"
#include "tests/support/TimeLimit.h"
#include "tests/support/UpdateRoad.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace
{
    using Codes = std::vector<int>;
    using Messages = std::vector<std::vector<juce::uint8>>;
    constexpr juce::int64 limit = 64 * 1024 * 1024;
    constexpr juce::uint32 base = 136;   // payloads of a five-entry file start here

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

        /** A compatible file of this size whose one section holds its last four bytes, or its first four:
            an update reads no further than its sections. */
        juce::File ofSize (juce::int64 size, bool sectionFirst = false) const
        {
            const auto bytes = sectionFirst ? withEntries ({ { 0x00, 0, 4 } }, juce::MemoryBlock ("\1\2\3\4", 4))
                                            : withEntries ({ { 0x00, (juce::uint32) (size - base - 4), 4 } });
            return write ((sectionFirst ? "first" : "size") + juce::String (size) + ".bin", bytes, size);
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
        Messages sent;
    };
}

TEST_F (FirmwareFileTest, RefusedFilesPostStartedThenNotCompatibleBeforeTheyCostMemoryAndGoodOnesStart)
{
    const auto good = files.write ("good.bin", withEntries ({ { 0x00, 0, 4 } }, juce::MemoryBlock ("\1\2\3\4", 4)));
    const auto built = FirmwareFileBuilder().section (0x00, juce::MemoryBlock ("\1\2", 2)).build();
    const auto header = [this] (const char* name, const FirmwareFileBuilder& builder) { return files.write (name, builder.build()); };
    const auto twoGiB = (juce::int64) 2 << 30;
    const juce::uint32 overflowing = 715827880;   // a section whose nibble list an array cannot grow to

    struct Row { const char* name; juce::File file; bool fullSize, accepted; };
    const Row rows[] {
        { "full-size file on a Mini", files.write ("full.bin", built), false, false },
        { "MZ-9", header ("mz-9.bin", FirmwareFileBuilder().model ("MZ-9")), true, false },
        { "MZ-700", header ("mz-700.bin", FirmwareFileBuilder().model ("MZ-700")), true, false },
        { "MZ-90 on a Mini", header ("mz-90.bin", FirmwareFileBuilder().model ("MZ-90")), false, false },
        { "magic RKFW", header ("rkfw.bin", FirmwareFileBuilder().headerByte (0, 'R').headerByte (1, 'K')), true, false },
        { "MZ-9 with a byte after the name, on a Mini", header ("mz-9-byte.bin", FirmwareFileBuilder().model ("MZ-9").headerByte (20, 1)), false, false },
        { "last model byte set", header ("model-byte.bin", FirmwareFileBuilder().headerByte (27, 1)), true, false },
        { "table cut", files.write ("cut-table.bin", { built.getData(), 135 }), true, false },
        { "payload cut", files.write ("cut-payload.bin", { built.getData(), 137 }), true, false },
        { "just below the limit", files.ofSize (limit - 1, true), true, true },
        { "at the limit", files.ofSize (limit, true), true, true },
        { "at the limit, its section ending at its last byte", files.ofSize (limit), true, true },
        { "just above the limit", files.ofSize (limit + 1, true), true, false },
        { "section in the last bytes", files.ofSize (1 << 20), true, true },
        { "2 GiB", files.ofSize (twoGiB), true, false },
        { "overflowing section inside the file", files.write ("overflow.bin", withEntries ({ { 0x00, 0, overflowing } }), base + overflowing), true, false },
        { "overflowing section past the end", files.write ("overflow-short.bin", withEntries ({ { 0x00, 0, overflowing } })), true, false },
        { "directory", files.folder, true, false },
        { "directory on a Mini", files.folder, false, false },
        { "FIFO", files.fifo(), true, false },
        { "symlink to /dev/zero", files.link ("zero.bin", juce::File ("/dev/zero")), true, false },
        { "symlink to the FIFO", files.link ("to-fifo.bin", files.folder.getChildFile ("fifo.bin")), true, false },
        { "symlink to a good file", files.link ("to-good.bin", good), true, true },
        { "missing", files.folder.getChildFile ("missing.bin"), true, false },
        { "missing on a Mini", files.folder.getChildFile ("missing.bin"), false, false },
        { "empty", files.write ("empty.bin", {}), true, false },
        { "31 bytes", files.write ("31.bin", withEntries ({}), 31), true, false },
        { "offset wrapping 32 bits", files.write ("wrap-offset.bin", withEntries ({ { 0x11, 0xFFFFFFF0, 0x20 } }), base + 0x20), true, false },
        { "length wrapping 32 bits", files.write ("wrap-length.bin", withEntries ({ { 0x00, 0x10, 0xFFFFFFF8 } }), base + 0x20), true, false },
        { "empty entry past the end", files.write ("empty-entry.bin", withEntries ({ { 0x02, 0xFFFFFFFF, 0 }, { 0x00, 0, 4 } }), base + 4), true, true },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);

        // Refused rows follow each other without a reset: a refusal leaves nothing behind.
        runWithinSeconds (10, row.name, [&]
        {
            EXPECT_EQ (engine.startUpdate (row.file, row.fullSize), row.accepted);
            EXPECT_EQ (target.drain(), (Codes { updateStarted, row.accepted ? updateStarted : fileNotCompatible }));
            EXPECT_EQ (std::exchange (sent, {}), (row.accepted ? Messages { { 0x7E, 0x48, 0x01 } } : Messages {}));
            EXPECT_EQ (engine.getUpdatingState(), row.accepted ? 0 : FirmwareUpdate::idleState);
            EXPECT_EQ (engine.getReplyTimeout(), row.accepted ? 15000 : 0);
            EXPECT_EQ (engine.getSectionNibbleCount (0), row.accepted ? 8 : 0);

            if (row.accepted)
                engine.resetUpdate();
        });
    }
}

TEST_F (FirmwareFileTest, SizesAreCheckedInSixtyFourBitsAndTheSectionsKeptStayWithinTheLimit)
{
    const auto header = [] (const std::vector<Entry>& entries)
    {
        FirmwareHeader h;
        juce::MemoryInputStream stream (withEntries (entries), true);
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

/** Runs a whole update of the file on the virtual device: the sections it received. */
static std::vector<VirtualUpdatePeer::Section> sectionsSentOf (const juce::File& file)
{
    UpdateRoad road;

    if (! road.connect() || ! road.start (file) || ! road.waitFor (updateFinished))
    {
        ADD_FAILURE() << "the update of " << file.getFileName() << " did not run to its end";
        return {};
    }

    EXPECT_TRUE (road.peer.getErrors().isEmpty()) << road.peer.getErrors().joinIntoString ("\n");
    return road.peer.getSections();
}

TEST (FirmwareFileRoad, EmptyEntriesAreNotSentWhereverTheyPointAndALaterOneEmptiesItsSection)
{
    Files files;

    {
        SCOPED_TRACE ("empty entries pointing past the end");
        const auto payload = FirmwareFileBuilder::pattern (9);
        const auto sections = sectionsSentOf (files.write ("empty-entry.bin", withEntries ({ { 0x01, 0xFFFFFFFF, 0 }, { 0x10, 0, 9 }, { 0x11, 0x7FFFFFFF, 0 } }, payload)));
        ASSERT_EQ (sections.size(), 1u);
        EXPECT_EQ (sections[0].data, payload);
    }

    {
        SCOPED_TRACE ("a section named again by a later empty entry");
        const auto dropped = FirmwareFileBuilder::pattern (8, 1), kept = FirmwareFileBuilder::pattern (4, 2);
        juce::MemoryBlock payloads (dropped);
        payloads.append (kept.getData(), kept.getSize());
        const auto sections = sectionsSentOf (files.write ("named-twice.bin", withEntries ({ { 0x01, 0, 8 }, { 0x10, 8, 4 }, { 0x01, 0, 0 } }, payloads)));
        ASSERT_EQ (sections.size(), 1u);
        EXPECT_EQ (sections[0].data, kept);
    }
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

    // The link asks for the device state a second after connecting, in two frames 200 ms apart;
    // neither may fall among the checks below.
    ASSERT_TRUE (pumpMessagesUntil ([this] { return device.getWrittenMessages().size() >= 2; }, 3000));

    // A file too large still shows its version; what is not a regular file is never opened, and a folder not taken at all.
    const std::pair<juce::File, const char*> rows[] {
        { files.ofSize (limit + 1), "V 1.2.3" }, { files.fifo(), "" }, { files.link ("zero.bin", juce::File ("/dev/zero")), "" },
        { files.folder, "before" }, { good, "V 1.2.3" },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.first.getFileName());
        runWithinSeconds (10, "choosing and starting a file", [&]
        {
            page.fileChosen (good);
            page.versionLabel.setText ("before", juce::dontSendNotification);
            page.fileChosen (row.first);
            EXPECT_EQ (page.versionLabel.getText(), juce::String (row.second));
            page.pathBox.setText (row.first.getFullPathName(), juce::dontSendNotification);
            takeWritten();
            page.startButton.triggerClick();

            if (row.first == good)
            {
                EXPECT_TRUE (pumpMessagesUntil ([this] { return ! device.getWrittenMessages().empty(); }));
                EXPECT_EQ (takeWritten(), (std::vector<std::vector<juce::uint8>> { { 0xF0, 0x7E, 0x48, 0x01, 0xF7 } }));
                EXPECT_TRUE (isOnlyPageShown (main->getUpdateView()));
                return;
            }

            const auto* alert = waitForAlertWindow();
            ASSERT_NE (alert, nullptr);
            EXPECT_EQ (getAlertMessage (*alert), "The firmware file is not compatible with your device. ");
            EXPECT_TRUE (isOnlyPageShown (page) && ! main->getUpdateView().isVisible());
            settle();
            EXPECT_TRUE (takeWritten().empty());
            dismissAllAlerts();
        });
    }
}

TEST_F (FirmwareFilePages, InChineseTheRefusedFileAlertComesFromTheChineseTable)
{
    env.set ("LANGUAGE", "zh_CN");
    rebuild();
    Files files;
    auto& page = main->getConnectedView();
    connect();
    answer (2);

    page.fileChosen (files.write ("mz-80.bin", FirmwareFileBuilder().model ("MZ-80").build()));
    page.startButton.triggerClick();

    const auto* alert = waitForAlertWindow();
    ASSERT_NE (alert, nullptr);
    EXPECT_EQ (getAlertMessage (*alert), juce::String::fromUTF8 ("此固件文件与您的设备不匹配。"));
    EXPECT_TRUE (isOnlyPageShown (page));
}
