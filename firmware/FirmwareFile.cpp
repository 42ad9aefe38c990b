#include "firmware/FirmwareFile.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    bool sameTime (const struct timespec& a, const struct timespec& b) noexcept
    {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    }

    /** A regular file opened for reading, or nothing. The type is checked before the open, so
        nothing opens a FIFO or a device; the open does not block, in case one was swapped in
        since, and the type is checked again on what was opened.
    */
    class RegularFile
    {
    public:
        RegularFile (const juce::File& file, juce::int64& size)
        {
            const auto path = file.getFullPathName();

            if (path.isEmpty() || ::stat (path.toRawUTF8(), &opened) != 0 || ! S_ISREG (opened.st_mode))
                return;

            descriptor = ::open (path.toRawUTF8(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);

            // The lease comes before the look at the file, so what the look sees is what is read.
            if (descriptor >= 0 && (! takeReadLease() || ::fstat (descriptor, &opened) != 0 || ! S_ISREG (opened.st_mode)))
                close();

            size = descriptor >= 0 ? (juce::int64) opened.st_size : 0;
        }

        ~RegularFile()              { close(); }

        bool isOpen() const         { return descriptor >= 0; }

        /** True when the open file still has the size, times and identity it had when it was
            opened. Bytes read in several steps come from one version of the file only if
            nothing wrote to it, truncated it or replaced it in place meanwhile; a write call,
            truncation or rename begun meanwhile moves the change time at least.
        */
        bool isUnchanged() const
        {
            struct stat now {};

            return isOpen() && ::fstat (descriptor, &now) == 0
                    && now.st_size == opened.st_size
                    && sameTime (now.st_mtim, opened.st_mtim)
                    && sameTime (now.st_ctim, opened.st_ctim)
                    && now.st_dev == opened.st_dev
                    && now.st_ino == opened.st_ino;
        }

        /** Reads until `count` bytes or the end of the file; -1 after a read error. */
        juce::int64 read (juce::uint8* buffer, juce::int64 count) const
        {
            juce::int64 done = 0;

            while (done < count)
            {
                const auto chunk = (size_t) juce::jmin (count - done, chunkBytes);
                const auto got = ::read (descriptor, buffer + done, chunk);

                if (got == 0)
                    break;

                if (got < 0)
                {
                    if (errno == EINTR)
                        continue;

                    return -1;
                }

                done += got;
            }

            return done;
        }

        /** True when the file, read again from its start, gives exactly these bytes. The times
            that isUnchanged() compares do not show every write: the kernel moves them when a
            write begins, so the bytes of one begun before the file was opened land unseen
            during the read; writes through a shared mapping move no time at all, and a file
            system that keeps whole seconds hides a rewrite within the same second. Bytes that
            read the same twice held still in between; only a writer that stalls midway for the
            whole of both reads leaves a mix that reads the same. Compared a chunk at a time, so
            that a large file is not held twice.
        */
        bool readsAgainAs (const juce::uint8* expected, juce::int64 count) const
        {
            std::vector<juce::uint8> chunk ((size_t) juce::jmin (count, chunkBytes));

            for (juce::int64 done = 0; done < count;)
            {
                const auto got = ::pread (descriptor, chunk.data(), (size_t) juce::jmin (count - done, chunkBytes), (off_t) done);

                if (got < 0 && errno == EINTR)
                    continue;

                if (got <= 0 || std::memcmp (chunk.data(), expected + done, (size_t) got) != 0)
                    return false;

                done += got;
            }

            return true;
        }

    private:
        static constexpr juce::int64 chunkBytes = 1 << 20;

        /** Asks the kernel for a read lease, which it refuses while any process, this one
            included, holds the file open for writing or has it mapped shared and writable: a
            writer paused midway leaves a half-written file that holds still and reads the same
            twice, so only the kernel can tell. Once granted, every open for writing and every
            truncation waits until the lease is let go, so nothing can begin to write during the
            read. False only when a writer is there; without a lease to be had (not the file's
            owner, a file system without leases) the read goes on, guarded by the other checks.
        */
        bool takeReadLease()
        {
            // A writer that comes during the read makes the kernel signal the lease's holder,
            // with SIGIO unless told otherwise, and SIGIO ends a process that does not handle
            // it. SIGURG is ignored unless a handler is installed, and asking for it changes
            // only this descriptor, never the process's signal dispositions.
            if (::fcntl (descriptor, F_SETSIG, SIGURG) != 0)
                return true;

            // A hold for writing that ends within milliseconds is waited out, 31 ms at most: a
            // save just finishing, or the kernel, which for a moment after a close may still count
            // the closed descriptor as a writer (seen about once in a few million reads of a file
            // written and closed just before). A writer still there after that is at work.
            for (int waitMs = 1;; waitMs *= 2)
            {
                if (::fcntl (descriptor, F_SETLEASE, F_RDLCK) == 0)
                {
                    leased = true;
                    return true;
                }

                if (errno != EAGAIN)
                    return true;

                if (waitMs > 16)
                    return false;

                juce::Thread::sleep (waitMs);
            }
        }

        void close()
        {
            if (leased)
                ::fcntl (descriptor, F_SETLEASE, F_UNLCK);

            if (descriptor >= 0)
                ::close (descriptor);

            descriptor = -1;
            leased = false;
        }

        int descriptor = -1;
        bool leased = false;
        struct stat opened {};

        JUCE_DECLARE_NON_COPYABLE (RegularFile)
    };

    /** Opens the file as a RegularFile and lets `reader (source, size)` fill `data`, returning
        how many bytes it keeps, or -1 to refuse. What was read is kept only when the same bytes
        read again and the file did not change meanwhile: bytes read while something writes the
        file could mix two versions of it. A refused or failed read leaves `data` empty.
    */
    template <typename Reader>
    bool readGuarded (const juce::File& file, std::vector<juce::uint8>& data, Reader&& reader)
    {
        data.clear();

        juce::int64 size = 0;
        const RegularFile source (file, size);

        if (! source.isOpen())
            return false;

        try
        {
            const auto got = reader (source, size);

            if (got >= 0 && source.readsAgainAs (data.data(), got) && source.isUnchanged())
            {
                data.resize ((size_t) got);
                return true;
            }
        }
        catch (const std::bad_alloc&) {}

        data = {};
        return false;
    }
}

int FirmwareFile::indexOfSection (int sectionId) noexcept
{
    for (int i = 0; i < FirmwareHeader::maxSections; ++i)
        if (sectionIds[i] == sectionId)
            return i;

    return -1;
}

void FirmwareFile::readHeader (FirmwareHeader& header, juce::InputStream& stream)
{
    header = FirmwareHeader();

    header.magic = (juce::uint32) stream.readInt();
    header.reserved4 = (juce::uint16) stream.readShort();
    header.reserved6 = (juce::uint16) stream.readShort();
    header.reserved8 = (juce::uint32) stream.readInt();
    stream.read (header.modelName, sizeof (header.modelName));
    stream.read (header.version, sizeof (header.version));
    header.reserved32 = (juce::uint8) stream.readByte();
    header.reserved33 = (juce::uint8) stream.readByte();
    header.reserved34 = (juce::uint8) stream.readByte();
    header.reserved35 = (juce::uint32) stream.readInt();
    header.reserved39 = (juce::uint8) stream.readByte();
    stream.read (header.reserved40, sizeof (header.reserved40));

    for (int i = 0; i < header.getSectionCount(); ++i)
    {
        auto& entry = header.sections[i];
        entry.reserved0 = (juce::uint16) stream.readShort();
        entry.reserved2 = (juce::uint8) stream.readByte();
        entry.type = (juce::uint8) stream.readByte();
        entry.reserved4 = (juce::uint32) stream.readInt();
        entry.offset = (juce::uint32) stream.readInt();
        entry.length = (juce::uint32) stream.readInt();
    }
}

void FirmwareFile::readHeader (FirmwareHeader& header, const juce::File& file)
{
    header = FirmwareHeader();

    std::vector<juce::uint8> bytes;

    if (! readFileStart (file, (size_t) (FirmwareHeader::headerSize + FirmwareHeader::entrySize * FirmwareHeader::maxSections), bytes))
        return;

    juce::MemoryInputStream stream (bytes.data(), bytes.size(), false);
    readHeader (header, stream);
}

bool FirmwareFile::readFileStart (const juce::File& file, size_t count, std::vector<juce::uint8>& data)
{
    return readGuarded (file, data, [&] (const RegularFile& source, juce::int64)
    {
        data.resize (count);
        return source.read (data.data(), (juce::int64) count);
    });
}

bool FirmwareFile::readForUpdate (const juce::File& file, std::vector<juce::uint8>& data)
{
    return readGuarded (file, data, [&] (const RegularFile& source, juce::int64 size) -> juce::int64
    {
        if (size > maxFileBytes)
            return -1;

        // The header and table first: they say how far into the file the payloads reach.
        const auto tableEnd = (juce::int64) (FirmwareHeader::headerSize + FirmwareHeader::entrySize * FirmwareHeader::maxSections);
        data.resize ((size_t) tableEnd);
        auto got = source.read (data.data(), tableEnd);

        // Reads on from `got` up to `end` bytes; a read error stays -1.
        const auto readUpTo = [&] (juce::int64 end)
        {
            if (got < 0 || got >= end)
                return;

            data.resize ((size_t) end);
            const auto more = source.read (data.data() + got, end - got);
            got = more < 0 ? more : got + more;
        };

        // Then up to one byte beyond the size found, so memory follows the file's real size;
        // only when that byte comes (the file has grown) on to one byte beyond the limit,
        // which refuses it.
        const auto needed = got == tableEnd ? juce::jmin (payloadEnd (data), maxFileBytes + 1) : got;
        readUpTo (juce::jmin (needed, size + 1));

        if (got == size + 1)
            readUpTo (needed);

        return got > maxFileBytes ? -1 : got;
    });
}

juce::int64 FirmwareFile::payloadEnd (const std::vector<juce::uint8>& start)
{
    FirmwareHeader header;
    juce::MemoryInputStream stream (start.data(), start.size(), false);
    readHeader (header, stream);

    auto end = (juce::int64) header.getPayloadBase();

    for (int i = 0; i < header.getSectionCount(); ++i)
    {
        const auto& entry = header.sections[i];

        if (indexOfSection (entry.type) >= 0 && entry.length > 0)
            end = juce::jmax (end, (juce::int64) header.getPayloadBase() + (juce::int64) entry.offset + (juce::int64) entry.length);
    }

    return end;
}

bool FirmwareFile::isCompatible (const FirmwareHeader& header, bool isFullSizeModel) noexcept
{
    const auto* name = header.modelName;

    if (header.magic != juce::ByteOrder::littleEndianInt ("KRFW"))
        return false;

    if (name[0] != 'M' || name[1] != 'Z' || name[2] != '-')
        return false;

    if (name[3] != (isFullSizeModel ? '7' : '9'))
        return false;

    if (name[4] != (isFullSizeModel ? '0' : 0))
        return false;

    for (int i = 5; i < 16; ++i)
        if (name[i] != 0)
            return false;

    return true;
}

bool FirmwareFile::payloadsLieInside (const FirmwareHeader& header, juce::int64 fileSize) noexcept
{
    const auto base = (juce::int64) header.getPayloadBase();

    if (fileSize < base || fileSize > maxFileBytes)
        return false;

    juce::int64 keptLengths[FirmwareHeader::maxSections] = {};

    for (int i = 0; i < header.getSectionCount(); ++i)
    {
        const auto& entry = header.sections[i];
        const auto index = indexOfSection (entry.type);

        if (index < 0)
            continue;

        // Offset and length are 32-bit each, so their sum cannot overflow in 64 bits.
        if (entry.length > 0 && base + (juce::int64) entry.offset + (juce::int64) entry.length > fileSize)
            return false;

        keptLengths[index] = (juce::int64) entry.length;
    }

    return std::accumulate (std::begin (keptLengths), std::end (keptLengths), (juce::int64) 0) <= maxFileBytes;
}

juce::Array<juce::uint8> FirmwareFile::splitNibbles (const juce::uint8* data, juce::int64 length)
{
    juce::Array<juce::uint8> nibbles;

    if (length < 1 || length > maxFileBytes || data == nullptr)
        return nibbles;

    const auto count = (int) (length * 2);

    // An array that cannot get its memory is left without storage; it then stays empty.
    nibbles.ensureStorageAllocated (count);

    if (nibbles.getRawDataPointer() == nullptr)
        return {};

    nibbles.resize (count);
    auto* out = nibbles.getRawDataPointer();

    for (juce::int64 i = 0; i < length; ++i)
    {
        *out++ = (juce::uint8) (data[i] >> 4);
        *out++ = (juce::uint8) (data[i] & 0x0F);
    }

    return nibbles;
}
