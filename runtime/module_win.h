// The module's instance handle: every resource is loaded from it.
#pragma once
#include <windows.h>

extern HINSTANCE moduleInstance;
