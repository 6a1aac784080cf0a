// A session's own read buffer lets the assembler hand whole messages on
// straight from the read; what comes out must be exactly what the general
// path gives for the same reads.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "framing/Framing.h"
#include "framing/MessageAssembler.h"
#include "log/TraceLog.h"
#include "support/Harness.h"

using namespace testsupport;

namespace {

// One assembler with everything it hands on recorded, and its trace.
struct Observed {
    explicit Observed(bool sessionReads) : sessionReads(sessionReads) {
        log.SetLogPath((dir.path() + "/").c_str());
        assembler = std::make_unique<CMessageAssembler>(
            &log, MessageDelivery{[this](const unsigned char* data, int length, int error) {
                                      events += "notify(" + std::to_string(error) + "):" +
                                                std::string(reinterpret_cast<const char*>(data), length) + "\n";
                                      zeroBehind = zeroBehind && data[length] == 0;
                                  },
                                  [this](const _DATA_BLOCK& block) {
                                      events += "queue:" +
                                                std::string(reinterpret_cast<const char*>(block.data), block.length) +
                                                "\n";
                                  }});
        if (sessionReads) {
            assembler->SetQueueBytes([this](const unsigned char* data, uint32_t length) {
                events += "queue:" + std::string(reinterpret_cast<const char*>(data), length) + "\n";
            });
        }
    }
    void Read(const std::string& bytes, int error, const FramingSettings& settings) {
        if (!sessionReads) {
            assembler->OnRead(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()),
                              error, settings);
            return;
        }
        read->Clear();
        std::copy(bytes.begin(), bytes.end(), read->data);
        read->length = static_cast<uint32_t>(bytes.size());
        assembler->OnSessionRead(read->data, static_cast<int>(bytes.size()), error, settings);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(read->data), bytes.size()), bytes) << "read changed";
    }
    // Everything observable after a read, the trace included.
    std::string State() {
        const _DATA_BLOCK& a = assembler->AssemblyBlock();
        return events + "pending " + std::to_string(assembler->IsPending()) + " start " +
               std::to_string(assembler->PendingStart()) + " assembly " +
               std::string(reinterpret_cast<const char*>(a.data), a.length) + "\n" +
               ReadTextFile(log.CurrentLogFile());
    }

    const bool sessionReads;
    TempDir dir;
    CTraceLog log;
    std::unique_ptr<CMessageAssembler> assembler;
    std::unique_ptr<_DATA_BLOCK> read = std::make_unique<_DATA_BLOCK>();
    std::string events;
    bool zeroBehind = true;
};

TEST(SessionReadTest, RandomFramesCutIntoRandomReadsComeOutAsFromTheGeneralPath) {
    platform::SetLocalTimeSource([] { return platform::LocalTime{2026, 12, 4, 9, 5, 3, 7}; });
    FakeTick tick(5000);
    std::mt19937 random(21);
    for (int round = 0; round < 300; ++round) {
        FramingSettings settings;
        settings.netHeader = std::vector<int>{1, 2, 4, 5}[random() % 4];
        settings.headerIncluded = static_cast<int>(random() % 2);
        settings.cleanFraming = random() % 2 == 0;
        settings.recvDataDelayTimeOut = 50;
        const bool splitReads = random() % 3 != 0;
        std::string wire;
        for (int i = 0, n = 1 + static_cast<int>(random() % 6); i < n; ++i) {
            const size_t len = random() % 4 == 0 ? 0 : random() % 40;
            wire += Frame(settings.netHeader, std::string(len, static_cast<char>('a' + i)), settings.headerIncluded);
        }
        if (random() % 5 == 0) wire += Bytes({0xFF, 0xF0, 0, 0});  // a header that never completes
        Observed general(false), session(true);
        general.assembler->SetSplitReads(splitReads);
        session.assembler->SetSplitReads(splitReads);
        for (size_t at = 0; at < wire.size();) {
            const size_t n = std::min(wire.size() - at, 1 + static_cast<size_t>(random() % 30));
            if (random() % 8 == 0) FakeTick::now += 100;  // past the time-out: a pending message expires
            if (random() % 10 == 0) {                      // a connection lost: its start tick stays
                general.assembler->DropPending();
                session.assembler->DropPending();
            }
            general.Read(wire.substr(at, n), static_cast<int>(round), settings);
            session.Read(wire.substr(at, n), static_cast<int>(round), settings);
            at += n;
            ASSERT_EQ(session.State(), general.State()) << "round " << round << " mode " << settings.netHeader;
        }
        EXPECT_TRUE(session.zeroBehind) << "round " << round;
    }
    platform::SetLocalTimeSource(nullptr);
}

}  // namespace
