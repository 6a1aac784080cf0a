"""Usage: ws_soak.py <port> <count> <seconds> [<ping interval>]

Connects to the WebSocket server on 127.0.0.1:<port> with the client's
keep-alive: a ping every <ping interval> seconds (20 by default) that must
be answered within twice that time,
sends <count> messages of random sizes from 1 byte to 100 KB, text and
binary, back to back, and checks that each comes back intact and in order
(the server's host echoes every message). It then exchanges a short message
every second until <seconds> have passed since the connection opened, and
closes with code 1000.

Prints "sent <count> <sha256 of all bodies in order>", "echoed <count>",
"ticks <n>" and "closed <code the server answered>"; a failure prints
"failed: <reason>" and exits 1. The last line is always "end"."""
import asyncio
import hashlib
import math
import random
import sys
import time

import websockets

LARGEST = 102400
# Text of one-, two- and three-byte UTF-8 characters.
ALPHABET = "abcdefghijklmnopqrstuvwxyz0123456789 \u00e9\u00fc\u20ac\u4e2d"


def make_messages(rng, count):
    pool = "".join(rng.choice(ALPHABET) for _ in range(LARGEST + 4096))
    messages = []
    for i in range(count):
        size = 1 if i == 0 else LARGEST if i == 1 else int(math.exp(rng.uniform(0, math.log(LARGEST))))
        if rng.random() < 0.5:
            messages.append(rng.randbytes(size))
        else:
            start = rng.randrange(4096)
            text = pool[start:start + size].encode()[:size].decode("utf-8", "ignore")
            messages.append(text or "a")
    return messages


def as_bytes(message):
    return message.encode() if isinstance(message, str) else message


def fail(reason):
    print(f"failed: {reason}\nend", flush=True)
    sys.exit(1)


async def main(port, count, seconds, ping_interval):
    messages = make_messages(random.Random(611), count)
    digest = hashlib.sha256(b"".join(as_bytes(m) for m in messages)).hexdigest()
    print(f"sent {count} {digest}", flush=True)
    opened = time.monotonic()
    async with websockets.connect(f"ws://127.0.0.1:{port}/soak", max_size=2 * LARGEST, open_timeout=10,
                                  close_timeout=10, ping_interval=ping_interval,
                                  ping_timeout=2 * ping_interval) as ws:
        async def send_all():
            for message in messages:
                await ws.send(message)

        sender = asyncio.create_task(send_all())
        for i, message in enumerate(messages):
            reply = await asyncio.wait_for(ws.recv(), 30)
            if as_bytes(reply) != as_bytes(message):
                fail(f"echo {i} differs: sent {len(as_bytes(message))} bytes, got {len(as_bytes(reply))}")
        await sender
        print(f"echoed {count}", flush=True)
        ticks = 0
        while time.monotonic() - opened < seconds:
            await ws.send(f"tick {ticks}")
            if await asyncio.wait_for(ws.recv(), 30) != f"tick {ticks}":
                fail(f"tick {ticks} differs")
            ticks += 1
            await asyncio.sleep(1)
        print(f"ticks {ticks}", flush=True)
        await ws.close(1000)
        print(f"closed {ws.close_code}", flush=True)


try:
    asyncio.run(main(int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]),
                     float(sys.argv[4]) if len(sys.argv) > 4 else 20.0))
except (websockets.ConnectionClosed, asyncio.TimeoutError) as error:
    fail(f"{type(error).__name__}: {error}")
print("end", flush=True)
