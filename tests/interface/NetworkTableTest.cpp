// Hosts built by other compilers call ONetworkItf through its table alone: a
// pointer at the object's start to nine function pointers, each taking the
// object first (thiscall on 32-bit Windows: in ECX). This calls every slot
// that way, from C-style code.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "interface/Tolvane.h"

namespace {

extern "C" {
typedef struct NetworkTable {
    int(TOLVANE_ITFCALL* Start)(void* self, int reserved, int sessionIndex);
    int(TOLVANE_ITFCALL* Stop)(void* self, int reserved1, int reserved2);
    int(TOLVANE_ITFCALL* Send)(void* self, int reserved1, int reserved2, int reserved3, const void* data, int len,
                               int reserved4);
    int(TOLVANE_ITFCALL* Recv)(void* self, int reserved1, int reserved2, int reserved3, void* buf, int* len,
                               unsigned long timeoutMs);
    int(TOLVANE_ITFCALL* GetStatus)(void* self, int reserved1, int reserved2);
    int(TOLVANE_ITFCALL* Control)(void* self, const char* text, const char* dir, const char* params, int reserved);
    void(TOLVANE_ITFCALL* Reserved)(void* self);
    void(TOLVANE_ITFCALL* ReservedWithArg)(void* self, int arg);
    void(TOLVANE_ITFCALL* Release)(void* self);
} NetworkTable;
}

// Writes each call and its arguments into a log the test reads.
class RecordingNetwork final : public ONetworkItf {
public:
    RecordingNetwork(std::string& log, bool& released) : m_log(log), m_released(released) {}

    int Start(int a, int b) override { return Note("Start", {a, b}, 10); }
    int Stop(int a, int b) override { return Note("Stop", {a, b}, 11); }
    int Send(int a, int b, int c, const void* data, int len, int d) override {
        m_log += std::string(static_cast<const char*>(data), len) + " ";
        return Note("Send", {a, b, c, len, d}, 12);
    }
    int Recv(int a, int b, int c, void* buf, int* len, unsigned long timeoutMs) override {
        std::memcpy(buf, "xy", 2);
        *len = 2;
        return Note("Recv", {a, b, c, static_cast<int>(timeoutMs)}, 13);
    }
    int GetStatus(int a, int b) override { return Note("GetStatus", {a, b}, 14); }
    int Control(const char* text, const char* dir, const char* params, int reserved) override {
        m_log += std::string(text) + " " + dir + " " + params + " ";
        return Note("Control", {reserved}, 15);
    }
    void Reserved() override { Note("Reserved", {}, 0); }
    void ReservedWithArg(int a) override { Note("ReservedWithArg", {a}, 0); }
    void Release() override {
        Note("Release", {}, 0);
        m_released = true;
        delete this;
    }

private:
    int Note(const char* name, std::initializer_list<int> args, int result) {
        m_log += name;
        for (int arg : args) m_log += " " + std::to_string(arg);
        m_log += "|";
        return result;
    }

    std::string& m_log;
    bool& m_released;
};

static_assert(sizeof(ONetworkItf) == sizeof(void*), "the object starts with its table and holds nothing else");

TEST(NetworkTableTest, CStyleCallerReachesEverySlotInOrder) {
    std::string log;
    bool released = false;
    ONetworkItf* network = new RecordingNetwork(log, released);
    void* self = network;
    const NetworkTable* table = *static_cast<const NetworkTable* const*>(self);

    char buf[2] = {};
    int len = 0;
    EXPECT_EQ(10, table->Start(self, 1, 2));
    EXPECT_EQ(11, table->Stop(self, 3, 4));
    EXPECT_EQ(12, table->Send(self, 5, 6, 7, "abc", 3, 8));
    EXPECT_EQ(13, table->Recv(self, 9, 10, 11, buf, &len, 5000));
    EXPECT_EQ("xy", std::string(buf, len));
    EXPECT_EQ(14, table->GetStatus(self, 12, 13));
    EXPECT_EQ(15, table->Control(self, "text", "dir", "NDCWND=7", 14));
    table->Reserved(self);
    table->ReservedWithArg(self, 15);
    table->Release(self);

    EXPECT_TRUE(released);
    EXPECT_EQ(
        "Start 1 2|Stop 3 4|abc Send 5 6 7 3 8|Recv 9 10 11 5000|GetStatus 12 13|"
        "text dir NDCWND=7 Control 14|Reserved|ReservedWithArg 15|Release|",
        log);
}

}  // namespace
