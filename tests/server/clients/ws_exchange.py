"""Sends each argument as one text message to the WebSocket server on
127.0.0.1:<port> and prints each reply as a JSON string, one per line;
prints "closed <code>" after a clean close."""
import asyncio
import json
import sys

import websockets


async def main(port, messages):
    # The server answers a close frame but leaves closing the connection to
    # the client: do not wait long for it.
    async with websockets.connect(f"ws://127.0.0.1:{port}/", open_timeout=10, close_timeout=1) as ws:
        for message in messages:
            await ws.send(message)
            reply = await asyncio.wait_for(ws.recv(), 10)
            if isinstance(reply, bytes):
                reply = reply.decode("utf-8", "replace")
            print(json.dumps(reply), flush=True)
        await ws.close(1000)
        print(f"closed {ws.close_code}", flush=True)


asyncio.run(main(int(sys.argv[1]), sys.argv[2:]))
