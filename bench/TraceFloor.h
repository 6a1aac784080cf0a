#pragma once
#include <cstddef>
#include <string>

// The least any build of the library can spend on its trace: the records it
// writes for the same traffic, each appended with one open, write and close
// of a file in the same folder, with a fresh time stamp and the same size.
// The benchmarks' plain client and server write them to give the floor that
// the library is measured against.
class TraceFloor {
public:
    // Records go to `folder` + "/TraceFloor.log".
    explicit TraceFloor(const std::string& folder);

    // One record: time stamp, the direction's prefix (1 TRANSMIT, 2 RECEIVE,
    // else a plain event), `text`, CR LF.
    void Write(int direction, const char* text, size_t len);
    void Write(int direction, const std::string& text) { Write(direction, text.data(), text.size()); }

    // The records the library writes for frames of header mode 5: the read
    // traces of `bytes` received, one per read of at most the library's read
    // size, each read taken to start with a frame of `body`; the TRANSMIT
    // record of a sent `body` (masked, as with "MaskLog" 1); the RECEIVE
    // record of `body`.
    void Reads(size_t bytes, const std::string& body);
    void Transmit(const std::string& body);
    void Receive(const std::string& body);

private:
    std::string m_path;
    std::string m_record;  // kept, so that a record allocates nothing
    std::string m_text;
    std::string m_frame;
};
