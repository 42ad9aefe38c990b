#pragma once

#include "device/UpdateUIListener.h"
#include "firmware/FirmwareFile.h"
#include "firmware/FirmwareHeader.h"
#include "firmware/ParentComponet.h"
#include "firmware/UpdateCommandId.h"

#include <atomic>

/** The firmware update engine.

    Once an update is started (startUpdate, message thread) the engine is driven by the
    device's replies (deviceReply, MIDI input thread) and by its reply time-out
    (timerCallback, message thread). One lock serialises the three, so they never run on
    the engine at the same time. Results and progress go to the command target as
    command messages (UpdateCommandId); blocksDone and totalBlocks may be read from any
    thread.

    Protocol steps (updatingState): 0 START sent, 1 section select sent, 2 section
    header(s) sent, 3 data block sent, 4 section end sent, 5 end sent, 7 metadata sent
    (finished), 8 idle.
*/
class FirmwareUpdate : public ParentComponet,
                       private juce::MultiTimer,
                       private UpdateUIListener
{
public:
    static constexpr int replyTimerId = 2;
    static constexpr int startTimeoutMs = 15000;
    static constexpr int replyTimeoutMs = 10000;
    static constexpr int versionPauseMs = 30;
    static constexpr int idleState = 8;
    static constexpr int allSectionsDone = 0x12;

    FirmwareUpdate();
    ~FirmwareUpdate() override;

    //==============================================================================
    /** Reads a file's header and section table; see FirmwareFile::readHeader. */
    static void readFirmwareHeader (FirmwareHeader& header, const juce::File& file);

    /** See FirmwareFile::splitNibbles. */
    static juce::Array<juce::uint8> splitNibbles (const juce::uint8* data, juce::int64 length);

    //==============================================================================
    /** Starts an update from a file (message thread): resets the engine, reads the file
        (before taking the engine's lock, so that replies never wait for the disk), posts 240,
        and either refuses the file (posts 248, returns false, sends nothing) or loads its
        sections, posts 240 again, sends START and starts the 15 s time-out once START's send
        has returned. A reply that arrives before START is handed to the senders is ignored; one
        that arrives while START is being written is its answer, handled once the send is back.

        A file is refused when it is not a regular file, is larger than
        FirmwareFile::maxFileBytes, cannot be read, changes while it is read (so that what
        would be sent could mix two versions of it), is too short for its header and section
        table, has a payload reaching past its end, fails the compatibility test against
        isFullSizeModel, or its sections cannot get their memory.
    */
    bool startUpdate (const juce::File& file, bool isFullSizeModel);

    /** The start of an update from a firmware file's bytes in memory, as startUpdate does it once the file is read. */
    bool startUpdateFromData (const juce::uint8* data, size_t size, bool isFullSizeModel);

    /** Back to idle: stops the time-out, empties the sections, clears the counters of the
        protocol. blocksDone, totalBlocks and the header are kept. Posts and sends nothing.
    */
    void resetUpdate();

    /** resetUpdate, then posts updateFailed. */
    void abortUpdate();

    /** Handles one reply of the device, F0 ... F7 included (MIDI input thread). */
    void deviceReply (int length, const juce::uint8* data) override;

    /** The reply time-out; acts on replyTimerId only (message thread). */
    void timerCallback (int timerId) override;

    //==============================================================================
    /** The component that receives the command codes; set on the message thread. */
    void setCommandTarget (juce::Component* target);

    /** The engine as the hub sees it. */
    UpdateUIListener* asUpdateListener() noexcept          { return this; }

    /** Blocks acknowledged so far, over all sections. The owner may set it back to 0. */
    std::atomic<juce::uint32> blocksDone { 0 };

    /** Blocks of the whole running update, set by the START reply. */
    std::atomic<juce::int32> totalBlocks { 1 };

    //==============================================================================
    // Snapshots of the protocol state, for the owner and for tests.
    int getUpdatingState() const;
    int getCurrentSection() const;
    int getBlockSize() const;
    juce::uint32 getAckedInSection() const;
    juce::uint32 getBlockCount (int sectionIndex) const;
    int getReplyRetries() const;
    int getStartRetries() const;
    int getSectionNibbleCount (int sectionIndex) const;
    FirmwareHeader getHeader() const;

    /** Interval of the running time-out in milliseconds, 0 when it is stopped. */
    int getReplyTimeout() const;

private:
    //==============================================================================
    bool prepareUpdate (const juce::uint8* data, size_t size, bool isFullSizeModel);
    bool handleTimeout();
    void sendFirstStart();
    int handOnStart();
    void startSent (int sendId, bool firstOfUpdate);
    bool isForTheEngineNow (juce::uint32 startsHandedOnAtArrival);
    void sendNextBlock();
    void searchSection();
    bool loadSections (const juce::uint8* data);
    void post (int commandId);
    void send (std::initializer_list<juce::uint8> bytes);

    void handleStartReply (int length, const juce::uint8* data);
    void handleSelectReply (int length, const juce::uint8* data);
    void handleHeaderReply (bool accepted);
    void handleBlockReply (bool accepted);
    void handleSectionEndReply (bool accepted);
    void handleEndReply (int length, const juce::uint8* data);

    juce::uint32 blockCountOf (int sectionId) const noexcept;

public:
    //==============================================================================
    // Message builders; each sends to every entry of senders.
    static void sendDataBlock (const juce::uint8* nibbles, int nibbleCount, int blockSize, int index,
                               const juce::Array<DataListener*>& senders);
    static void sendSectionHeader (int length, int blockCount, const juce::Array<DataListener*>& senders);
    static void sendMetadataRequest (const juce::Array<DataListener*>& senders);
    static void sendToAll (const juce::uint8* data, int length, const juce::Array<DataListener*>& senders);

private:
    //==============================================================================
    juce::CriticalSection lock;

    juce::uint16 blockSize = 0;
    juce::uint32 ackedInSection = 0;
    juce::uint32 blockCounts[FirmwareHeader::maxSections] = {};
    juce::uint32 currentSection = 0;
    int updatingState = idleState;
    juce::Component::SafePointer<juce::Component> commandTarget;
    int replyRetries = 0;
    int startRetries = 0;
    juce::Array<juce::uint8> sectionNibbles[FirmwareHeader::maxSections];
    FirmwareHeader header;
    bool closing = false;

    // START is written without the lock (see sendFirstStart). While it is being written the
    // device may answer it already; that answer waits until the send is back.
    bool startPrepared = false;             // the update's first START is not yet handed to the senders
    int startSendUnderWay = 0;              // the START write under way, 0 for none
    int lastStartSend = 0;
    std::atomic<juce::uint32> updatesHandedOn { 0 };    // first STARTs handed to the senders, ever
    juce::WaitableEvent startSendReturned { true };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwareUpdate)
};
