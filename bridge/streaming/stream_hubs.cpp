#include "bridge/streaming/stream_hubs.h"

#include <cstddef>
#include <span>
#include <utility>

std::shared_ptr<StreamHub> streamHub;
std::shared_ptr<StreamHub> remoteHub;

void createStreamHubs(std::function<void()> requestLocalKeyframe, std::function<void()> requestRemoteKeyframe) {
  streamHub = std::make_shared<StreamHub>(std::move(requestLocalKeyframe));
  remoteHub = std::make_shared<StreamHub>(std::move(requestRemoteKeyframe));
}

void resetStreamHubsForTesting() { createStreamHubs({}, {}); }

void frameCallback(const uint8_t* data, uint64_t length) {
  streamHub->broadcast(std::span<const uint8_t>(data, static_cast<size_t>(length)));
}

void remoteFrameCallback(const uint8_t* data, uint64_t length) {
  if (data == nullptr) return;
  remoteHub->broadcast(std::span<const uint8_t>(data, static_cast<size_t>(length)));
}
