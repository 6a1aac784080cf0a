#pragma once

namespace devkit {

// A port on 127.0.0.1 that was free a moment ago (nothing listens on it).
int FreeLoopbackPort();

}  // namespace devkit
