#pragma once

namespace devkit {

// A port on 127.0.0.1 that was free a moment ago (nothing listens on it),
// for a server to listen on later or for a connect that must be refused.
// It lies below the ranges the kernels hand out to outgoing connections
// (Linux from 32768, Windows from 49152), so no connection made meanwhile,
// by this process or another, can take it as its local port.
int FreeLoopbackPort();

}  // namespace devkit
