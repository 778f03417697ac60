// Socket error codes of the channels: the Windows Sockets numbering, whose fixed texts the
// user sees, and the mapping from the Linux errno values onto it.
#pragma once

// The codes the channels produce themselves (the rest come from the errno mapping).
const int kWsaInterrupted = 10004;     // WSAEINTR: a call ended by Shutdown
const int kWsaInvalidArgument = 10022; // WSAEINVAL
const int kWsaMessageTooLong = 10040;  // WSAEMSGSIZE
const int kWsaAddrNotAvail = 10049;    // WSAEADDRNOTAVAIL
const int kWsaTimedOut = 10060;        // WSAETIMEDOUT: a socket time-out

// Message identifier for a socket error code; "Unknown ERROR" for a code outside the table.
const char* SocketErrorText(int code);
// The Windows Sockets code whose text means the same as errno value err; other values pass
// through unchanged (and so read "Unknown ERROR").
int SocketErrorFromErrno(int err);
