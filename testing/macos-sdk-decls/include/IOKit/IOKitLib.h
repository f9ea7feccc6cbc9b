// IOKit: registry objects, matching and user-client connections.
#pragma once
#include <CoreFoundation/CoreFoundation.h>
#include <mach/mach.h>

typedef mach_port_t io_object_t;
typedef io_object_t io_connect_t;
typedef io_object_t io_service_t;
typedef io_object_t io_iterator_t;
typedef io_object_t io_registry_entry_t;
typedef UInt32 IOOptionBits;

#define IO_OBJECT_NULL ((io_object_t)0)

CF_ASSUME_NONNULL_BEGIN
__BEGIN_DECLS

extern const mach_port_t kIOMainPortDefault API_AVAILABLE(macos(12.0));

CFMutableDictionaryRef _Nullable IOServiceMatching(const char* name) CF_RETURNS_RETAINED;
io_service_t IOServiceGetMatchingService(mach_port_t mainPort, CFDictionaryRef _Nullable matching);
kern_return_t IOServiceOpen(io_service_t service, task_port_t owningTask, uint32_t type,
                            io_connect_t* connect);
kern_return_t IOServiceClose(io_connect_t connect);
kern_return_t IOObjectRelease(io_object_t object);
kern_return_t IOObjectRetain(io_object_t object);

__END_DECLS
CF_ASSUME_NONNULL_END
