// Mach kernel types and the task port, as used by IOKit callers.
#pragma once
#include <os/availability.h>

typedef unsigned int __darwin_natural_t;
typedef __darwin_natural_t natural_t;
typedef natural_t mach_port_t;
typedef mach_port_t task_t;
typedef mach_port_t task_port_t;
typedef int kern_return_t;

#define KERN_SUCCESS 0
#define KERN_INVALID_ARGUMENT 4
#define KERN_FAILURE 5
#define MACH_PORT_NULL 0

__BEGIN_DECLS
extern mach_port_t mach_task_self_;
__END_DECLS
#define mach_task_self() mach_task_self_
#define current_task() mach_task_self()
