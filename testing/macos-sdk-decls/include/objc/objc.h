// The Objective-C runtime's basic types as seen by Objective-C code on arm64.
#pragma once
#include <os/availability.h>
#include <stdbool.h>
#include <stddef.h>

typedef struct objc_class* Class;
typedef struct objc_selector* SEL;
typedef bool BOOL;
#define YES __objc_yes
#define NO __objc_no
#ifndef nil
#define nil nullptr
#endif
#ifndef Nil
#define Nil nullptr
#endif
