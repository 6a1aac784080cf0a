#pragma once
#include "common/DataBlock.h"

class CTraceLog;

// Trace records of the receive path, shared by client and server sessions.

// A read that returned n <= 0 (plain sockets only).
void WriteReadFailedTrace(CTraceLog& log, int error, int n, int lastError);
// A read of n > 0 bytes held in `read`: the first two bytes in hex and, for
// longer reads, the rest as text.
void WriteReadTrace(CTraceLog& log, int error, const _DATA_BLOCK& read, int n);
// The RECEIVE record of a complete message.
void WriteReceiveRecord(CTraceLog& log, const _DATA_BLOCK& message);
void WriteReceiveRecord(CTraceLog& log, const unsigned char* data, uint32_t length);
