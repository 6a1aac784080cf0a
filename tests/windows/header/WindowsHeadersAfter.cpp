// A host that includes the public header before the Windows headers.
#include <Tolvane.h>

#include <winsock2.h>
#include <windows.h>

#include "HostUse.h"
