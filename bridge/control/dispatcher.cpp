#include "bridge/control/dispatcher.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string_view>

#include "bridge/capture/capture.h"
#include "bridge/control/input_commands.h"
#include "bridge/control/request_fields.h"
#include "bridge/control/response.h"
#include "bridge/encoder/remote_stream.h"
#include "bridge/streaming/stream_hubs.h"
#include "bridge/streaming/stream_server.h"

namespace {

// A stream server the commands answer with, and whether it still accepts.
struct RunningServer {
  uint16_t port;
  std::shared_ptr<const std::atomic<bool>> listening;
};

// The local and the remote stream's servers: started by the first "start_capture" and
// "start_remote_stream" and reused by every later one, so every port the bridge has
// answered with keeps accepting, and replaced only once the old server has ended.
// Command thread only.
std::optional<RunningServer> localServer;
std::optional<RunningServer> remoteServer;

// Makes sure `server` holds a listening server for `hub`, starting one when there is
// none or the old one has ended. The start's error text on failure (`server` then keeps
// what it held, so the next command tries again).
std::optional<std::string> _ensureServer(std::optional<RunningServer>& server, const std::shared_ptr<StreamHub>& hub) {
  if (server && server->listening->load(std::memory_order_acquire)) return std::nullopt;
  const StreamServerStart started = startStreamServer(hub);
  if (started.error) return started.error->description();
  server = RunningServer{started.port, started.listening};
  return std::nullopt;
}

int32_t _clampToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

void _startCapture(const nlohmann::json& request) {
  const std::optional<std::string> udid = stringField(request, "udid");
  if (!udid) return respondFailure("start_capture: missing 'udid'");
  if (const auto error = _ensureServer(localServer, streamHub)) {
    return respondFailure("start_capture: failed to start stream server: " + *error);
  }
  // The server stays listening whatever the capture start says.
  const int32_t rc = csStartFramebuffer(udid->c_str(), frameCallback);
  if (rc != 0) return respondFailure(returnedMessage("start_capture: cs_start_framebuffer returned ", rc));
  respond(true, {{"port", localServer->port}});
}

void _displayInfo(const nlohmann::json&) {
  const std::optional<DisplayInfo> info = csDisplayInfo();
  if (!info) return respondFailure("display_info: no display being captured");
  respond(true, {{"width", info->width},
                 {"height", info->height},
                 {"uiOrientation", info->uiOrientation},
                 {"screenID", info->screenID}});
}

void _refreshDisplay(const nlohmann::json&) {
  csRefreshDisplay();
  respond(true);
}

void _stopCapture(const nlohmann::json&) {
  csStopFramebuffer();
  respond(true);
}

void _startRemoteStream(const nlohmann::json& request) {
  const std::optional<RemoteParams> params = remoteParams(request);
  if (!params) return respondFailure("start_remote_stream: missing 'bitrate'/'maxDim'");
  if (const auto error = _ensureServer(remoteServer, remoteHub)) {
    return respondFailure("start_remote_stream: failed to start stream server: " + *error);
  }
  SHStartRemoteStream(remoteFrameCallback, params->bitrate, params->maxDim, params->fps);
  respond(true, {{"port", remoteServer->port}});
}

void _setStreamParams(const nlohmann::json& request) {
  const std::optional<RemoteParams> params = remoteParams(request);
  if (!params) return respondFailure("set_stream_params: missing 'bitrate'/'maxDim'");
  SHSetRemoteStreamParams(params->bitrate, params->maxDim, params->fps);
  respond(true);
}

void _stopRemoteStream(const nlohmann::json&) {
  SHStopRemoteStream();
  respond(true);
}

struct Route {
  std::string_view name;
  void (*handler)(const nlohmann::json&);
};

constexpr Route kRoutes[] = {
    {"start_capture", _startCapture},
    {"display_info", _displayInfo},
    {"refresh_display", _refreshDisplay},
    {"stop_capture", _stopCapture},
    {"start_remote_stream", _startRemoteStream},
    {"set_stream_params", _setStreamParams},
    {"stop_remote_stream", _stopRemoteStream},
    {"touch", handleTouch},
    {"keyboard", handleKeyboard},
    {"hw_button", handleHwButton},
    {"button", handleButton},
};

}  // namespace

void dispatch(const nlohmann::json& request) {
  const std::optional<std::string> cmd = stringField(request, "cmd");
  if (!cmd) return respondFailure("missing 'cmd' field");
  for (const Route& route : kRoutes) {
    if (route.name == *cmd) return route.handler(request);
  }
  respondFailure("unknown command '" + *cmd + "'");
}

std::optional<RemoteParams> remoteParams(const nlohmann::json& request) {
  const std::optional<int64_t> bitrate = integerField(request, "bitrate");
  const std::optional<int64_t> maxDim = integerField(request, "maxDim");
  if (!bitrate || !maxDim) return std::nullopt;
  const int64_t fps = integerField(request, "fps").value_or(30);
  return RemoteParams{_clampToInt32(*bitrate), _clampToInt32(*maxDim), _clampToInt32(fps)};
}

std::string returnedMessage(const char* prefix, int32_t code) { return prefix + std::to_string(code); }

void resetDispatcherStateForTesting() {
  localServer.reset();
  remoteServer.reset();
}
