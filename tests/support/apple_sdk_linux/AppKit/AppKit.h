// The AppKit key-event declarations for the Linux builds of the Apple platform sources
// only; each matches Apple's published signature. GNUstep's Foundation supplies NSPoint
// and the Foundation types; on Linux the Objective-C stand-ins define the NSEvent class.
#pragma once

#import <Foundation/Foundation.h>

typedef NSUInteger NSEventType;
enum { NSEventTypeKeyDown = 10, NSEventTypeKeyUp = 11, NSEventTypeFlagsChanged = 12 };

typedef NSUInteger NSEventModifierFlags;
enum {
  NSEventModifierFlagCapsLock = 1 << 16,
  NSEventModifierFlagShift = 1 << 17,
  NSEventModifierFlagControl = 1 << 18,
  NSEventModifierFlagOption = 1 << 19,
  NSEventModifierFlagCommand = 1 << 20,
  NSEventModifierFlagNumericPad = 1 << 21,
  NSEventModifierFlagHelp = 1 << 22,
  NSEventModifierFlagFunction = 1 << 23,
  NSEventModifierFlagDeviceIndependentFlagsMask = 0xffff0000UL
};

@class NSGraphicsContext;

@interface NSEvent : NSObject
+ (NSEvent*)keyEventWithType:(NSEventType)type
                    location:(NSPoint)location
               modifierFlags:(NSEventModifierFlags)flags
                   timestamp:(NSTimeInterval)time
                windowNumber:(NSInteger)wNum
                     context:(NSGraphicsContext*)unusedPassNil
                  characters:(NSString*)keys
 charactersIgnoringModifiers:(NSString*)ukeys
                   isARepeat:(BOOL)flag
                     keyCode:(unsigned short)code;
@property(readonly) NSEventType type;
@property(readonly) NSPoint locationInWindow;
@property(readonly) NSEventModifierFlags modifierFlags;
@property(readonly) NSTimeInterval timestamp;
@property(readonly) NSInteger windowNumber;
@property(readonly, copy) NSString* characters;
@property(readonly, copy) NSString* charactersIgnoringModifiers;
@property(readonly) BOOL isARepeat;
@property(readonly) unsigned short keyCode;
@end
