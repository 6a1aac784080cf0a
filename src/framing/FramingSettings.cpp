#include "framing/FramingSettings.h"

#include "log/TraceLog.h"

std::string ValidateEndMarker(const std::string& marker, CTraceLog* log) {
    if (marker.size() <= kMaxEndMarkerLength) return marker;
    if (log) {
        log->WriteLog("MsgEndData Too Long(%d > %d). End Marker Ignored.", static_cast<int>(marker.size()),
                      static_cast<int>(kMaxEndMarkerLength));
    }
    return std::string();
}
