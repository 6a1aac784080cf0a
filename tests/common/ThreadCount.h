#pragma once
#include <thread>

#include "support/TestSupport.h"

// The number of threads of this process after a first thread has come and
// gone, so that helper threads a runtime starts with the first thread (a
// sanitizer's) are already counted.
inline int SettledThreadCount() {
    std::thread([] {}).join();
    return testsupport::CountThreads();
}
