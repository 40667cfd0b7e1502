#pragma once
// A queue of demuxed packets between the read thread and one decoder. The flush packet
// marks the place where a seek cut the stream: a decoder that takes it drops its state and
// takes the serial the mark carries for what it decodes from there on.
//
// Thread rules: every member may be called from any thread; the read thread puts, one
// decoder gets, Abort wakes a decoder waiting in Get.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "engine/AVHandles.h"

class TPacketQueue {
public:
    // Each packet counts its data plus this much towards ByteSize.
    static constexpr int PacketOverhead = 72;

    ~TPacketQueue() { Clear(); }

    // The queue takes the packet; false (packet freed) when the queue was aborted.
    bool Put(PacketPtr packet);
    void PutFlush(int serial);
    // An empty packet: tells the decoder to hand out the pictures it still holds.
    void PutEmpty();
    // 1 with a packet, 2 for the flush mark (no packet, its serial in *serial), 0 when none
    // waits and block is false, -1 once aborted.
    int Get(PacketPtr& packet, bool block, int* serial = nullptr);
    void Clear();
    void Abort();
    void Start();  // clears the abort flag

    int Count() const;
    std::int64_t ByteSize() const;
    bool Aborted() const;

    static bool IsFlush(const AVPacket* p);
    static bool IsEmptyMark(const AVPacket* p) { return p && p->stream_index == -1 && !p->data; }

private:
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    struct TEntry {
        PacketPtr Packet;
        int Serial = 0;  // flush marks only
    };
    std::deque<TEntry> FPackets;
    std::int64_t FBytes = 0;
    bool FAbort = false;
};
