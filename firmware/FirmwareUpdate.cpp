#include "firmware/FirmwareUpdate.h"

#include "device/MessageThreadLock.h"
#include "device/PresetManager.h"
#include "device/SharedConstants.h"

#include <cstdio>

namespace
{
    constexpr int startReplyLength = 39;
    constexpr juce::uint8 statusAccepted = 0x7F;
    constexpr juce::uint8 statusRefused = 0x7E;
    constexpr int maxSilentTimeouts = 3;
    constexpr int maxRefusalsOfABlock = 3;
    constexpr int maxStartResends = 3;

    // How long an answer waits for START's send to come back. A write takes microseconds; this
    // only ends a wait that something unforeseen holds up.
    constexpr int startSendWaitLimitMs = 2000;

    bool isAbortReply (int length, const juce::uint8* data) noexcept
    {
        return length == 5 && data[0] == 0xF0 && data[1] == 0x7E && data[2] == 0x48
                 && data[3] == 0x06 && data[4] == 0xF7;
    }

    bool isAccepted (int length, const juce::uint8* data) noexcept
    {
        return length >= 5 && data[4] == statusAccepted;
    }

    int nextSectionId (int sectionId) noexcept
    {
        const auto index = FirmwareFile::indexOfSection (sectionId);
        return index >= 0 && index + 1 < FirmwareHeader::maxSections ? FirmwareFile::sectionIds[index + 1]
                                                                     : FirmwareUpdate::allSectionsDone;
    }

    void appendNibbles (std::vector<juce::uint8>& message, juce::uint32 value)
    {
        for (int shift = 28; shift >= 0; shift -= 4)
            message.push_back ((juce::uint8) ((value >> shift) & 0x0F));
    }
}

//==============================================================================
FirmwareUpdate::FirmwareUpdate()
{
    resetUpdate();
}

FirmwareUpdate::~FirmwareUpdate()
{
    {
        const juce::ScopedLock sl (lock);
        closing = true;
        commandTarget = nullptr;
        stopTimer (replyTimerId);
    }

    startSendReturned.signal();

    // Leave the hub that this engine sends through (outside the lock: the hub's removal
    // waits for a delivery that may be waiting for the lock). Once removed, no reply
    // reaches the engine any more.
    for (auto* sender : senders)
        if (auto* hub = dynamic_cast<PresetManager*> (sender))
            hub->removeUpdateListener (this);

    senders.clear();

    for (auto& nibbles : sectionNibbles)
        nibbles.clearQuick();
}

//==============================================================================
void FirmwareUpdate::readFirmwareHeader (FirmwareHeader& headerToFill, const juce::File& file)
{
    FirmwareFile::readHeader (headerToFill, file);
}

juce::Array<juce::uint8> FirmwareUpdate::splitNibbles (const juce::uint8* data, juce::int64 length)
{
    return FirmwareFile::splitNibbles (data, length);
}

//==============================================================================
bool FirmwareUpdate::startUpdate (const juce::File& file, bool isFullSizeModel)
{
    // A running update ends before the disk is read; the read itself holds no lock.
    resetUpdate();

    // A file that is not read (not a regular file, too large, unreadable) goes on as no
    // bytes at all, which no model accepts.
    std::vector<juce::uint8> data;
    FirmwareFile::readForUpdate (file, data);

    return startUpdateFromData (data.data(), data.size(), isFullSizeModel);
}

bool FirmwareUpdate::startUpdateFromData (const juce::uint8* data, size_t size, bool isFullSizeModel)
{
    if (! prepareUpdate (data, size, isFullSizeModel))
        return false;

    sendFirstStart();
    return true;
}

bool FirmwareUpdate::prepareUpdate (const juce::uint8* data, size_t size, bool isFullSizeModel)
{
    static constexpr juce::uint8 noBytes[1] = {};

    if (data == nullptr)
        size = 0;

    const juce::ScopedLock sl (lock);

    resetUpdate();

    juce::MemoryInputStream stream (size > 0 ? data : noBytes, size, false);
    FirmwareFile::readHeader (header, stream);
    post (updateStarted);

    if (! FirmwareFile::payloadsLieInside (header, (juce::int64) size)
         || ! FirmwareFile::isCompatible (header, isFullSizeModel)
         || ! loadSections (data))
    {
        resetUpdate();
        post (fileNotCompatible);
        return false;
    }

    currentSection = 0x00;
    post (updateStarted);
    updatingState = 0;

    // Until START is handed to the senders, a reply can only be a late one of an earlier
    // exchange: it is ignored.
    startPrepared = true;
    return true;
}

void FirmwareUpdate::sendFirstStart()
{
    int sendId;

    {
        const juce::ScopedLock sl (lock);

        // A reset or another start since the preparation has taken this update's place.
        if (! startPrepared)
            return;

        startPrepared = false;
        ++updatesHandedOn;
        sendId = handOnStart();
    }

    // Without the lock: a write that fails closes the port pair, which waits for the input
    // thread's delivery, and that delivery may be waiting for the lock.
    sendToAll (UPDATE_START.data(), (int) UPDATE_START.size(), senders);
    startSent (sendId, true);
}

int FirmwareUpdate::handOnStart()
{
    startSendUnderWay = ++lastStartSend;
    startSendReturned.reset();
    return startSendUnderWay;
}

void FirmwareUpdate::startSent (int sendId, bool firstOfUpdate)
{
    {
        const juce::ScopedLock sl (lock);

        // Unless a reset or another start came meanwhile, the time-out starts once the
        // update's START is out; an answer that is waiting for the send is handled after this.
        if (startSendUnderWay == sendId)
        {
            startSendUnderWay = 0;

            if (firstOfUpdate)
            {
                replyRetries = 0;
                startTimer (replyTimerId, startTimeoutMs);
            }
        }
    }

    startSendReturned.signal();
}

bool FirmwareUpdate::loadSections (const juce::uint8* data)
{
    const auto base = header.getPayloadBase();

    // Table order: when two entries name the same section, the later one wins.
    for (int i = 0; i < header.getSectionCount(); ++i)
    {
        const auto& entry = header.sections[i];
        const auto index = FirmwareFile::indexOfSection (entry.type);

        if (index < 0)
            continue;

        // An empty entry reads nothing, wherever its offset points.
        if (entry.length == 0)
        {
            sectionNibbles[index] = {};
            continue;
        }

        sectionNibbles[index] = FirmwareFile::splitNibbles (data + base + entry.offset, entry.length);

        // A short list: the memory for it could not be had.
        if (sectionNibbles[index].size() != 2 * (int) entry.length)
            return false;
    }

    return true;
}

void FirmwareUpdate::resetUpdate()
{
    const juce::ScopedLock sl (lock);

    stopTimer (replyTimerId);
    currentSection = 0x00;
    updatingState = idleState;
    startPrepared = false;
    startSendUnderWay = 0;
    startSendReturned.signal();

    for (auto& nibbles : sectionNibbles)
        nibbles.clearQuick();

    for (auto& nibbles : sectionNibbles)
        nibbles.minimiseStorageOverheads();

    replyRetries = 0;
    startRetries = 0;
    blockSize = 0;
    ackedInSection = 0;
    std::fill (std::begin (blockCounts), std::end (blockCounts), 0u);
}

void FirmwareUpdate::abortUpdate()
{
    const juce::ScopedLock sl (lock);
    resetUpdate();
    post (updateFailed);
}

//==============================================================================
void FirmwareUpdate::deviceReply (int length, const juce::uint8* data)
{
    // Counted on arrival: a reply that came before the update's START was handed on is no
    // answer to it, even when it gets the lock only once START is out.
    const auto startsHandedOnAtArrival = updatesHandedOn.load();
    const juce::ScopedLock sl (lock);

    if (! isForTheEngineNow (startsHandedOnAtArrival))
        return;

    if (data == nullptr || length < 0)
        length = 0;

    if (updatingState != 3)
        replyRetries = 0;

    startTimer (replyTimerId, replyTimeoutMs);
    std::printf ("updatingState:%d\n", updatingState);

    if (isAbortReply (length, data))
    {
        abortUpdate();
        return;
    }

    const bool accepted = isAccepted (length, data);

    switch (updatingState)
    {
        case 0: handleStartReply (length, data); break;
        case 1: handleSelectReply (length, data); break;
        case 2: handleHeaderReply (accepted); break;
        case 3: handleBlockReply (accepted); break;
        case 4: handleSectionEndReply (accepted); break;
        case 5: handleEndReply (length, data); break;
        case 7: post (updateFinished); break;
        default: break;
    }
}

bool FirmwareUpdate::isForTheEngineNow (juce::uint32 startsHandedOnAtArrival)
{
    const auto waitBegan = juce::Time::getMillisecondCounter();

    for (;;)
    {
        if (closing || startPrepared || updatesHandedOn.load() != startsHandedOnAtArrival)
            return false;

        if (startSendUnderWay == 0)
            return true;

        // A device answers as soon as START reaches it, maybe before the sending thread is
        // back: the answer waits for the send, so that START, version and select keep their
        // order. The wait gives way to a close, which may be waiting for this delivery (a
        // failed write closes the port pair from within the send), and has a limit; an
        // answer dropped then is asked for again by the START time-out.
        if (MessageThreadLock::isRefusing()
             || juce::Time::getMillisecondCounter() - waitBegan >= (juce::uint32) startSendWaitLimitMs)
            return false;

        const juce::ScopedUnlock ul (lock);
        startSendReturned.wait (1);
    }
}

void FirmwareUpdate::handleStartReply (int length, const juce::uint8* data)
{
    if (length < startReplyLength)
    {
        abortUpdate();
        return;
    }

    blockSize = (juce::uint16) ((data[36] << 4) | data[37]);

    // Without a block size no section can be cut into blocks: a bad first reply.
    if (blockSize == 0)
    {
        abortUpdate();
        return;
    }

    juce::int64 total = 0;

    for (int i = 0; i < FirmwareHeader::maxSections; ++i)
    {
        const auto nibbles = (juce::int64) sectionNibbles[i].size();
        const auto perBlock = (juce::int64) blockSize * 2;
        blockCounts[i] = (juce::uint32) ((nibbles + perBlock - 1) / perBlock);
        total += blockCounts[i];
    }

    const juce::uint8* v = header.version;
    send ({ 0x7E, 0x48, 0x0B, 0x01, v[0], v[1], v[2], v[3] });
    juce::Thread::sleep (versionPauseMs);

    updatingState = 1;
    send ({ 0x7E, 0x48, 0x7F, (juce::uint8) (currentSection & 0xFF) });
    totalBlocks = (juce::int32) total;
}

void FirmwareUpdate::handleSelectReply (int length, const juce::uint8* data)
{
    // A reply too short to carry a status counts as refused.
    if (length < 5 || data[4] == statusRefused)
    {
        abortUpdate();
        return;
    }

    updatingState = 2;
    ackedInSection = 0;
    searchSection();
}

void FirmwareUpdate::searchSection()
{
    while (currentSection != allSectionsDone && blockCountOf ((int) currentSection) == 0)
        currentSection = (juce::uint32) nextSectionId ((int) currentSection);

    if (currentSection == allSectionsDone)
    {
        updatingState = 4;
        send ({ 0x7E, 0x48, 0x05, 0x7B });
        return;
    }

    const auto blocks = blockCountOf ((int) currentSection);
    const int copies = currentSection == 0x11 ? 2 : 1;

    for (const auto& entry : header.sections)
        if (entry.type == currentSection)
            for (int i = 0; i < copies; ++i)
                sendSectionHeader ((int) entry.length, (int) blocks, senders);
}

void FirmwareUpdate::handleHeaderReply (bool accepted)
{
    if (! accepted)
    {
        post (sectionRefused);
        return;
    }

    sendNextBlock();
    post (updateProgress);
}

void FirmwareUpdate::handleBlockReply (bool accepted)
{
    if (replyRetries >= maxRefusalsOfABlock)
    {
        abortUpdate();
        return;
    }

    if (accepted)
    {
        ++ackedInSection;
        replyRetries = 0;

        auto done = ackedInSection;

        for (int i = 0; i < FirmwareFile::indexOfSection ((int) currentSection); ++i)
            done += blockCounts[i];

        blocksDone = done;
    }
    else
    {
        ++replyRetries;
    }

    sendNextBlock();
    post (updateProgress);
}

void FirmwareUpdate::handleSectionEndReply (bool accepted)
{
    if (! accepted)
    {
        abortUpdate();
        return;
    }

    if (currentSection == allSectionsDone)
    {
        updatingState = 5;
        send ({ 0x7E, 0x48, 0x07 });
    }
    else
    {
        updatingState = 1;
        send ({ 0x7E, 0x48, 0x7F, (juce::uint8) (currentSection & 0xFF) });
    }
}

void FirmwareUpdate::handleEndReply (int length, const juce::uint8* data)
{
    const int command = length >= 4 ? data[3] : -1;

    if (command == 0x03)
        return;

    if (command != 0x07)
    {
        abortUpdate();
        return;
    }

    stopTimer (replyTimerId);
    updatingState = 7;
    sendMetadataRequest (senders);
    post (updateFinished);
}

void FirmwareUpdate::sendNextBlock()
{
    updatingState = 3;

    const auto index = FirmwareFile::indexOfSection ((int) currentSection);
    jassert (index >= 0);

    if (index < 0 || ackedInSection >= blockCounts[index])
    {
        ackedInSection = 0;
        currentSection = (juce::uint32) nextSectionId ((int) currentSection);
        updatingState = 4;
        send ({ 0x7E, 0x48, 0x05, 0x7B });
        return;
    }

    const auto& nibbles = sectionNibbles[index];
    sendDataBlock (nibbles.begin(), nibbles.size(), blockSize, (int) ackedInSection, senders);
}

//==============================================================================
void FirmwareUpdate::timerCallback (int timerId)
{
    if (timerId != replyTimerId)
        return;

    int resendId = 0;

    {
        const juce::ScopedLock sl (lock);

        // Handed on under the same lock as the decision, so that an answer that comes
        // meanwhile waits for the resend instead of racing it.
        if (handleTimeout())
            resendId = handOnStart();
    }

    if (resendId != 0)
    {
        sendToAll (UPDATE_START.data(), (int) UPDATE_START.size(), senders);
        startSent (resendId, false);
    }
}

bool FirmwareUpdate::handleTimeout()
{
    switch (updatingState)
    {
        case 0:
            if (startRetries < maxStartResends)
            {
                ++startRetries;
                return true;
            }

            abortUpdate();
            break;

        case 3:
            post (updateFailed);
            break;

        case 1: case 2: case 4: case 5: case 7:
            if (replyRetries < maxSilentTimeouts)
            {
                ++replyRetries;
            }
            else
            {
                stopTimer (replyTimerId);
                post (updateTimedOut);
                resetUpdate();
            }
            break;

        default:
            break;
    }

    return false;
}

//==============================================================================
void FirmwareUpdate::sendDataBlock (const juce::uint8* nibbles, int nibbleCount, int blockSize, int index,
                                    const juce::Array<DataListener*>& senders)
{
    const auto perBlock = (juce::int64) blockSize * 2;
    const auto first = (juce::int64) index * perBlock;
    const auto carried = juce::jlimit ((juce::int64) 0, perBlock, (juce::int64) nibbleCount - first);

    // Blocks of the usual sizes are built on the stack: no allocation per block.
    const auto length = (size_t) perBlock + 6;
    juce::uint8 onStack[1024];
    juce::HeapBlock<juce::uint8> onHeap;
    auto* message = onStack;

    if (length > sizeof (onStack))
    {
        onHeap.malloc (length);
        message = onHeap.get();
    }

    message[0] = 0x7E;
    message[1] = 0x48;
    message[2] = 0x04;
    message[3] = (juce::uint8) (index & 0x7F);

    if (carried > 0)
        std::memcpy (message + 4, nibbles + first, (size_t) carried);

    std::memset (message + 4 + carried, 0x0F, (size_t) (perBlock - carried));

    juce::uint8 checksum = 0;

    for (juce::int64 i = 0; i < perBlock; ++i)
        checksum = (juce::uint8) (checksum + message[4 + i]);

    message[length - 2] = (juce::uint8) (checksum >> 4);
    message[length - 1] = (juce::uint8) (checksum & 0x0F);
    sendToAll (message, (int) length, senders);
}

void FirmwareUpdate::sendSectionHeader (int length, int blockCount, const juce::Array<DataListener*>& senders)
{
    std::vector<juce::uint8> message { 0x7E, 0x48, 0x02 };
    appendNibbles (message, (juce::uint32) length);
    appendNibbles (message, (juce::uint32) blockCount);
    sendToAll (message.data(), (int) message.size(), senders);
}

void FirmwareUpdate::sendMetadataRequest (const juce::Array<DataListener*>& senders)
{
    static constexpr juce::uint8 message[] = { 0x7E, 0x48, 0x09 };

    std::printf ("发送元数据:");

    for (auto byte : message)
        std::printf ("%02x  ", byte);

    std::printf ("\n");
    sendToAll (message, (int) sizeof (message), senders);
}

void FirmwareUpdate::sendToAll (const juce::uint8* data, int length, const juce::Array<DataListener*>& senders)
{
    // From the last to the first; a sender may leave the list during its call.
    for (int i = senders.size(); --i >= 0;)
    {
        senders.getUnchecked (i)->sysExMessage (length, data, 1);
        i = juce::jmin (i, senders.size());
    }
}

void FirmwareUpdate::send (std::initializer_list<juce::uint8> bytes)
{
    sendToAll (bytes.begin(), (int) bytes.size(), senders);
}

void FirmwareUpdate::post (int commandId)
{
    if (auto* target = commandTarget.getComponent())
        target->postCommandMessage (commandId);
}

//==============================================================================
juce::uint32 FirmwareUpdate::blockCountOf (int sectionId) const noexcept
{
    const auto index = FirmwareFile::indexOfSection (sectionId);
    return index >= 0 ? blockCounts[index] : 0;
}

void FirmwareUpdate::setCommandTarget (juce::Component* target)
{
    // Taking the weak reference here, on the message thread, creates the target's shared
    // weak-reference record before the MIDI input thread posts to it.
    const juce::ScopedLock sl (lock);
    commandTarget = target;
}

int FirmwareUpdate::getUpdatingState() const                  { const juce::ScopedLock sl (lock); return updatingState; }
int FirmwareUpdate::getCurrentSection() const                 { const juce::ScopedLock sl (lock); return (int) currentSection; }
int FirmwareUpdate::getBlockSize() const                      { const juce::ScopedLock sl (lock); return blockSize; }
juce::uint32 FirmwareUpdate::getAckedInSection() const        { const juce::ScopedLock sl (lock); return ackedInSection; }
juce::uint32 FirmwareUpdate::getBlockCount (int index) const  { const juce::ScopedLock sl (lock); return blockCounts[index]; }
int FirmwareUpdate::getReplyRetries() const                   { const juce::ScopedLock sl (lock); return replyRetries; }
int FirmwareUpdate::getStartRetries() const                   { const juce::ScopedLock sl (lock); return startRetries; }
int FirmwareUpdate::getSectionNibbleCount (int index) const   { const juce::ScopedLock sl (lock); return sectionNibbles[index].size(); }
FirmwareHeader FirmwareUpdate::getHeader() const              { const juce::ScopedLock sl (lock); return header; }
int FirmwareUpdate::getReplyTimeout() const                   { return getTimerInterval (replyTimerId); }
