#pragma once

#include "SimChannel.h"

namespace sim {

// The device side of a link: what answers the host on each connection the server accepts.
class Responder {
 public:
  virtual ~Responder() = default;
  // Serves one connection until it closes or a stop is requested.
  virtual void Serve(SimChannel& channel) = 0;
};

}  // namespace sim
