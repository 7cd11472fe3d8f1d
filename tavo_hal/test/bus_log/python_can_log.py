#!/usr/bin/python3
"""python-can's own candump log writer and reader, for the bus log tools' tests.

  python_can_log.py write LOG   frames on standard input, one per line, into LOG
  python_can_log.py read LOG    the frames python-can reads from LOG, one per line

A frame line: ID EXTENDED REMOTE FD BRS ESI DLC DATA, the identifier and data in hex ("-" for no data),
the flags 0 or 1; DLC counts the data bytes, or is a remote frame's length.
"""
import sys

import can


def message_of(line, index):
    can_id, extended, remote, fd, brs, esi, dlc, data = line.split()
    return can.Message(timestamp=1700000000.0 + index / 100, arbitration_id=int(can_id, 16), is_extended_id=extended == "1",
                       is_remote_frame=remote == "1", is_fd=fd == "1", bitrate_switch=brs == "1",
                       error_state_indicator=esi == "1", dlc=int(dlc),
                       data=None if data == "-" else bytes.fromhex(data), channel="can0")


def line_of(msg):
    data = msg.data.hex().upper() if msg.data and not msg.is_remote_frame else "-"
    flags = [msg.is_extended_id, msg.is_remote_frame, msg.is_fd, msg.bitrate_switch, msg.error_state_indicator]
    return "%X %s %d %s" % (msg.arbitration_id, " ".join(str(int(f)) for f in flags), msg.dlc, data)


def main(mode, path):
    if mode == "write":
        with can.CanutilsLogWriter(path) as writer:
            for index, line in enumerate(line for line in sys.stdin if line.strip()):
                writer.on_message_received(message_of(line, index))
    elif mode == "read":
        for msg in can.CanutilsLogReader(path):
            print(line_of(msg))
    else:
        sys.exit("python_can_log.py: mode is write or read, got " + mode)


if __name__ == "__main__":
    main(*sys.argv[1:3])
