// AppKit's NSEvent for a program that hosts the stand-ins: key events that keep what
// they were made with. GCC's runtime takes instance variables only in an @interface,
// so the events are of a subclass of our own.
#import <AppKit/AppKit.h>

@interface CorvaneStandinKeyEvent : NSEvent {
 @public
  NSEventType type_;
  NSPoint location_;
  NSEventModifierFlags modifierFlags_;
  NSTimeInterval timestamp_;
  NSInteger windowNumber_;
  NSString* characters_;
  NSString* charactersIgnoringModifiers_;
  BOOL isARepeat_;
  unsigned short keyCode_;
}
@end

@implementation NSEvent

+ (NSEvent*)keyEventWithType:(NSEventType)type
                    location:(NSPoint)location
               modifierFlags:(NSEventModifierFlags)flags
                   timestamp:(NSTimeInterval)time
                windowNumber:(NSInteger)wNum
                     context:(NSGraphicsContext*)unusedPassNil
                  characters:(NSString*)keys
 charactersIgnoringModifiers:(NSString*)ukeys
                   isARepeat:(BOOL)flag
                     keyCode:(unsigned short)code {
  if (type != NSEventTypeKeyDown && type != NSEventTypeKeyUp && type != NSEventTypeFlagsChanged) {
    [NSException raise:NSInternalInconsistencyException format:@"invalid key event type %lu", (unsigned long)type];
  }
  CorvaneStandinKeyEvent* event = [[[CorvaneStandinKeyEvent alloc] init] autorelease];
  event->type_ = type;
  event->location_ = location;
  event->modifierFlags_ = flags;
  event->timestamp_ = time;
  event->windowNumber_ = wNum;
  event->characters_ = [keys copy];
  event->charactersIgnoringModifiers_ = [ukeys copy];
  event->isARepeat_ = flag;
  event->keyCode_ = code;
  return event;
}

- (NSEventType)type { return 0; }
- (NSPoint)locationInWindow { return NSMakePoint(0, 0); }
- (NSEventModifierFlags)modifierFlags { return 0; }
- (NSTimeInterval)timestamp { return 0; }
- (NSInteger)windowNumber { return 0; }
- (NSString*)characters { return nil; }
- (NSString*)charactersIgnoringModifiers { return nil; }
- (BOOL)isARepeat { return NO; }
- (unsigned short)keyCode { return 0; }

@end

@implementation CorvaneStandinKeyEvent

- (void)dealloc {
  [characters_ release];
  [charactersIgnoringModifiers_ release];
  [super dealloc];
}

- (NSEventType)type { return type_; }
- (NSPoint)locationInWindow { return location_; }
- (NSEventModifierFlags)modifierFlags { return modifierFlags_; }
- (NSTimeInterval)timestamp { return timestamp_; }
- (NSInteger)windowNumber { return windowNumber_; }
- (NSString*)characters { return characters_; }
- (NSString*)charactersIgnoringModifiers { return charactersIgnoringModifiers_; }
- (BOOL)isARepeat { return isARepeat_; }
- (unsigned short)keyCode { return keyCode_; }

@end
