#include "config/SessionSafeguards.h"

#include "config/SectionReader.h"

SessionSafeguards ReadSessionSafeguards(const SectionReader& section) {
    SessionSafeguards keys;
    keys.CleanFraming = section.Int("CleanFraming", 0);
    keys.CloseOnPartialSend = section.Int("CloseOnPartialSend", 0);
    keys.StopWakesRecvData = section.Int("StopWakesRecvData", 0);
    keys.RecvQueueLimit = section.Int("RecvQueueLimit", 0);
    keys.TraceEscapes = section.Int("TraceEscapes", 0);
    return keys;
}
