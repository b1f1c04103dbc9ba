import asyncio, json, sys, websockets
port, token, names = sys.argv[1], sys.argv[2], sys.argv[3:]
async def one(name, delay):
    await asyncio.sleep(delay)
    async with websockets.connect(f"ws://127.0.0.1:{port}/ws") as ws:
        await ws.send(json.dumps({"v": 1, "type": "hello", "name": name, "token": token}))
        while True:
            await ws.send(json.dumps({"v": 1, "type": "ping"}))
            await asyncio.sleep(1)
async def main():
    await asyncio.gather(*(one(n, i * 0.5) for i, n in enumerate(names)))
asyncio.run(main())
