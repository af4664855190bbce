#!/usr/bin/env python3
"""A plain Python 3 asyncio gateway: the baseline the testbench's timing is compared with.

It speaks the simulator's protocol on 127.0.0.1:8844 (name and address announcement, frame
messages with preamble and X.25 CRC), sends beacons back to back (send, then sleep one interval),
stamps each MPDU as it arrives, judges it against its node's slot in whole milliseconds since
local midnight as the testbench does, and takes its ePDUs apart (accelerometer and joystick).
At the end it prints one RESULT line of figures for bench/timing.
"""

import argparse
import asyncio
import datetime
import resource
import statistics
import struct
import time

BEACON_ADDRESS = b"\xc7\xc7\xc7\xc7"
GATEWAY_ADDRESS = 0xE2E2E2E2


def crc_x25(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc ^ 0xFFFF


def ms_since_midnight(ns):
    now = datetime.datetime.fromtimestamp(ns / 1e9)
    midnight = now.replace(hour=0, minute=0, second=0, microsecond=0)
    return int((now - midnight).total_seconds() * 1000) & 0xFFFFFFFF


def frame_message(frame):
    preamble = 0xAA if frame[0] & 0x80 else 0x55
    return (struct.pack(">BIB", 1, len(frame) + 3, preamble) + frame
            + struct.pack(">H", crc_x25(frame)))


def beacon_frame(network_time, interval, slot, mask):
    return (BEACON_ADDRESS + bytes([12, 0]) + struct.pack("<I", network_time)
            + struct.pack("<I", interval)[:3] + struct.pack("<HH", slot, mask))


def percentile(values, p):
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    rank = max(1, -(-len(ordered) * p // 100))
    return ordered[min(len(ordered), int(rank)) - 1]


class Node:
    def __init__(self):
        self.answered = False
        self.errors = 0
        self.accelerometer = (0, 0, 0)
        self.joystick = 1


class Gateway(asyncio.Protocol):
    def __init__(self, args):
        self.args = args
        self.buffer = b""
        self.nodes = {}
        self.cycle = 0
        self.running = False
        self.beacon_ns = 0
        self.beacon_ms = 0
        self.measuring = False
        self.delay_errors = []
        self.false_verdicts = 0

    def data_received(self, data):
        received_ns = time.time_ns()
        received_ms = ms_since_midnight(received_ns)
        self.buffer += data
        while len(self.buffer) > 5:
            kind, length = struct.unpack(">BI", self.buffer[:5])
            if len(self.buffer) < 5 + length:
                break
            payload = self.buffer[5:5 + length]
            self.buffer = self.buffer[5 + length:]
            if kind == 1 and length >= 3:
                self.receive(payload[1:-2], received_ns, received_ms)

    def receive(self, frame, received_ns, received_ms):
        if len(frame) < 6 or not frame[5] & 0x80:
            return
        node_id = frame[5] & 0x7F
        node = self.nodes.setdefault(node_id, Node())
        if not self.running:
            return
        slot = self.args.slot
        delay = (received_ms - self.beacon_ms) & 0xFFFFFFFF
        in_slot = (node_id + 1) * slot <= delay <= (node_id + 2) * slot
        if not in_slot:
            node.errors += 1
        node.answered = True
        if self.measuring:
            self.delay_errors.append((received_ns - self.beacon_ns) / 1e6 - (node_id + 1.5) * slot)
            if not in_slot:
                self.false_verdicts += 1
        self.decompose(frame, node)

    @staticmethod
    def decompose(frame, node):
        end = min(5 + frame[4], len(frame))
        count = frame[6] if len(frame) > 6 else 0
        cursor = 7
        for _ in range(count):
            if cursor + 1 > end:
                node.errors += 1
                return
            header = frame[cursor]
            size = header & 7
            if cursor + 1 + size > end:
                node.errors += 1
                return
            payload = frame[cursor + 1:cursor + 1 + size]
            ident = (header >> 3) & 0xF
            if not header & 0x80 and ident == 2 and size == 6:
                node.accelerometer = struct.unpack("<hhh", payload)
            elif header & 0x80 and ident == 8 and size == 1:
                node.joystick = payload[0]
            else:
                node.errors += 1
            cursor += 1 + size
        if cursor != end:
            node.errors += 1

    def close_cycle(self):
        self.running = False
        for node in self.nodes.values():
            if not node.answered:
                node.errors += 1
                if self.measuring:
                    self.false_verdicts += 1


async def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cycles", type=int, default=60)
    parser.add_argument("--warmup", type=int, default=3)
    parser.add_argument("--interval", type=int, default=330)
    parser.add_argument("--slot", type=int, default=10)
    args = parser.parse_args()

    loop = asyncio.get_running_loop()
    transport, gateway = await loop.create_connection(lambda: Gateway(args), "127.0.0.1", 8844)
    name = b"python gateway"
    transport.write(struct.pack(">BIB", 3, 1 + len(name), 5) + name)
    await asyncio.sleep(0.01)
    transport.write(struct.pack(">BIBI", 3, 5, 1, GATEWAY_ADDRESS))

    cpu_start = 0.0
    for cycle in range(args.warmup + args.cycles):
        if cycle == args.warmup:
            gateway.measuring = True
            cpu_start = time.process_time()
        for node in gateway.nodes.values():
            node.answered = False
        gateway.running = True
        gateway.beacon_ns = time.time_ns()
        gateway.beacon_ms = ms_since_midnight(gateway.beacon_ns)
        transport.write(frame_message(
            beacon_frame(gateway.beacon_ms, args.interval, args.slot, 0xFFFF)))
        await asyncio.sleep(args.interval / 1000)
        gateway.close_cycle()
    cpu = time.process_time() - cpu_start
    transport.close()

    errors = gateway.delay_errors
    count = len(errors)
    print("RESULT mpdus=%d delay_median=%.4f delay_p99=%.4f delay_max=%.4f false=%d "
          "cpu_per_mpdu=%.4f peak_kb=%d" % (
              count, statistics.median(errors) if errors else float("nan"),
              percentile(errors, 99), max(errors) if errors else float("nan"),
              gateway.false_verdicts, cpu * 1000 / count if count else float("nan"),
              resource.getrusage(resource.RUSAGE_SELF).ru_maxrss))


if __name__ == "__main__":
    asyncio.run(main())
