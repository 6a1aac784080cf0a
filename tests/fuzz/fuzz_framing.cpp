// Message framing and assembly, as the client and the server sessions read:
// the fuzzer picks the header mode, HeaderIncluded, the session kind (client,
// server as designed, server with "SplitReads", or a client whose connection
// comes and goes) and an end marker, and cuts the bytes into reads. A small
// reference parser, written from the framing rules, says which messages must
// come out; the assembler must deliver exactly those, in order, none over a
// block, and keep its blocks clean. A second assembler takes the same reads
// the general way (OnRead, every message through the assembly block) and must
// hand on and keep exactly what the session's way does.
//
// Input: one configuration byte, the marker bytes, then reads: a byte c below
// 0x80 gives a read of the next c + 1 bytes; c from 0x80 on a read of
// (c - 0x7F) * 800 bytes (at most a socket read) that starts with the next 8
// input bytes and is filled up with the byte after them. For the client whose
// connection comes and goes ("CleanFraming" on, a 50 ms time-out) a byte
// before each read says what happens first: bit 0 lets 100 ms pass, bit 1
// loses the connection, bit 2 starts a new one; the reference is not asked then.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "FuzzInput.h"
#include "platform/Time.h"
#include "framing/Framing.h"
#include "framing/MessageAssembler.h"
#include "common/SessionReads.h"

namespace {

using Bytes = std::string;
using View = std::string_view;

class Reference {
public:
    Reference(int mode, int included, bool split, bool cut, Bytes marker)
        : m_mode(mode), m_included(included == 1), m_split(split), m_cut(cut), m_marker(std::move(marker)) {}

    void OnRead(const Bytes& read) {
        if (!m_pending) return Fresh(read, 0);
        const size_t take = BelongsToPending(read);
        if (m_pend.size() + take > kDataBlockBytes) {  // too long: dropped, the read starts anew
            m_pending = false;
            return Fresh(read, 0);
        }
        m_pend += read.substr(0, take);
        size_t size = 0;
        if (!Complete(m_pend, &size)) return;
        m_pending = false;
        const Bytes message = Body(m_pend, size);
        if (Emit(message) && m_split) Fresh(read, take);
    }

    std::vector<Bytes> delivered;
    bool m_pending = false;
    Bytes m_pend;

private:
    size_t HeaderSize() const { return m_mode == 1 || m_mode == 4 ? 2 : m_mode == 2 || m_mode == 5 ? 4 : 0; }

    // The body length a header announces, as the unsigned 32-bit number the
    // receiver compares: negative 16-bit lengths become huge.
    uint64_t Announced(View h) const {
        const auto b = [&](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(h[i])); };
        int16_t n16 = 0;
        if (m_mode == 5) return uint32_t((b(0) << 24) | (b(1) << 16) | (b(2) << 8) | b(3)) - (m_included ? 4u : 0u);
        if (m_mode == 1) n16 = static_cast<int16_t>(b(0) | b(1) << 8);
        if (m_mode == 4) n16 = static_cast<int16_t>(b(0) << 8 | b(1));
        if (m_mode == 2)  // as atoi reads the four characters
            n16 = static_cast<int16_t>(fuzz::LeadingNumber(Bytes(h.substr(0, 4)), " \t\n\v\f\r"));
        if (m_included) n16 = static_cast<int16_t>(n16 - static_cast<int>(HeaderSize()));
        return static_cast<uint32_t>(static_cast<int32_t>(n16));
    }

    // Whether `a` (a message's bytes from its start) holds a whole message;
    // `size` is its size in `a`.
    bool Complete(View a, size_t* size) const {
        const size_t h = HeaderSize();
        if (h) {
            if (a.size() < h) return false;
            const uint64_t body = Announced(a);
            *size = static_cast<size_t>(h + body);
            return body <= a.size() - h;
        }
        *size = a.size();
        if (m_mode == 6) {
            const size_t end = a.find('\x03');
            if (m_cut && end != View::npos) *size = end + 1;
            return end != View::npos || a.size() > 102145;
        }
        if (m_mode != 0 || m_marker.empty() || a.size() < m_marker.size()) return true;
        // The marker stands just before the last byte.
        return a.size() > m_marker.size() && a.substr(a.size() - m_marker.size() - 1, m_marker.size()) == m_marker;
    }

    Bytes Body(View a, size_t size) const { return Bytes(a.substr(HeaderSize(), size - HeaderSize())); }

    // Bytes of `read` a pending message takes: up to its known end, else all.
    size_t BelongsToPending(const Bytes& read) const {
        if (m_mode == 6 && m_cut) {
            const size_t end = read.find('\x03');
            return end == Bytes::npos ? read.size() : end + 1;
        }
        const size_t h = HeaderSize();
        const Bytes joined = m_pend + read.substr(0, h);
        if (h == 0 || joined.size() < h) return read.size();
        const uint64_t total = h + Announced(joined);
        if (total > kDataBlockBytes || total <= m_pend.size()) return read.size();
        return std::min<uint64_t>(total - m_pend.size(), read.size());
    }

    // Messages of `read` from `pos` on; an incomplete last piece waits.
    void Fresh(const Bytes& read, size_t pos) {
        while (pos < read.size()) {
            const View rest = View(read).substr(pos);
            size_t size = 0;
            if (!Complete(rest, &size)) {
                m_pending = true;
                m_pend = Bytes(rest);
                return;
            }
            if (!Emit(Body(rest, size)) || !m_split) return;
            pos += size;
        }
    }

    // An empty body is notified but ends its read.
    bool Emit(const Bytes& body) {
        delivered.push_back(body);
        return !body.empty();
    }

    int m_mode;
    bool m_included, m_split, m_cut;
    Bytes m_marker;
};

Bytes NextRead(fuzz::Input& in) {
    const uint8_t c = in.Byte();
    if (c < 0x80) return in.Take(c + 1u);
    Bytes read = in.Take(8);
    const char fill = static_cast<char>(in.Byte());
    read.resize(std::min<size_t>((c - 0x7Fu) * 800u, kSessionReadBytes), fill);
    return read;
}

uint32_t g_tick = 1000;

// One assembler with everything it hands on recorded and checked.
struct Observed {
    Observed(const int* readNumber, bool split)
        : assembler(std::make_unique<CMessageAssembler>(
              nullptr,
              MessageDelivery{[this, readNumber](const unsigned char* bytes, int length, int error) {
                                  FUZZ_CHECK(error == *readNumber);
                                  FUZZ_CHECK(length >= 0 && static_cast<uint32_t>(length) <= kDataBlockBytes);
                                  FUZZ_CHECK(bytes[length] == 0 || static_cast<uint32_t>(length) == kDataBlockBytes);
                                  notified.emplace_back(reinterpret_cast<const char*>(bytes), length);
                              },
                              [this](const _DATA_BLOCK& block) {
                                  FUZZ_CHECK(block.length <= kDataBlockBytes);
                                  queued.emplace_back(reinterpret_cast<const char*>(block.data), block.length);
                              }},
              split)) {}
    // What waits, and nothing behind it.
    Bytes Waiting() const {
        const _DATA_BLOCK& block = assembler->AssemblyBlock();
        FUZZ_CHECK(block.length <= kDataBlockBytes);
        FUZZ_CHECK(fuzz::AllZero(block.data + block.length, kDataBlockBytes - block.length));
        return std::to_string(assembler->IsPending()) + " " + std::to_string(assembler->PendingStart()) + " " +
               Bytes(reinterpret_cast<const char*>(block.data), block.length);
    }

    std::vector<Bytes> notified, queued;
    std::unique_ptr<CMessageAssembler> assembler;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::SetTickSource([] { return g_tick; });
    fuzz::Input in(data, size);
    const uint8_t config = in.Byte();
    FramingSettings settings;
    settings.netHeader = config % 7;
    settings.headerIncluded = (config >> 3) & 1;
    settings.recvDataDelayTimeOut = INT_MAX;  // no time-out within a run
    // 0 client, 1 server as designed, 2 server with SplitReads, 3 client with losses and time-outs
    const int side = (config >> 4) & 3;
    const bool split = side != 1, losses = side == 3;
    settings.cutAtEndByte = side == 2;
    if (side == 0 || losses) settings.endMarker = in.Take(config >> 6);
    if (losses) {
        settings.cleanFraming = true;
        settings.recvDataDelayTimeOut = 50;
    }

    int readNumber = 0;  // passed as each read's error code, which every message of it must carry
    Observed session(&readNumber, split), general(&readNumber, split);
    Reference reference(settings.netHeader, settings.headerIncluded, split, settings.cutAtEndByte,
                        settings.endMarker);
    while (!in.Empty()) {
        const uint8_t events = losses ? in.Byte() : 0;
        if (events & 1) g_tick += 100;
        for (Observed* o : {&session, &general}) {
            if (events & 2) o->assembler->DropPending();
            if (events & 4) o->assembler->DiscardForNewConnection();
        }
        const Bytes read = NextRead(in);
        std::vector<unsigned char> own(read.begin(), read.end());
        own.push_back(0x5A);  // the byte behind the read must come back unchanged
        session.assembler->OnSessionRead(own.data(), static_cast<int>(read.size()), ++readNumber, settings);
        FUZZ_CHECK(own.back() == 0x5A);
        FUZZ_CHECK(read.empty() || std::memcmp(read.data(), own.data(), read.size()) == 0);
        if (!read.empty()) general.assembler->OnRead(own.data(), static_cast<int>(read.size()), readNumber, settings);
        FUZZ_CHECK(session.notified == general.notified && session.queued == general.queued);
        FUZZ_CHECK(session.Waiting() == general.Waiting());
        if (losses) continue;
        reference.OnRead(read);
        FUZZ_CHECK(session.notified.size() == reference.delivered.size());
    }
    const std::vector<Bytes>& notified = session.notified;
    std::vector<Bytes> nonEmpty;
    std::copy_if(notified.begin(), notified.end(), std::back_inserter(nonEmpty), [](const Bytes& m) { return !m.empty(); });
    FUZZ_CHECK(session.queued == nonEmpty);
    if (!losses) {
        FUZZ_CHECK(notified == reference.delivered);
        // What waits is what the reference keeps.
        FUZZ_CHECK(session.assembler->IsPending() == (reference.m_pending ? 1 : 0));
        const _DATA_BLOCK& block = session.assembler->AssemblyBlock();
        if (reference.m_pending) FUZZ_CHECK(Bytes(reinterpret_cast<const char*>(block.data), block.length) == reference.m_pend);
    }

    // The sender's frame of each message is read back as one whole frame.
    const uint32_t h = FrameHeaderSize(settings.netHeader);
    const uint32_t limit = settings.netHeader == 2 ? 9999 : h == 2 ? 32767 : kDataBlockBytes - h;
    auto frame = std::make_unique<_DATA_BLOCK>();
    for (const Bytes& m : nonEmpty) {
        if (h == 0 || m.size() + (settings.headerIncluded ? h : 0) > limit) continue;
        frame->length = static_cast<uint32_t>(m.size());
        std::memcpy(frame->data, m.data(), m.size());
        FUZZ_CHECK(BuildFrame(settings.netHeader, settings.headerIncluded, frame.get()) == m.size() + h);
        FUZZ_CHECK(CompleteFrameSize(settings.netHeader, settings.headerIncluded, frame->data, frame->length) ==
                   frame->length);
        FUZZ_CHECK(std::memcmp(frame->data + h, m.data(), m.size()) == 0);
    }
    return 0;
}
