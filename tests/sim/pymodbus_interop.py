#!/usr/bin/python3
"""Drives pelta-sim with an independent Modbus implementation (Debian's python3-pymodbus) to
show that its framing is standard: holding registers, file record writes and reads (several
sub-requests in one frame too) and an exception answer. Exit 77 when pymodbus is missing."""
import os
import select
import signal
import subprocess
import sys
import time
import types

SKIP = 77
START_TIMEOUT_S = 10
STOP_TIMEOUT_S = 5


def import_pymodbus():
    # The client package imports its serial transport eagerly; these modules are only
    # recommended by the Debian package and the TCP client never uses them.
    for name in ("serial_asyncio", "serial"):
        try:
            __import__(name)
        except ImportError:
            stub = types.ModuleType(name)
            stub.create_serial_connection = None
            stub.Serial = object
            stub.SerialException = Exception
            sys.modules[name] = stub
    from pymodbus.client import ModbusTcpClient
    from pymodbus import file_message
    return ModbusTcpClient, file_message


def start_sim():
    binary = os.path.join(os.environ.get("PELTA_BIN_DIR", "."), "pelta-sim")
    sim = subprocess.Popen([binary, "--listen", "127.0.0.1", "--port", "0", "--udp-port", "0",
                            "--version", "1.2.0.15", "--mac", "00:1A:2B:3C:4D:5E", "--ip", "10.1.2.3"],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + START_TIMEOUT_S
    line = b""
    while time.monotonic() < deadline and b"\n" not in line:
        ready, _, _ = select.select([sim.stdout], [], [], deadline - time.monotonic())
        if not ready:
            break
        chunk = os.read(sim.stdout.fileno(), 256)
        if not chunk:
            break
        line += chunk
    words = line.decode(errors="replace").split()
    if "listening" not in words:
        sim.kill()
        sim.wait(STOP_TIMEOUT_S)
        sys.exit("no listening line from pelta-sim: %r" % line)
    port = int(words[words.index("tcp") + 1].rsplit(":", 1)[1])
    return sim, port


def main():
    try:
        ModbusTcpClient, fm = import_pymodbus()
    except ImportError as error:
        print("pymodbus not available: %s" % error)
        return SKIP
    sim, port = start_sim()
    failures = []

    def check(what, got, want):
        if got != want:
            failures.append("%s: got %r, want %r" % (what, got, want))

    try:
        client = ModbusTcpClient("127.0.0.1", port=port, timeout=3)
        if not client.connect():
            failures.append("connect failed")
            return 1
        answer = client.read_holding_registers(2, 2, slave=0)
        check("version registers", getattr(answer, "registers", None), [0x0102, 0x000F])

        record = fm.FileRecord(file_number=100, record_number=7, record_data=b"\x00\x01\x12\x34\xAB\xCD")
        answer = client.execute(fm.WriteFileRecordRequest(records=[record], slave=0))
        echoed = [(r.file_number, r.record_number, r.record_data) for r in getattr(answer, "records", [])]
        check("write file record echo", echoed, [(100, 7, b"\x00\x01\x12\x34\xAB\xCD")])

        answer = client.execute(fm.ReadFileRecordRequest(
            records=[fm.FileRecord(file_number=100, record_number=7, record_length=3)], slave=0))
        check("settings record read", [r.record_data for r in getattr(answer, "records", [])],
              [b"\x00\x01\x12\x34\xAB\xCD"])

        # Header of an empty firmware image (no code records, CRC-32 of nothing is 0).
        header = b"\x00\x01" + b"\x00" * 14
        answer = client.execute(fm.WriteFileRecordRequest(
            records=[fm.FileRecord(file_number=3, record_number=0, record_data=header)], slave=0))
        check("image header echo", [r.record_data for r in getattr(answer, "records", [])], [header])

        answer = client.execute(fm.ReadFileRecordRequest(records=[
            fm.FileRecord(file_number=3, record_number=0, record_length=8),
            fm.FileRecord(file_number=1, record_number=0, record_length=8),
            fm.FileRecord(file_number=1, record_number=1, record_length=4)], slave=0))
        check("three sub-requests in one frame", [r.record_data for r in getattr(answer, "records", [])], [
            b"\x00\x01" + b"\x00" * 14,
            bytes.fromhex("0001001A2B3C4D5E000000000A010203"),
            bytes.fromhex("0001CFE5EBF2E031")])

        answer = client.read_holding_registers(100, 1, slave=0)
        check("exception for an unknown register", getattr(answer, "exception_code", None), 2)
        client.close()
    finally:
        sim.send_signal(signal.SIGTERM)
        try:
            code = sim.wait(STOP_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            sim.kill()
            code = sim.wait(STOP_TIMEOUT_S)
        check("exit code after SIGTERM", code, 0)
        for failure in failures:
            print("FAIL", failure)
    print("pymodbus interop: %d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
