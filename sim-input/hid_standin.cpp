// HID framework stand-in; see hid_standin.h. Safe to call from any thread: the only
// shared state is the client counter (atomic, relaxed), and each record is a single write.

#include "hid_standin.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "hid_event_system.h"

#define HID_STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// First member of every object made here, so CFRelease can tell what it was given.
enum class ObjectKind : uint32_t { client = 0x48494443, event = 0x48494445 };

constexpr uint32_t kMaxUsageValue = 0xFFFF;

std::atomic<unsigned> g_clientCount{0};  // relaxed: only numbers the clients

}  // namespace

struct IOHIDEventSystemClientOpaque {
  ObjectKind kind = ObjectKind::client;
  unsigned id = 0;
};

struct IOHIDEventOpaque {
  ObjectKind kind = ObjectKind::event;
  uint64_t time = 0;
  uint32_t page = 0;
  uint32_t usage = 0;
  bool down = false;
};

namespace {

// Appends one formatted line to the recording descriptor, if the caller chose one.
__attribute__((format(printf, 1, 2))) void record(const char* format, ...) {
  const char* fdText = std::getenv(kHIDStandInRecordFdVariable);
  if (fdText == nullptr || *fdText == '\0') return;
  char* end = nullptr;
  const long fd = std::strtol(fdText, &end, 10);
  if (*end != '\0' || fd < 0 || fd > INT32_MAX) return;

  char line[256];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(line, sizeof line - 1, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  size_t size = std::min(static_cast<size_t>(length), sizeof line - 2);
  line[size++] = '\n';
  (void)!write(static_cast<int>(fd), line, size);
}

}  // namespace

HID_STANDIN_EXPORT IOHIDEventSystemClientRef IOHIDEventSystemClientCreate(CFAllocatorRef) {
  auto* client = new IOHIDEventSystemClientOpaque;
  client->id = g_clientCount.fetch_add(1, std::memory_order_relaxed) + 1;
  record("client id=%u", client->id);
  return client;
}

HID_STANDIN_EXPORT IOHIDEventRef IOHIDEventCreateKeyboardEvent(CFAllocatorRef, uint64_t timeStamp, uint32_t usagePage,
                                                               uint32_t usage, unsigned char down, uint32_t options) {
  const bool refused = usagePage == 0 || usagePage > kMaxUsageValue || usage > kMaxUsageValue;
  record("create page=%" PRIu32 " usage=%" PRIu32 " down=%d time=%" PRIu64 " options=%" PRIu32 " %s", usagePage, usage,
         down ? 1 : 0, timeStamp, options, refused ? "refused" : "made");
  if (refused) return nullptr;
  auto* event = new IOHIDEventOpaque;
  event->time = timeStamp;
  event->page = usagePage;
  event->usage = usage;
  event->down = down != 0;
  return event;
}

HID_STANDIN_EXPORT void IOHIDEventSystemClientDispatchEvent(IOHIDEventSystemClientRef client, IOHIDEventRef event) {
  if (client == nullptr || event == nullptr) return;
  record("dispatch client=%u page=%" PRIu32 " usage=%" PRIu32 " down=%d time=%" PRIu64, client->id, event->page,
         event->usage, event->down ? 1 : 0, event->time);
}

HID_STANDIN_EXPORT void CFRelease(CFTypeRef object) {
  if (object == nullptr) return;
  switch (*static_cast<const ObjectKind*>(object)) {
    case ObjectKind::event: {
      const auto* event = static_cast<const IOHIDEventOpaque*>(object);
      record("release page=%" PRIu32 " usage=%" PRIu32 " down=%d time=%" PRIu64, event->page, event->usage,
             event->down ? 1 : 0, event->time);
      delete event;
      break;
    }
    case ObjectKind::client:
      delete static_cast<const IOHIDEventSystemClientOpaque*>(object);
      break;
  }
}
