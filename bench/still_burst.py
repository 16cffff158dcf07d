#!/usr/bin/env python3
"""Stills under load: asks a running sampler for N stills in one write and
measures how the snapshot lines fare meanwhile.

    bench/still_burst.py BINARY SCENE [N] [ROUNDS]

Starts BINARY on SCENE with capture allowed, then ROUNDS times (default 5)
selects the display, waits for frames and writes N (default 100)
"capture-snapshot" requests at once and reads everything that comes back, fast (whole chunks, no
JSON parsing). For each round it reports how long the replies took, how many
distinct images they carried (requests answered by one frame share one), how
many snapshot lines came between them, and the largest gap between two
snapshot lines from the write until the last reply; then the median of those
gaps over the rounds.
"""
import os
import select
import statistics
import subprocess
import sys
import time


def main():
    binary, scene = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 100
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    sampler = subprocess.Popen([binary, "--platform", "simulated", "--scene", scene, "--allow-screen-capture"],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
    output = sampler.stdout.fileno()
    pending = bytearray()

    def lines(seconds):
        """(arrival time, line start, whole line for replies) until `seconds` pass."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            ready, _, _ = select.select([output], [], [], max(0.0, deadline - time.monotonic()))
            if not ready:
                continue
            chunk = os.read(output, 4 << 20)
            if not chunk:
                return
            now = time.monotonic()
            pending.extend(chunk)
            start = 0
            while (end := pending.find(b"\n", start)) >= 0:
                reply = pending.startswith(b'{"consentID"', start)
                yield now, bytes(pending[start:start + 16]), bytes(pending[start:end]) if reply else None
                start = end + 1
            del pending[:start]

    gaps = []
    for round_ in range(rounds):
        # Selected anew each round: a churning scene may have ended the last.
        sampler.stdin.write(b"capture-select\n")
        for _ in lines(3.0):  # the picker answers, frames start
            pass
        sampler.stdin.write(b"".join(b"capture-snapshot %d\n" % (round_ * count + i) for i in range(1, count + 1)))
        sent = time.monotonic()
        replies, errors, between, images, size = 0, 0, 0, set(), 0
        last_snapshot, largest, done = None, 0.0, None
        for at, head, reply in lines(10.0):
            if head.startswith(b'{"consentID"') or head.startswith(b'{"error"'):
                replies += 1
                errors += reply is None
                if reply is not None:
                    first = reply.find(b'"image":"') + 9
                    images.add(hash(reply[first:reply.find(b'"', first)]))
                    size = reply.find(b'"', first) - first
                if replies == count:
                    done = at
            else:
                if last_snapshot is not None and done is None:
                    largest = max(largest, at - last_snapshot)
                between += replies > 0 and done is None
                last_snapshot = at
            if done is not None and at > done + 0.3:
                break
        gaps.append(largest)
        took = ((done or time.monotonic()) - sent) * 1000
        print(f"round {round_ + 1}: {replies} replies ({errors} errors) of {size / 1000:.0f} kB Base64 in {took:.0f} ms, "
              f"{len(images)} distinct image(s), {between} snapshot lines among them, "
              f"largest snapshot gap {largest * 1000:.1f} ms")
    print(f"median of the largest gaps: {statistics.median(gaps) * 1000:.1f} ms over {rounds} rounds of {count}")
    sampler.stdin.write(b"quit\n")
    sampler.wait()


if __name__ == "__main__":
    main()
