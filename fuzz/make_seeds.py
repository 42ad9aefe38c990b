#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Run it again after changing it; the files are committed, so the fuzz runs need no Python.
"""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(here, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


# Firmware files ---------------------------------------------------------------

def firmware(model, sections, entry_count=None, magic=b"KRFW", version=(1, 2, 3, 4)):
    """sections: list of (type, payload) or (type, offset, length) for raw entries."""
    name = model.encode().ljust(16, b"\0")
    header = magic + struct.pack("<HHI", 0, 0, 0) + name + bytes(version) + bytes(24)
    assert len(header) == 56
    count = entry_count or (4 if name == b"MZ-9".ljust(16, b"\0") else 5)
    table, payloads, offset = b"", b"", 0
    for s in sections:
        if len(s) == 2:
            kind, payload = s
            table += struct.pack("<HBBIII", 0, 0, kind, 0, offset, len(payload))
            payloads += payload
            offset += len(payload)
        else:
            kind, off, length = s
            table += struct.pack("<HBBIII", 0, 0, kind, 0, off, length)
    table += struct.pack("<HBBIII", 0, 0, 0xFF, 0, 0, 0) * (count - len(sections))
    return header + table + payloads


def pattern(size, seed=1):
    return bytes((i * 7 + seed * 13) & 0xFF for i in range(size))


def firmware_seeds():
    t = "firmware_file"
    write(t, "full_all_sections.bin", firmware("MZ-70", [(0x00, pattern(40)), (0x01, pattern(3, 2)),
                                                        (0x02, pattern(17, 3)), (0x10, pattern(64, 4)),
                                                        (0x11, pattern(9, 5))]))
    write(t, "mini_two_sections.bin", firmware("MZ-9", [(0x00, pattern(33)), (0x10, pattern(20, 6))]))
    write(t, "full_no_sections.bin", firmware("MZ-70", []))
    write(t, "duplicate_type.bin", firmware("MZ-70", [(0x01, pattern(5)), (0x01, pattern(8, 9))]))
    write(t, "unknown_type.bin", firmware("MZ-70", [(0x03, pattern(5)), (0x02, pattern(4))]))
    write(t, "payload_past_end.bin", firmware("MZ-9", [(0x00, 0, 1000)]))
    write(t, "offset_huge.bin", firmware("MZ-70", [(0x11, 0xFFFFFFF0, 0x20)]))
    write(t, "bad_magic.bin", firmware("MZ-70", [(0x00, pattern(4))], magic=b"FWKR"))
    write(t, "mini_padded_name.bin", firmware("MZ-9\0\0\0\0\0\0\0\0\0\0\0\x01", [(0x00, pattern(4))]))
    write(t, "short_header.bin", firmware("MZ-70", [])[:30])
    write(t, "magic_only.bin", b"KRFW")
    write(t, "empty_entry_past_end.bin", firmware("MZ-70", [(0x02, 0xFFFFFFFF, 0), (0x00, pattern(4))]))
    write(t, "length_wraps.bin", firmware("MZ-9", [(0x00, 0x10, 0xFFFFFFF8)]) + pattern(32))
    write(t, "section_too_large_to_split.bin", firmware("MZ-70", [(0x10, 0, 715827880)]))


# Update engine runs ----------------------------------------------------------
# The layout of these inputs is documented at the top of UpdateEngineFuzz.cpp: a byte that
# picks the model and file, then control bytes.

TIMEOUT, OTHER_TIMER, ACCEPT, REFUSE, START_REPLY, ABORT, END_REPLY, RESTART, ECHO = \
    0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88


def run(layout, full_size, *steps):
    out = [(layout << 1) | (1 if full_size else 0)]
    for step in steps:
        out += step if isinstance(step, list) else [step]
    return bytes(out)


def raw(*message):
    return [len(message)] + list(message)


def engine_seeds():
    t = "update_engine"
    write(t, "whole_update_full.bin", run(0, True, [START_REPLY, 4], *([ECHO] * 120)))
    write(t, "whole_update_mini.bin", run(2, False, [START_REPLY, 8], *([ECHO] * 40)))
    write(t, "long_section.bin", run(3, True, [START_REPLY, 1], *([ECHO] * 320)))
    write(t, "only_last_section.bin", run(4, True, [START_REPLY, 5], *([ECHO] * 20)))
    write(t, "empty_file.bin", run(1, False, [START_REPLY, 4], *([ECHO] * 8)))
    write(t, "refused_blocks.bin", run(0, True, [START_REPLY, 4], ECHO, ECHO, [REFUSE, 4], [REFUSE, 4],
                                       [ACCEPT, 4], [REFUSE, 4], [REFUSE, 4], [REFUSE, 4], [REFUSE, 4]))
    write(t, "header_refused.bin", run(0, True, [START_REPLY, 4], ECHO, [REFUSE, 2],
                                       TIMEOUT, TIMEOUT, TIMEOUT, TIMEOUT))
    write(t, "block_silence.bin", run(0, True, [START_REPLY, 4], ECHO, ECHO, TIMEOUT, TIMEOUT, ECHO, ECHO))
    write(t, "abort.bin", run(0, True, [START_REPLY, 4], ECHO, ECHO, ABORT, ECHO))
    write(t, "short_start.bin", run(0, True, raw(0xF0, 0x7E, 0x48, 0x01, 0x7F, 0xF7)))
    write(t, "zero_block_size.bin", run(0, True, [START_REPLY, 0], ECHO))
    write(t, "start_timeouts.bin", run(0, False, TIMEOUT, TIMEOUT, TIMEOUT, TIMEOUT, OTHER_TIMER))
    write(t, "restart.bin", run(0, True, [START_REPLY, 4], ECHO, ECHO, ECHO, RESTART, [START_REPLY, 16],
                                *([ECHO] * 30)))
    write(t, "end_replies.bin", run(1, True, [START_REPLY, 4], ECHO, ECHO, raw(0xF0, 0x7E, 0x48, 0x03, 0x7F, 0xF7),
                                    END_REPLY, ECHO, TIMEOUT, TIMEOUT, TIMEOUT, TIMEOUT))
    write(t, "short_replies.bin", run(0, True, [START_REPLY, 4], raw(0xF0, 0x7E, 0x48), raw(0xF0, 0x7E, 0x48, 0x7F),
                                      ECHO, raw(0xF0), raw()))


# MIDI byte streams for the receive road ----------------------------------------

SIGNATURE = [0x21, 0x25, 0x7E, ord("M"), ord("Z"), ord("-"), 0x0A]


def data_chunk(total, offset, payload):
    nib = []
    for b in payload:
        nib += [b >> 4, b & 0x0F]
    return bytes([0xF0] + SIGNATURE + [0x11, total & 0x7F, total >> 7, offset & 0x7F, offset >> 7] + nib + [0xF7])


def record(kind, payload):
    return struct.pack("<HH", kind, len(payload)) + bytes(payload)


def reply(*body):
    return bytes([0xF0, 0x7E, 0x48] + list(body) + [0xF7])


def start_reply(block_size):
    return reply(0x01, *([0] * 32), block_size >> 4, block_size & 0x0F)


def receive_seeds():
    # The first byte picks how the rest is cut into messages (see ReceiveRoadFuzz.cpp):
    # 0x00 parses it as a MIDI byte stream.
    t = "receive_road"
    write = lambda target, name, data: globals()["write"](target, name, b"\x00" + data)
    state = record(0x2001, [3, 0, 1, 0]) + record(0x2002, [])
    write(t, "device_state_packet.bin", data_chunk(len(state), 0, state))
    big = record(0x1004, pattern(124)) + record(0x0002, pattern(88)) + record(0x0000, [5, 0, 7, 0])
    write(t, "two_chunk_packet.bin", data_chunk(len(big), 0, big[:183]) + data_chunk(len(big), 183, big[183:]))
    write(t, "system_reply.bin", bytes([0xF0] + SIGNATURE + [0x11, 0x12, 0, 0, 0, 3, 1, 0xF7])
          + bytes([0xF0] + SIGNATURE + [0x11, 0x12, 0, 0, 0, 2, 0xF7]))
    write(t, "channel_messages.bin", bytes([0xB0, 7, 100, 0xC1, 5, 0x90, 60, 100]))
    write(t, "drop_output.bin", bytes([0xF0] + SIGNATURE + [0x03, 0, 0, 0, 0, 0xF7]))
    write(t, "update_replies.bin", start_reply(4) + reply(0x7F, 0x7F) + reply(0x02, 0x7F) + reply(0x04, 0x7E)
          + reply(0x04, 0x7F) * 12 + reply(0x05, 0x7F) + bytes([0xF0, 0x7E, 0x48, 0x06, 0xF7]))
    truncated = record(0x0014, pattern(68))
    write(t, "truncated_record.bin", data_chunk(10, 0, truncated[:10]))
    write(t, "empty_packet.bin", data_chunk(0, 0, b""))
    # One more packet that never completes than the ring has slots: the ring goes round.
    write(t, "abandoned_packets.bin", b"".join(data_chunk(10, 0, pattern(4, i)) for i in range(65)))


if __name__ == "__main__":
    firmware_seeds()
    engine_seeds()
    receive_seeds()
