#pragma once

class CAsyncSocketEx;
class CTraceLog;

// "CloseOnPartialSend": a frame of `framedLen` bytes of which only `written`
// went out (or -1) leaves the stream unusable, so the connection is shut down
// both ways; its close then runs as after any loss. Traces the reason and
// returns -1, the send's result.
int CloseAfterPartialSend(CTraceLog& log, CAsyncSocketEx& socket, int written, int framedLen);
