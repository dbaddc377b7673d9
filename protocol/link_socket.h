#pragma once
// Small BSD-socket helpers of the network links.
#include "core/global.h"

#include <cstddef>

namespace LinkSocket {
// A UDP socket bound to port (0: any free one) on 127.0.0.1 when loopback,
// else on every interface with broadcast allowed. -1 on failure, errno
// saying why; bound gets the port actually bound.
int openUdp(u16 port, bool loopback, u16* bound);
// A listening TCP socket, same binding rules.
int openTcpListen(u16 port, bool loopback, u16* bound);
// Waits at most timeoutMs for fd to become readable: 1 readable, 0 not, -1 error.
int waitReadable(int fd, int timeoutMs);
// Writes all bytes, waiting for room at most timeoutMs in all; false when
// the peer is gone or the bytes are not all taken by then (a peer that reads
// a trickle is as stuck as one that does not read at all).
bool sendAll(int fd, const u8* data, size_t len, int timeoutMs);
void closeFd(int& fd);
}  // namespace LinkSocket
