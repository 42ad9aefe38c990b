#include "firmware/FirmwareUpdate.h"
#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/UpdateCommandRecorder.h"

#include <gtest/gtest.h>

namespace
{
    using Bytes = std::vector<juce::uint8>;
    using Codes = std::vector<int>;

    struct RecordingSender : public DataListener
    {
        void sysExMessage (int length, const juce::uint8* data, int direction) override
        {
            EXPECT_EQ (direction, 1);
            sent.emplace_back (data, data + length);
        }

        std::vector<Bytes> sent;
    };

    Bytes reply (int command, int status)   { return { 0xF0, 0x7E, 0x48, (juce::uint8) command, (juce::uint8) status, 0xF7 }; }

    Bytes startReply (int blockSize, int length = 39)
    {
        Bytes bytes ((size_t) length, 0x11);
        bytes[0] = 0xF0; bytes[1] = 0x7E; bytes[2] = 0x48; bytes[3] = 0x01;
        bytes[36] = (juce::uint8) (blockSize >> 4);
        bytes[37] = (juce::uint8) (blockSize & 0x0F);
        bytes.back() = 0xF7;
        return bytes;
    }

    const Bytes metadataMessage { 0x7E, 0x48, 0x09 };
}

//==============================================================================
class FirmwareUpdateEngine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        engine.senders.add (&sender);
        engine.setCommandTarget (&target);
    }

    bool start (const FirmwareFileBuilder& builder, bool fullSize = true)
    {
        file = builder.writeTemporary();
        return engine.startUpdate (file->getFile(), fullSize);
    }

    std::vector<Bytes> sent()                       { return std::exchange (sender.sent, {}); }
    void send (const Bytes& bytes)                  { engine.deviceReply ((int) bytes.size(), bytes.data()); }
    void expire()                                   { engine.timerCallback (FirmwareUpdate::replyTimerId); }

    void accept (std::initializer_list<int> commands)
    {
        for (auto command : commands)
            send (reply (command, 0x7F));
    }

    /** One section 0x00 of four bytes in blocks of two, START answered: waits in state 1. */
    void runToSelect()
    {
        ASSERT_TRUE (start (FirmwareFileBuilder().section (0x00, juce::MemoryBlock ("\1\2\3\4", 4))));
        send (startReply (2));
        ASSERT_EQ (engine.getUpdatingState(), 1);
        sent();
        target.drain();
    }

    /** Answers the last message of each step as a consistent device does, up to the metadata message. */
    std::vector<Bytes> runAccepting (int blockSize)
    {
        auto all = sent();
        send (startReply (blockSize));

        for (auto step = sent(); ! step.empty(); step = sent())
        {
            all.insert (all.end(), step.begin(), step.end());

            if (step.back() != metadataMessage)
                accept ({ step.back()[2] });
        }

        return all;
    }

    RecordingSender sender;     // outlives the engine, as the hub does
    FirmwareUpdate engine;
    UpdateCommandRecorder target;
    std::unique_ptr<juce::TemporaryFile> file;
};

//==============================================================================
TEST_F (FirmwareUpdateEngine, RefusedFilesPostStartedThenNotCompatibleAndSendNothing)
{
    auto expectRefused = [this] (const juce::File& f, bool fullSize)
    {
        EXPECT_FALSE (engine.startUpdate (f, fullSize));
        EXPECT_EQ (target.drain(), (Codes { updateStarted, fileNotCompatible }));
        EXPECT_TRUE (sent().empty());
        EXPECT_EQ (engine.getUpdatingState(), FirmwareUpdate::idleState);
        EXPECT_EQ (engine.getReplyTimeout(), 0);
    };

    const auto full = FirmwareFileBuilder().section (0x00, juce::MemoryBlock ("\1\2", 2)).build();

    struct Case { const char* what; juce::MemoryBlock bytes; bool fullSize; };
    const Case cases[] = {
        { "other model", full, false },
        { "table cut", juce::MemoryBlock (full.getData(), 135), true },
        { "payload cut", juce::MemoryBlock (full.getData(), 137), true },
        { "payload past the end", FirmwareFileBuilder().rawEntry (0x10, 0, 1).build(), true },
        { "empty", {}, true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        juce::TemporaryFile temp (".bin");
        temp.getFile().replaceWithData (c.bytes.getData(), c.bytes.getSize());
        expectRefused (temp.getFile(), c.fullSize);
    }

    // Exists but cannot be read, and does not exist.
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory);
    expectRefused (folder, true);
    expectRefused (folder.getNonexistentChildFile ("absent", ".bin"), true);
}

TEST_F (FirmwareUpdateEngine, WholeDialogueByteForByte)
{
    // Each entry of a section gets its own header, the later payload is the one sent,
    // an unknown type is skipped, and the first select names the empty section 0x00.
    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x01, juce::MemoryBlock ("\x99\x99\x99\x99\x99", 5))
                                             .section (0x03, juce::MemoryBlock ("\x77", 1))
                                             .section (0x01, juce::MemoryBlock ("\x12\x34\x56", 3))
                                             .section (0x11, juce::MemoryBlock ("\xAB", 1))));
    EXPECT_EQ (target.drain(), (Codes { updateStarted, updateStarted }));
    EXPECT_EQ (engine.getReplyTimeout(), FirmwareUpdate::startTimeoutMs);

    const std::vector<Bytes> expected {
        { 0x7E, 0x48, 0x01 },
        { 0x7E, 0x48, 0x0B, 0x01, 1, 2, 3, 4 },
        { 0x7E, 0x48, 0x7F, 0x00 },
        { 0x7E, 0x48, 0x02, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 2 },    // one header per entry
        { 0x7E, 0x48, 0x02, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 2 },
        { 0x7E, 0x48, 0x04, 0x00, 0x1, 0x2, 0x3, 0x4, 0x0, 0xA },
        { 0x7E, 0x48, 0x04, 0x01, 0x5, 0x6, 0xF, 0xF, 0x2, 0x9 },   // padding counts in the checksum
        { 0x7E, 0x48, 0x05, 0x7B },
        { 0x7E, 0x48, 0x7F, 0x02 },
        { 0x7E, 0x48, 0x02, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1 },    // twice for 0x11
        { 0x7E, 0x48, 0x02, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1 },
        { 0x7E, 0x48, 0x04, 0x00, 0xA, 0xB, 0xF, 0xF, 0x3, 0x3 },
        { 0x7E, 0x48, 0x05, 0x7B },
        { 0x7E, 0x48, 0x07 },
        metadataMessage,
    };

    testing::internal::CaptureStdout();
    EXPECT_EQ (runAccepting (2), expected);
    std::fflush (stdout);
    EXPECT_NE (testing::internal::GetCapturedStdout().find ("updatingState:5\n发送元数据:7e  48  09  \n"), std::string::npos);
    EXPECT_EQ (target.drain(), (Codes { 241, 241, 241, 241, 241, updateFinished }));
    EXPECT_EQ (engine.getUpdatingState(), 7);
    EXPECT_EQ (engine.totalBlocks.load(), 3);
    EXPECT_EQ (engine.blocksDone.load(), 3u);
    EXPECT_EQ (engine.getReplyTimeout(), 0);
}

TEST_F (FirmwareUpdateEngine, ShortAndOddRepliesAreHandledSafely)
{
    // An empty first reply fails; a longer one with any command byte is still the START reply.
    ASSERT_TRUE (start (FirmwareFileBuilder()));
    send ({});
    EXPECT_EQ (target.drain(), (Codes { 240, 240, updateFailed }));

    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x00, juce::MemoryBlock (3, true))));
    auto longer = startReply (0xFF, 45);
    longer[3] = 0x55;
    send (longer);
    EXPECT_EQ (engine.getBlockSize(), 255);
    EXPECT_EQ (engine.totalBlocks.load(), 1);

    // Too short to carry a status: a select counts as refused.
    runToSelect();
    send ({ 0xF0, 0x7E, 0x48, 0xF7 });
    EXPECT_EQ (target.drain(), (Codes { updateFailed }));
    EXPECT_EQ (engine.getUpdatingState(), FirmwareUpdate::idleState);
    EXPECT_TRUE (sent().empty());

    // Any status but 7E accepts a select; only 7F accepts a header.
    runToSelect();
    send (reply (0x7F, 0x00));
    EXPECT_EQ (engine.getUpdatingState(), 2);
    send (reply (0x02, 0x00));
    EXPECT_EQ (target.drain(), (Codes { sectionRefused }));

    // Only exactly the five bytes F0 7E 48 06 F7 abort.
    send ({ 0xF0, 0x7E, 0x48, 0x06, 0x7F, 0xF7 });
    EXPECT_EQ (engine.getUpdatingState(), 3);
    send ({ 0xF0, 0x7E, 0x48, 0x06, 0xF7 });
    EXPECT_EQ (engine.getUpdatingState(), FirmwareUpdate::idleState);
}

TEST_F (FirmwareUpdateEngine, WhileWaitingForTheEndCommandThreeIsIgnoredAndTheRestFails)
{
    auto runToEnd = [this]
    {
        runToSelect();
        accept ({ 0x7F, 0x02, 0x04, 0x04, 0x05, 0x7F, 0x05 });
        ASSERT_EQ (engine.getUpdatingState(), 5);
        sent();
        target.drain();
    };

    runToEnd();
    send (reply (0x03, 0x7E));
    EXPECT_EQ (engine.getUpdatingState(), 5);
    send ({ 0xF0, 0x7E, 0xF7 });
    EXPECT_EQ (target.drain(), (Codes { updateFailed }));

    runToEnd();
    send ({ 0xF0, 0x7E, 0x48, 0x07, 0xF7 });
    EXPECT_EQ (sent(), (std::vector<Bytes> { metadataMessage }));
    EXPECT_EQ (engine.getReplyTimeout(), 0);

    // Every later reply says finished again and starts the time-out once more.
    accept ({ 0x09 });
    EXPECT_EQ (target.drain(), (Codes { updateFinished, updateFinished }));
    EXPECT_EQ (engine.getReplyTimeout(), FirmwareUpdate::replyTimeoutMs);
}

TEST_F (FirmwareUpdateEngine, AReplyResetsTheCountOfSilentTimeouts)
{
    runToSelect();

    for (int i = 0; i < 3; ++i)
        expire();

    accept ({ 0x7F });

    for (int i = 0; i < 3; ++i)
        expire();

    EXPECT_TRUE (target.drain().empty());
    EXPECT_EQ (engine.getUpdatingState(), 2);
}

TEST_F (FirmwareUpdateEngine, IdleEngineOnlyRetimesAndIgnoresOtherTimers)
{
    testing::internal::CaptureStdout();
    accept ({ 0x04 });
    std::fflush (stdout);
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "updatingState:8\n");
    EXPECT_EQ (engine.getReplyTimeout(), FirmwareUpdate::replyTimeoutMs);

    for (int i = 0; i < 5; ++i)
        expire();

    EXPECT_TRUE (target.drain().empty());
    EXPECT_TRUE (sent().empty());

    runToSelect();
    engine.timerCallback (1);
    engine.timerCallback (3);
    EXPECT_EQ (engine.getReplyRetries(), 0);
}

TEST_F (FirmwareUpdateEngine, ResetAndRestartKeepTheProgressCountersAndHeader)
{
    runToSelect();
    accept ({ 0x7F, 0x02, 0x04 });
    ASSERT_EQ (engine.blocksDone.load(), 1u);
    target.drain();

    engine.resetUpdate();
    EXPECT_EQ (engine.blocksDone.load(), 1u);
    EXPECT_EQ (engine.totalBlocks.load(), 2);
    EXPECT_EQ (engine.getHeader().sections[0].length, 4u);
    EXPECT_EQ (engine.getSectionNibbleCount (0), 0);
    EXPECT_EQ (engine.getCurrentSection(), 0);
    EXPECT_TRUE (target.drain().empty());

    // Starting over a running update resets it without a word.
    runToSelect();
    accept ({ 0x7F });
    expire();
    ASSERT_TRUE (start (FirmwareFileBuilder()));
    EXPECT_EQ (target.drain(), (Codes { updateStarted, updateStarted }));
    EXPECT_EQ (engine.getUpdatingState(), 0);
    EXPECT_EQ (engine.getReplyRetries(), 0);
    EXPECT_EQ (engine.getBlockSize(), 0);
    EXPECT_EQ (engine.blocksDone.load(), 1u);
}

TEST_F (FirmwareUpdateEngine, SendersAreCalledLastFirstAndMayLeaveDuringTheCall)
{
    struct Leaving : public DataListener
    {
        Leaving (std::string& o, char n, juce::Array<DataListener*>* l) : order (o), name (n), list (l) {}

        void sysExMessage (int, const juce::uint8*, int) override
        {
            order += name;

            if (list != nullptr)
                list->removeFirstMatchingValue (this);
        }

        std::string& order;
        char name;
        juce::Array<DataListener*>* list;
    };

    std::string order;
    juce::Array<DataListener*> senders;
    Leaving a (order, 'a', nullptr), b (order, 'b', &senders), c (order, 'c', nullptr);
    senders.addArray ({ &a, &b, &c });

    FirmwareUpdate::sendToAll (metadataMessage.data(), 3, senders);
    EXPECT_EQ (order, "cba");
    EXPECT_EQ (senders.size(), 2);
}
