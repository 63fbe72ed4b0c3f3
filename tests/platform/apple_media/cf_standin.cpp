#include "tests/platform/apple_media/cf_standin.h"

#include <VideoToolbox/VideoToolbox.h>

#include <utility>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

// Opaque CF and CM types, completed here. Every one is a StandinObject at offset 0, so a
// CFTypeRef converts back to it.
struct StandinObject {
  explicit StandinObject(bool constant = false);
  virtual ~StandinObject();
  std::atomic<long> references{1};
  bool constant;
};

struct __CFString : StandinObject {
  explicit __CFString(const char* value) : StandinObject(true), text(value) {}
  std::string text;
};
struct __CFBoolean : StandinObject {
  explicit __CFBoolean(bool v) : StandinObject(true), value(v) {}
  bool value;
};
struct __CFNumber : StandinObject {
  CFNumberType type = 0;
  int64_t integer = 0;
  double real = 0;
};
struct __CFArray : StandinObject {
  std::vector<const void*> values;  // retained
  ~__CFArray() override {
    for (const void* value : values) CFRelease(value);
  }
};
struct __CFDictionary : StandinObject {
  std::vector<std::pair<const void*, const void*>> entries;  // retained
  ~__CFDictionary() override {
    for (auto& [key, value] : entries) {
      CFRelease(key);
      CFRelease(value);
    }
  }
};
struct opaqueCMFormatDescription : StandinObject {
  std::vector<std::vector<uint8_t>> sets;
  int nalHeaderLength = 4;
};
struct OpaqueCMBlockBuffer : StandinObject {
  std::vector<std::vector<uint8_t>> pieces;
};
struct opaqueCMSampleBuffer : StandinObject {
  bool ready = true;
  CFArrayRef attachments = nullptr;            // owned
  opaqueCMFormatDescription* format = nullptr;  // owned
  OpaqueCMBlockBuffer* block = nullptr;        // owned
  ~opaqueCMSampleBuffer() override {
    for (const void* object : {static_cast<const void*>(attachments), static_cast<const void*>(format),
                               static_cast<const void*>(block)})
      if (object != nullptr) CFRelease(object);
  }
};
struct __CVBuffer : StandinObject {};
struct OpaqueVTCompressionSession : StandinObject {
  cf_standin::SessionRecord record;
  VTCompressionOutputCallback callback = nullptr;
  void* refCon = nullptr;
  std::vector<const void*> held;  // property values and frame options, released with the session
  std::vector<bool> pending;      // frames not yet delivered: whether each is a keyframe
  ~OpaqueVTCompressionSession() override {
    for (const void* object : held) CFRelease(object);
  }
};
struct CFArrayCallBacks {
  int unused;
};
struct CFDictionaryKeyCallBacks {
  int unused;
};
struct CFDictionaryValueCallBacks {
  int unused;
};

namespace {
std::atomic<long> g_live{0};

StandinObject* objectOf(CFTypeRef cf) { return static_cast<StandinObject*>(const_cast<void*>(cf)); }
}  // namespace

StandinObject::StandinObject(bool isConstant) : constant(isConstant) {
  if (!constant) g_live.fetch_add(1);
}
StandinObject::~StandinObject() {
  if (!constant) g_live.fetch_sub(1);
}

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFArrayCallBacks kCFTypeArrayCallBacks = {0};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0};
const CFBooleanRef kCFBooleanTrue = new __CFBoolean(true);
const CFBooleanRef kCFBooleanFalse = new __CFBoolean(false);

#define STANDIN_KEY(name, text) const CFStringRef name = new __CFString(text);
STANDIN_KEY(kVTCompressionPropertyKey_RealTime, "RealTime")
STANDIN_KEY(kVTCompressionPropertyKey_AllowFrameReordering, "AllowFrameReordering")
STANDIN_KEY(kVTCompressionPropertyKey_ProfileLevel, "ProfileLevel")
STANDIN_KEY(kVTCompressionPropertyKey_Quality, "Quality")
STANDIN_KEY(kVTCompressionPropertyKey_MaxKeyFrameIntervalDuration, "MaxKeyFrameIntervalDuration")
STANDIN_KEY(kVTCompressionPropertyKey_PixelTransferProperties, "PixelTransferProperties")
STANDIN_KEY(kVTCompressionPropertyKey_ExpectedFrameRate, "ExpectedFrameRate")
STANDIN_KEY(kVTCompressionPropertyKey_AverageBitRate, "AverageBitRate")
STANDIN_KEY(kVTCompressionPropertyKey_DataRateLimits, "DataRateLimits")
STANDIN_KEY(kVTProfileLevel_H264_Main_AutoLevel, "H264_Main_AutoLevel")
STANDIN_KEY(kVTPixelTransferPropertyKey_ScalingMode, "ScalingMode")
STANDIN_KEY(kVTScalingMode_Trim, "Trim")
STANDIN_KEY(kVTEncodeFrameOptionKey_ForceKeyFrame, "ForceKeyFrame")
STANDIN_KEY(kCMSampleAttachmentKey_NotSync, "NotSync")
#undef STANDIN_KEY

CFTypeRef CFRetain(CFTypeRef cf) {
  if (cf == nullptr) std::abort();  // as CoreFoundation does
  objectOf(cf)->references.fetch_add(1);
  return cf;
}

void CFRelease(CFTypeRef cf) {
  if (cf == nullptr) std::abort();
  StandinObject* object = objectOf(cf);
  const long before = object->references.fetch_sub(1);
  if (before <= 0) std::abort();  // released once too often
  if (before == 1 && !object->constant) delete object;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
  auto* number = new __CFNumber();
  number->type = theType;
  switch (theType) {
    case kCFNumberSInt32Type: number->integer = *static_cast<const int32_t*>(valuePtr); break;
    case kCFNumberSInt64Type: number->integer = *static_cast<const int64_t*>(valuePtr); break;
    case kCFNumberFloat32Type: number->real = *static_cast<const float*>(valuePtr); break;
    case kCFNumberFloat64Type: number->real = *static_cast<const double*>(valuePtr); break;
    default: std::abort();
  }
  return number;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
  if (number->type != theType) return false;  // only exact reads in tests
  switch (theType) {
    case kCFNumberSInt32Type: *static_cast<int32_t*>(valuePtr) = static_cast<int32_t>(number->integer); break;
    case kCFNumberSInt64Type: *static_cast<int64_t*>(valuePtr) = number->integer; break;
    case kCFNumberFloat32Type: *static_cast<float*>(valuePtr) = static_cast<float>(number->real); break;
    default: *static_cast<double*>(valuePtr) = number->real; break;
  }
  return true;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) { return boolean->value; }

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex numValues, const CFArrayCallBacks*) {
  auto* array = new __CFArray();
  for (CFIndex i = 0; i < numValues; ++i) array->values.push_back(CFRetain(values[i]));
  return array;
}
CFIndex CFArrayGetCount(CFArrayRef theArray) { return static_cast<CFIndex>(theArray->values.size()); }
const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
  return theArray->values.at(static_cast<size_t>(idx));
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks*, const CFDictionaryValueCallBacks*) {
  auto* dictionary = new __CFDictionary();
  for (CFIndex i = 0; i < numValues; ++i) dictionary->entries.emplace_back(CFRetain(keys[i]), CFRetain(values[i]));
  return dictionary;
}
const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
  for (const auto& [k, v] : theDict->entries)
    if (k == key) return v;
  return nullptr;
}

Boolean CMSampleBufferDataIsReady(CMSampleBufferRef sbuf) { return sbuf->ready; }
CFArrayRef CMSampleBufferGetSampleAttachmentsArray(CMSampleBufferRef sbuf, Boolean createIfNecessary) {
  if (createIfNecessary) std::abort();  // the platform must never create one
  return sbuf->attachments;
}
CMFormatDescriptionRef CMSampleBufferGetFormatDescription(CMSampleBufferRef sbuf) { return sbuf->format; }
CMBlockBufferRef CMSampleBufferGetDataBuffer(CMSampleBufferRef sbuf) { return sbuf->block; }

OSStatus CMVideoFormatDescriptionGetH264ParameterSetAtIndex(CMFormatDescriptionRef videoDesc,
                                                            size_t parameterSetIndex,
                                                            const uint8_t** parameterSetPointerOut,
                                                            size_t* parameterSetSizeOut,
                                                            size_t* parameterSetCountOut,
                                                            int* NALUnitHeaderLengthOut) {
  if (parameterSetCountOut) *parameterSetCountOut = videoDesc->sets.size();
  if (NALUnitHeaderLengthOut) *NALUnitHeaderLengthOut = videoDesc->nalHeaderLength;
  if (parameterSetPointerOut || parameterSetSizeOut) {
    if (parameterSetIndex >= videoDesc->sets.size()) return -1;
    if (parameterSetPointerOut) *parameterSetPointerOut = videoDesc->sets[parameterSetIndex].data();
    if (parameterSetSizeOut) *parameterSetSizeOut = videoDesc->sets[parameterSetIndex].size();
  }
  return 0;
}

OSStatus CMBlockBufferGetDataPointer(CMBlockBufferRef theBuffer, size_t offset, size_t* lengthAtOffsetOut,
                                     size_t* totalLengthOut, char** dataPointerOut) {
  if (offset != 0 || theBuffer->pieces.empty()) return -1;
  size_t total = 0;
  for (const auto& piece : theBuffer->pieces) total += piece.size();
  if (lengthAtOffsetOut) *lengthAtOffsetOut = theBuffer->pieces[0].size();
  if (totalLengthOut) *totalLengthOut = total;
  if (dataPointerOut) *dataPointerOut = reinterpret_cast<char*>(theBuffer->pieces[0].data());
  return kCMBlockBufferNoErr;
}

OSStatus CMBlockBufferCopyDataBytes(CMBlockBufferRef theSourceBuffer, size_t offsetToData, size_t dataLength,
                                    void* destination) {
  std::vector<uint8_t> whole;
  for (const auto& piece : theSourceBuffer->pieces) whole.insert(whole.end(), piece.begin(), piece.end());
  if (offsetToData + dataLength > whole.size()) return -1;
  std::memcpy(destination, whole.data() + offsetToData, dataLength);
  return kCMBlockBufferNoErr;
}

}  // extern "C"

namespace {
std::mutex g_sessionLock;
cf_standin::SessionRecord g_lastSession;  // guarded by g_sessionLock
OSStatus g_failNextCreate = 0;            // guarded by g_sessionLock

void remember(const OpaqueVTCompressionSession& session) {
  std::lock_guard<std::mutex> hold(g_sessionLock);
  g_lastSession = session.record;
}
}  // namespace

extern "C" {

OSStatus VTCompressionSessionCreate(CFAllocatorRef allocator, int32_t width, int32_t height,
                                    CMVideoCodecType codecType, CFDictionaryRef encoderSpecification,
                                    CFDictionaryRef sourceImageBufferAttributes,
                                    CFAllocatorRef compressedDataAllocator, VTCompressionOutputCallback outputCallback,
                                    void* outputCallbackRefCon, VTCompressionSessionRef* compressionSessionOut) {
  cf_standin::SessionRecord record;
  record.width = width;
  record.height = height;
  record.codec = codecType;
  record.defaultArguments = allocator == nullptr && encoderSpecification == nullptr &&
                            sourceImageBufferAttributes == nullptr && compressedDataAllocator == nullptr;
  {
    std::lock_guard<std::mutex> hold(g_sessionLock);
    g_lastSession = record;
    if (const OSStatus status = std::exchange(g_failNextCreate, 0)) return status;
  }
  auto* session = new OpaqueVTCompressionSession();
  session->record = record;
  session->callback = outputCallback;
  session->refCon = outputCallbackRefCon;
  *compressionSessionOut = session;
  return 0;
}

OSStatus VTSessionSetProperty(VTSessionRef session, CFStringRef propertyKey, CFTypeRef propertyValue) {
  auto* vt = static_cast<OpaqueVTCompressionSession*>(objectOf(session));
  vt->record.propertiesSet.push_back(propertyKey->text);
  vt->record.lastValue = propertyValue;
  vt->held.push_back(CFRetain(propertyValue));
  remember(*vt);
  return 0;
}

OSStatus VTCompressionSessionPrepareToEncodeFrames(VTCompressionSessionRef) { return 0; }

OSStatus VTCompressionSessionEncodeFrame(VTCompressionSessionRef session, CVImageBufferRef imageBuffer,
                                         CMTime presentationTimeStamp, CMTime duration,
                                         CFDictionaryRef frameProperties, void*, VTEncodeInfoFlags*) {
  if (imageBuffer == nullptr || session->record.invalidated) return kVTParameterErr;
  cf_standin::EncodedFrame frame;
  frame.presentationValue = presentationTimeStamp.value;
  frame.presentationScale = presentationTimeStamp.timescale;
  frame.presentationValid = (presentationTimeStamp.flags & kCMTimeFlags_Valid) != 0;
  frame.durationValid = (duration.flags & kCMTimeFlags_Valid) != 0;
  frame.hasOptions = frameProperties != nullptr;
  if (frameProperties != nullptr) {
    frame.forceKeyFrame = CFDictionaryGetValue(frameProperties, kVTEncodeFrameOptionKey_ForceKeyFrame) == kCFBooleanTrue;
    session->held.push_back(CFRetain(frameProperties));
  }
  session->record.frames.push_back(frame);
  session->pending.push_back(frame.forceKeyFrame);
  remember(*session);
  return 0;
}

OSStatus VTCompressionSessionCompleteFrames(VTCompressionSessionRef session, CMTime) {
  std::vector<bool> pending = std::exchange(session->pending, {});
  std::thread output([&] {
    for (bool keyFrame : pending) {
      CFDictionaryRef notSync = cf_standin::makeDictionary({{kCMSampleAttachmentKey_NotSync, kCFBooleanTrue}});
      cf_standin::SampleParts parts;
      if (!keyFrame) parts.attachments = {notSync};
      parts.dataPieces = {{0, 0, 0, 2, 0x65, 0x88}};
      CMSampleBufferRef sample = cf_standin::makeSample(parts);
      session->callback(session->refCon, nullptr, 0, 0, sample);
      CFRelease(sample);
      CFRelease(notSync);
      ++session->record.delivered;
    }
  });
  output.join();
  remember(*session);
  return 0;
}

void VTCompressionSessionInvalidate(VTCompressionSessionRef session) {
  session->record.invalidated = true;
  remember(*session);
}

CMTime CMTimeMake(int64_t value, int32_t timescale) { return CMTime{value, timescale, kCMTimeFlags_Valid, 0}; }
const CMTime kCMTimeInvalid = {0, 0, 0, 0};

}  // extern "C"

namespace cf_standin {

CVPixelBufferRef makePixelBuffer() { return new __CVBuffer(); }

SessionRecord lastSession() {
  std::lock_guard<std::mutex> hold(g_sessionLock);
  return g_lastSession;
}

void failNextSessionCreate(OSStatus status) {
  std::lock_guard<std::mutex> hold(g_sessionLock);
  g_failNextCreate = status;
}

long liveObjects() { return g_live.load(); }

std::string stringText(CFTypeRef object) {
  const auto* string = dynamic_cast<const __CFString*>(static_cast<const StandinObject*>(object));
  return string ? string->text : "";
}

CFDictionaryRef makeDictionary(const std::vector<std::pair<CFTypeRef, CFTypeRef>>& entries) {
  auto* dictionary = new __CFDictionary();
  for (const auto& [key, value] : entries) dictionary->entries.emplace_back(CFRetain(key), CFRetain(value));
  return dictionary;
}

CMSampleBufferRef makeSample(const SampleParts& parts) {
  auto* sample = new opaqueCMSampleBuffer();
  sample->ready = parts.ready;
  if (parts.hasAttachments) {
    std::vector<const void*> values(parts.attachments.begin(), parts.attachments.end());
    sample->attachments = CFArrayCreate(nullptr, values.data(), static_cast<CFIndex>(values.size()), nullptr);
  }
  if (parts.hasFormat) {
    sample->format = new opaqueCMFormatDescription();
    sample->format->sets = parts.parameterSets;
    sample->format->nalHeaderLength = parts.nalHeaderLength;
  }
  if (!parts.dataPieces.empty()) {
    sample->block = new OpaqueCMBlockBuffer();
    sample->block->pieces = parts.dataPieces;
  }
  return sample;
}

}  // namespace cf_standin
