#include "bridge/control/process_start.h"

#include <csignal>

#include "bridge/encoder/encoder.h"
#include "bridge/streaming/stream_hubs.h"

void startBridgeProcess() {
  std::signal(SIGPIPE, SIG_IGN);
  createStreamHubs(SHRequestKeyframe, SHRequestRemoteKeyframe);
}
