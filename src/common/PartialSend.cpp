#include "common/PartialSend.h"

#include "common/AsyncSocketEx.h"
#include "log/TraceLog.h"

int CloseAfterPartialSend(CTraceLog& log, CAsyncSocketEx& socket, int written, int framedLen) {
    log.WriteLog("SendData Incomplete(%d of %d Bytes). Connection Closed.", written, framedLen);
    socket.ShutDown(2);  // both directions: nothing more is written, the close event follows
    return -1;
}
