// ApplicationServices: CoreFoundation, CoreGraphics and the Accessibility API (HIServices).
#pragma once
#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>

typedef const struct CF_BRIDGED_TYPE(id) __AXUIElement* AXUIElementRef;
typedef const struct CF_BRIDGED_TYPE(id) __AXValue* AXValueRef;

typedef CF_ENUM(int32_t, AXError) {
    kAXErrorSuccess = 0,
    kAXErrorFailure = -25200,
    kAXErrorIllegalArgument = -25201,
    kAXErrorInvalidUIElement = -25202,
    kAXErrorInvalidUIElementObserver = -25203,
    kAXErrorCannotComplete = -25204,
    kAXErrorAttributeUnsupported = -25205,
    kAXErrorActionUnsupported = -25206,
    kAXErrorNotificationUnsupported = -25207,
    kAXErrorNotImplemented = -25208,
    kAXErrorNotificationAlreadyRegistered = -25209,
    kAXErrorNotificationNotRegistered = -25210,
    kAXErrorAPIDisabled = -25211,
    kAXErrorNoValue = -25212,
    kAXErrorParameterizedAttributeUnsupported = -25213,
    kAXErrorNotEnoughPrecision = -25214,
};

typedef CF_ENUM(UInt32, AXValueType) {
    kAXValueTypeCGPoint = 1,
    kAXValueTypeCGSize = 2,
    kAXValueTypeCGRect = 3,
    kAXValueTypeCFRange = 4,
    kAXValueTypeAXError = 5,
    kAXValueTypeIllegal = 0,
};

#define kAXFocusedUIElementAttribute CFSTR("AXFocusedUIElement")
#define kAXFocusedApplicationAttribute CFSTR("AXFocusedApplication")
#define kAXSelectedTextAttribute CFSTR("AXSelectedText")
#define kAXSelectedTextRangeAttribute CFSTR("AXSelectedTextRange")
#define kAXBoundsForRangeParameterizedAttribute CFSTR("AXBoundsForRange")
#define kAXTrustedCheckOptionPrompt CFSTR("AXTrustedCheckOptionPrompt")

CF_ASSUME_NONNULL_BEGIN
__BEGIN_DECLS

Boolean AXIsProcessTrusted(void);
Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef _Nullable options);

CFTypeID AXUIElementGetTypeID(void);
AXUIElementRef AXUIElementCreateSystemWide(void) CF_RETURNS_RETAINED;
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef _Nullable* _Nonnull value);
AXError AXUIElementCopyParameterizedAttributeValue(AXUIElementRef element,
                                                   CFStringRef parameterizedAttribute,
                                                   CFTypeRef parameter,
                                                   CFTypeRef _Nullable* _Nonnull result);
AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value);
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds);

CFTypeID AXValueGetTypeID(void);
AXValueRef _Nullable AXValueCreate(AXValueType theType, const void* valuePtr) CF_RETURNS_RETAINED;
AXValueType AXValueGetType(AXValueRef value);
Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr);

__END_DECLS
CF_ASSUME_NONNULL_END
