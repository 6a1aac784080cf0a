#pragma once
// The Windows headers as the backend includes them: without the rarely used
// parts and without the min/max macros. Inside namespace platform the system
// functions are called as ::Name, since the platform functions share their
// names.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <windows.h>
