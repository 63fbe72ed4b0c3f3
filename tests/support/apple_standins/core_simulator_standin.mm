// A stand-in of the CoreSimulator framework: the service context, device set, devices
// and device types, and the device I/O client with its ports, display descriptors and
// screen properties, each over the virtual simulator's object. What the virtual
// simulator throws is raised as an NSException; its errors arrive as NSError.
#include <Block.h>
#include <IOSurface/IOSurfaceRef.h>
#include <dispatch/dispatch.h>

#include <mutex>

#include "tests/support/apple_standins/standin_objects.h"
#include "tests/support/apple_standins/standin_support.h"

using platform::SimDeviceRef;

// Runs `body` on the virtual simulator; raises what it threw.
static void backed(const std::function<void()>& body) {
  std::string reason;
  if (!standin::catchingSimException(body, reason)) standin::raiseReason(reason);
}

@interface CorvaneStandinDeviceType : NSObject {
  std::shared_ptr<platform::SimDeviceType>* backing_;
}
@end

@implementation CorvaneStandinDeviceType
- (id)initWithBacking:(std::shared_ptr<platform::SimDeviceType>)backing {
  if ((self = [super init])) backing_ = new std::shared_ptr<platform::SimDeviceType>(std::move(backing));
  return self;
}
- (void)dealloc {
  delete backing_;
  [super dealloc];
}
- (BOOL)respondsToSelector:(SEL)selector {
  if (sel_isEqual(selector, @selector(productFamilyID))) return (*backing_)->respondsToProductFamilyID() ? YES : NO;
  return [super respondsToSelector:selector];
}
- (int)productFamilyID {
  int32_t family = 0;
  backed([&] { family = (*backing_)->productFamilyID(); });
  return family;
}
@end

@interface CorvaneStandinDevice : NSObject {
  SimDeviceRef* backing_;
}
@end

@implementation CorvaneStandinDevice
- (id)initWithBacking:(SimDeviceRef)backing {
  if ((self = [super init])) backing_ = new SimDeviceRef(std::move(backing));
  return self;
}
- (void)dealloc {
  delete backing_;
  [super dealloc];
}
- (const SimDeviceRef*)standinBacking { return backing_; }
- (id)UDID {
  auto udid = (*backing_)->udidString();
  return udid ? [[[NSUUID alloc] initWithUUIDString:standin::nsString(*udid)] autorelease] : nil;
}
- (id)deviceType {
  std::shared_ptr<platform::SimDeviceType> type;
  backed([&] { type = (*backing_)->deviceType(); });
  return type ? [[[CorvaneStandinDeviceType alloc] initWithBacking:type] autorelease] : nil;
}
- (BOOL)respondsToSelector:(SEL)selector {
  if (sel_isEqual(selector, @selector(setHardwareKeyboardEnabled:keyboardType:error:)))
    return (*backing_)->respondsToSetHardwareKeyboardEnabled() ? YES : NO;
  return [super respondsToSelector:selector];
}
- (BOOL)setHardwareKeyboardEnabled:(BOOL)enabled keyboardType:(unsigned int)keyboardType error:(NSError**)error {
  bool done = false;
  platform::SimErrorRef failure;
  backed([&] { done = (*backing_)->setHardwareKeyboardEnabled(enabled == YES, keyboardType, &failure); });
  if (error != nullptr) *error = standin::nsError(failure);
  return done ? YES : NO;
}
- (NSString*)description { return standin::nsString((*backing_)->description()); }
@end

@interface CorvaneStandinDeviceSet : NSObject {
  std::shared_ptr<platform::SimDeviceSet>* backing_;
}
@end

@implementation CorvaneStandinDeviceSet
- (id)initWithBacking:(std::shared_ptr<platform::SimDeviceSet>)backing {
  if ((self = [super init])) backing_ = new std::shared_ptr<platform::SimDeviceSet>(std::move(backing));
  return self;
}
- (void)dealloc {
  delete backing_;
  [super dealloc];
}
- (id)devices {
  auto devices = (*backing_)->devices();
  if (!devices) return nil;
  NSMutableArray* array = [NSMutableArray array];
  for (const auto& device : *devices)
    [array addObject:[[[CorvaneStandinDevice alloc] initWithBacking:device] autorelease]];
  return array;
}
@end

@interface CorvaneStandinServiceContext : NSObject {
  std::shared_ptr<platform::SimServiceContext>* backing_;
}
@end

@implementation CorvaneStandinServiceContext
+ (void)load {
  standin::registerPublicName(self, "SimServiceContext");
}
+ (id)sharedServiceContextForDeveloperDir:(NSString*)developerDir error:(NSError**)error {
  auto cls = standin::backingClass<platform::SimServiceContextClass>("SimServiceContext");
  auto context = cls ? cls->sharedServiceContextForDeveloperDir(standin::stdString(developerDir)) : nullptr;
  if (!context) return nil;
  CorvaneStandinServiceContext* made = [[[self alloc] init] autorelease];
  made->backing_ = new std::shared_ptr<platform::SimServiceContext>(std::move(context));
  return made;
}
- (void)dealloc {
  delete backing_;
  [super dealloc];
}
- (id)defaultDeviceSetWithError:(NSError**)error {
  auto set = (*backing_)->defaultDeviceSet();
  return set ? [[[CorvaneStandinDeviceSet alloc] initWithBacking:set] autorelease] : nil;
}
@end

@interface CorvaneStandinScreenProperties : NSObject {
 @public
  unsigned int uiOrientation_;
  unsigned int screenID_;
}
@end

@implementation CorvaneStandinScreenProperties
- (unsigned int)uiOrientation { return uiOrientation_; }
- (unsigned int)screenID { return screenID_; }
@end

@interface CorvaneStandinDisplayDescriptor : NSObject {
  platform::SimDisplayDescriptorRef* backing_;
  std::mutex* lock_;
  IOSurfaceRef surface_;               // guarded by lock_; the last surface handed out
  const platform::Surface* backingOf_; // guarded by lock_; what surface_ wraps
}
@end

@implementation CorvaneStandinDisplayDescriptor
- (id)initWithBacking:(platform::SimDisplayDescriptorRef)backing {
  if ((self = [super init])) {
    backing_ = new platform::SimDisplayDescriptorRef(std::move(backing));
    lock_ = new std::mutex;
  }
  return self;
}
- (void)dealloc {
  if (surface_ != nullptr) CFRelease(surface_);
  delete lock_;
  delete backing_;
  [super dealloc];
}
// Borrowed, as the framework's property: the descriptor keeps the surface it last
// handed out, one IOSurface per virtual surface.
- (IOSurfaceRef)framebufferSurface {
  if (standin::faultSet("nil-surface")) return nullptr;
  platform::SurfaceRef surface;
  backed([&] { surface = (*backing_)->framebufferSurface(); });
  if (!surface) return nullptr;
  std::lock_guard<std::mutex> hold(*lock_);
  if (backingOf_ != surface.get()) {
    if (surface_ != nullptr) CFRelease(surface_);
    backingOf_ = surface.get();
    surface_ = standin::ioSurfaceCreate(surface);
  }
  return surface_;
}
- (id)screenProperties {
  std::optional<platform::SimScreenProperties> properties;
  backed([&] { properties = (*backing_)->screenProperties(); });
  if (!properties) return nil;
  CorvaneStandinScreenProperties* made = [[[CorvaneStandinScreenProperties alloc] init] autorelease];
  made->uiOrientation_ = properties->uiOrientation;
  made->screenID_ = properties->screenID;
  return made;
}
@end

@interface CorvaneStandinIOPort : NSObject {
  platform::SimIOPortRef* backing_;
}
@end

@implementation CorvaneStandinIOPort
- (id)initWithBacking:(platform::SimIOPortRef)backing {
  if ((self = [super init])) backing_ = new platform::SimIOPortRef(std::move(backing));
  return self;
}
- (void)dealloc {
  delete backing_;
  [super dealloc];
}
- (NSString*)portIdentifier {
  std::string identifier;
  backed([&] { identifier = (*backing_)->portIdentifier(); });
  return standin::nsString(identifier);
}
- (id)descriptor {
  platform::SimDisplayDescriptorRef descriptor;
  backed([&] { descriptor = (*backing_)->descriptor(); });
  return descriptor ? [[[CorvaneStandinDisplayDescriptor alloc] initWithBacking:descriptor] autorelease] : nil;
}
@end

// Holds a block given to the I/O client for as long as the virtual client may call it.
struct StandinBlock {
  void (^block)(NSError*);
  explicit StandinBlock(void (^given)(NSError*)) : block(Block_copy(given)) {}
  ~StandinBlock() { Block_release(block); }
};

@interface CorvaneStandinIOClient : NSObject {
  platform::SimIOClientRef* backing_;
}
@end

@implementation CorvaneStandinIOClient
+ (void)load {
  standin::registerPublicName(self, "SimDeviceIOClient");
}
- (id)initWithDevice:(id)device errorQueue:(dispatch_queue_t)queue errorHandler:(void (^)(NSError*))handler {
  auto cls = standin::backingClass<platform::SimIOClientClass>("SimDeviceIOClient");
  const SimDeviceRef* backingDevice = standin::backingDevice(device);
  if (!cls || backingDevice == nullptr || handler == nil) {
    [self release];
    return nil;
  }
  auto kept = std::make_shared<StandinBlock>(handler);
  auto client = cls->initWithDevice(*backingDevice, platform::GlobalQueue::shared(), [kept](platform::SimErrorRef error) {
    @autoreleasepool {
      kept->block(standin::nsError(error));
    }
  });
  if (!client || !(self = [super init])) {
    [self release];
    return nil;
  }
  backing_ = new platform::SimIOClientRef(std::move(client));
  return self;
}
- (void)dealloc {
  delete backing_;
  [super dealloc];
}
- (id)ioPorts {
  NSMutableArray* ports = [NSMutableArray array];
  for (const auto& port : (*backing_)->ioPorts())
    [ports addObject:[[[CorvaneStandinIOPort alloc] initWithBacking:port] autorelease]];
  return ports;
}
@end
