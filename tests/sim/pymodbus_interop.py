#!/usr/bin/python3
"""Drives pelta-sim with an independent Modbus implementation (Debian's python3-pymodbus): holding
registers, file record writes and reads (several sub-requests in one frame) and an exception.
Exit 77 when pymodbus is missing."""
import os
import subprocess
import sys
import types

# The client package imports its serial transport eagerly; the TCP client never uses it.
for name in ("serial_asyncio", "serial"):
    try:
        __import__(name)
    except ImportError:
        sys.modules[name] = types.SimpleNamespace(create_serial_connection=None, Serial=object,
                                                  SerialException=Exception)
try:
    from pymodbus.client import ModbusTcpClient
    from pymodbus import file_message as fm
except ImportError as error:
    print("pymodbus not available: %s" % error)
    sys.exit(77)

sim = subprocess.Popen([os.path.join(os.environ.get("PELTA_BIN_DIR", "."), "pelta-sim"), "--listen", "127.0.0.1",
                        "--port", "0", "--udp-port", "0", "--version", "1.2.0.15", "--mac", "00:1A:2B:3C:4D:5E",
                        "--ip", "10.1.2.3"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
words = sim.stdout.readline().split()   # the listening line, or the reason it failed
port = int(words[words.index("tcp") + 1].rsplit(":", 1)[1]) if "tcp" in words else sys.exit(" ".join(words))
failures = []


def check(what, got, want):
    if got != want:
        failures.append("%s: got %r, want %r" % (what, got, want))


def records(answer):
    return [r.record_data for r in getattr(answer, "records", [])]


try:
    client = ModbusTcpClient("127.0.0.1", port=port, timeout=3)
    check("connect", client.connect(), True)
    check("version registers", getattr(client.read_holding_registers(2, 2, slave=0), "registers", None), [0x0102, 15])
    settings = b"\x00\x01\x12\x34\xAB\xCD"
    answer = client.execute(fm.WriteFileRecordRequest(records=[fm.FileRecord(file_number=100, record_number=7,
                                                                             record_data=settings)], slave=0))
    check("write file record echo", [(r.file_number, r.record_number, r.record_data) for r in answer.records],
          [(100, 7, settings)])
    header = b"\x00\x01" + b"\x00" * 14   # an empty firmware image: no code records, CRC-32 of nothing is 0
    answer = client.execute(fm.WriteFileRecordRequest(records=[fm.FileRecord(file_number=3, record_number=0,
                                                                             record_data=header)], slave=0))
    check("image header echo", records(answer), [header])
    reads = [(100, 7, 3), (3, 0, 8), (1, 0, 8), (1, 1, 4)]
    answer = client.execute(fm.ReadFileRecordRequest(records=[
        fm.FileRecord(file_number=f, record_number=r, record_length=n) for f, r, n in reads], slave=0))
    check("four sub-requests in one frame", records(answer),
          [settings, header, bytes.fromhex("0001001A2B3C4D5E000000000A010203"), bytes.fromhex("0001CFE5EBF2E031")])
    check("exception for an unknown register", getattr(client.read_holding_registers(100, 1, slave=0),
                                                       "exception_code", None), 2)
    client.close()
finally:
    sim.terminate()
    try:
        check("exit code after SIGTERM", sim.wait(5), 0)
    except subprocess.TimeoutExpired:
        sim.kill()
        failures.append("no exit within 5 s of SIGTERM")
for failure in failures:
    print("FAIL", failure)
print("pymodbus interop: %d failures" % len(failures))
sys.exit(1 if failures else 0)
