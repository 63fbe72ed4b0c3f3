// The private CoreSimulator and SimulatorKit methods the platform sends, declared in
// categories of our own so that they go out with ordinary message syntax (Objective-C++
// only). Only the selectors and their argument types matter; nothing here is defined.
#pragma once

#import <Foundation/Foundation.h>
#include <IOSurface/IOSurfaceRef.h>
#include <dispatch/dispatch.h>

@interface NSObject (CorvaneCoreSimulator)
+ (id)sharedServiceContextForDeveloperDir:(NSString*)developerDir error:(NSError**)error;
- (id)defaultDeviceSetWithError:(NSError**)error;
- (id)deviceType;
- (int)productFamilyID;
- (BOOL)setHardwareKeyboardEnabled:(BOOL)enabled keyboardType:(unsigned int)keyboardType error:(NSError**)error;
- (id)initWithDevice:(id)device errorQueue:(dispatch_queue_t)queue errorHandler:(void (^)(NSError*))handler;
- (NSString*)portIdentifier;
- (id)descriptor;
- (IOSurfaceRef)framebufferSurface;
- (id)screenProperties;
- (unsigned int)uiOrientation;
- (unsigned int)screenID;
@end

@interface NSObject (CorvaneSimulatorKit)
- (id)initWithDevice:(id)device error:(NSError**)error;
- (void)sendWithMessage:(void*)message
           freeWhenDone:(BOOL)freeWhenDone
        completionQueue:(dispatch_queue_t)queue
             completion:(void (^)(NSError*))completion;
@end
