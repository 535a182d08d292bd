#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vel::testing {

// A TCP socket bound to 127.0.0.1 with a port of the system's choice, not listening: a connect to
// it is refused while it is open. *address gets the port (in network byte order).
inline int BindOnLoopback(sockaddr_in* address) {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  *address = sockaddr_in{};
  address->sin_family = AF_INET;
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(socket, reinterpret_cast<sockaddr*>(address), sizeof *address);
  socklen_t length = sizeof *address;
  getsockname(socket, reinterpret_cast<sockaddr*>(address), &length);
  return socket;
}

// A listening TCP socket on 127.0.0.1 with a port of the system's choice; *address gets where
// it listens (the port in network byte order).
inline int ListenOnLoopback(int backlog, sockaddr_in* address) {
  const int listener = BindOnLoopback(address);
  ::listen(listener, backlog);
  return listener;
}

}  // namespace vel::testing
