#!/usr/bin/python3
"""Independent Modbus TCP server for the client's interoperability test. Listens on 127.0.0.1 at
a port the system picks and announces it in the unit simulator's start-up line, so the tests
start it as they start the simulator (the arguments they pass are ignored). Holding register a
holds 0x0100 + a; function 21 is the library's; function 20 is served here (the library's
handler answers no records): register i of record r in file f reads f * 0x100 + r * 0x10 + i."""
import asyncio
import struct
import sys
import types

# The server module imports the serial transports, which Debian only recommends; TCP needs
# none of them, so stand-ins are enough when they are missing.
for name in ("serial", "serial_asyncio"):
    try:
        __import__(name)
    except ImportError:
        sys.modules[name] = types.SimpleNamespace(create_serial_connection=None)

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.file_message import ReadFileRecordRequest
from pymodbus.pdu import ModbusResponse
from pymodbus.server.async_io import ModbusTcpServer


class RecordsResponse(ModbusResponse):
    """Read File Record response, Modbus Application Protocol V1.1b3, 6.14."""
    function_code = 0x14

    def __init__(self, records=(), **kwargs):
        ModbusResponse.__init__(self, **kwargs)
        self.records = records

    def encode(self):
        body = b"".join(struct.pack(">BB", len(data) + 1, 6) + data for data in self.records)
        return struct.pack("B", len(body)) + body


class RecordsRequest(ReadFileRecordRequest):
    def execute(self, context):  # pylint: disable=unused-argument
        return RecordsResponse([struct.pack(">%dH" % r.record_length, *[r.file_number * 0x100 + r.record_number * 0x10
                                                                         + i for i in range(r.record_length)])
                                for r in self.records])


async def main():
    block = ModbusSequentialDataBlock(0, [0x0100 + a for a in range(16)])
    context = ModbusServerContext(slaves=ModbusSlaveContext(hr=block, zero_mode=True), single=True)
    server = ModbusTcpServer(context, address=("127.0.0.1", 0), allow_reuse_address=True)
    server.decoder.register(RecordsRequest)
    task = asyncio.ensure_future(server.serve_forever())
    await server.serving
    port = server.server.sockets[0].getsockname()[1]
    print("pelta-sim: listening tcp 127.0.0.1:%d udp 127.0.0.1:0" % port, flush=True)
    await task


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
