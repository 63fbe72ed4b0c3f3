#include "bridge/control/dispatcher.h"

#include <algorithm>
#include <string_view>

#include "bridge/capture/capture.h"
#include "bridge/control/input_commands.h"
#include "bridge/control/request_fields.h"
#include "bridge/control/response.h"
#include "bridge/encoder/remote_stream.h"
#include "bridge/streaming/stream_hubs.h"
#include "bridge/streaming/stream_server.h"

namespace {

// The remote stream's one server port, set by the first successful
// "start_remote_stream" and never changed afterwards. Command thread only.
std::optional<uint16_t> remotePort;

int32_t _clampToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

void _startCapture(const nlohmann::json& request) {
  const std::optional<std::string> udid = stringField(request, "udid");
  if (!udid) return respondFailure("start_capture: missing 'udid'");
  const StreamServerStart server = startStreamServer(streamHub);
  if (server.error) {
    return respondFailure("start_capture: failed to start stream server: " + server.error->description());
  }
  // The server stays listening whatever the capture start says.
  const int32_t rc = csStartFramebuffer(udid->c_str(), frameCallback);
  if (rc != 0) return respondFailure(returnedMessage("start_capture: cs_start_framebuffer returned ", rc));
  respond(true, {{"port", server.port}});
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
  if (!remotePort) {
    const StreamServerStart server = startStreamServer(remoteHub);
    if (server.error) {
      return respondFailure("start_remote_stream: failed to start stream server: " + server.error->description());
    }
    remotePort = server.port;
  }
  SHStartRemoteStream(remoteFrameCallback, params->bitrate, params->maxDim, params->fps);
  respond(true, {{"port", *remotePort}});
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

void resetDispatcherStateForTesting() { remotePort.reset(); }
