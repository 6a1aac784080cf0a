// A host that includes the Windows headers before the public header.
#include <winsock2.h>
#include <windows.h>

#include <Tolvane.h>

#include "HostUse.h"
