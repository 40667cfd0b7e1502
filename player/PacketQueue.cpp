#include "player/PacketQueue.h"

#include <cstring>

namespace {
// One shared marker: a flush packet is recognised by its data pointer, never by contents.
std::uint8_t gFlushData[] = "FLUSH";
}  // namespace

bool TPacketQueue::IsFlush(const AVPacket* p) { return p && p->data == gFlushData; }

bool TPacketQueue::Put(PacketPtr packet) {
    std::lock_guard lock(FMutex);
    if (FAbort) return false;
    FBytes += packet->size + PacketOverhead;
    FPackets.push_back({std::move(packet), 0});
    FChanged.notify_one();
    return true;
}

void TPacketQueue::PutFlush(int serial) {
    PacketPtr p(avcodec().av_packet_alloc());
    if (!p) return;
    p->data = gFlushData;  // not reference counted: the queue never frees it
    p->size = sizeof gFlushData - 1;
    std::lock_guard lock(FMutex);
    if (FAbort) {
        p->data = nullptr;
        return;
    }
    FBytes += p->size + PacketOverhead;
    FPackets.push_back({std::move(p), serial});
    FChanged.notify_one();
}

void TPacketQueue::PutEmpty() {
    PacketPtr p(avcodec().av_packet_alloc());
    if (!p) return;
    p->stream_index = -1;
    Put(std::move(p));
}

int TPacketQueue::Get(PacketPtr& packet, bool block, int* serial) {
    std::unique_lock lock(FMutex);
    for (;;) {
        if (FAbort) return -1;
        if (!FPackets.empty()) {
            packet = std::move(FPackets.front().Packet);
            const int markSerial = FPackets.front().Serial;
            FPackets.pop_front();
            FBytes -= packet->size + PacketOverhead;
            if (IsFlush(packet.get())) {
                packet->data = nullptr;  // keep av_packet_free away from the static marker
                packet.reset();
                if (serial) *serial = markSerial;
                return 2;
            }
            return 1;
        }
        if (!block) return 0;
        FChanged.wait(lock);
    }
}

void TPacketQueue::Clear() {
    std::lock_guard lock(FMutex);
    for (TEntry& e : FPackets)
        if (IsFlush(e.Packet.get())) e.Packet->data = nullptr, e.Packet->size = 0;
    FPackets.clear();
    FBytes = 0;
}

void TPacketQueue::Abort() {
    std::lock_guard lock(FMutex);
    FAbort = true;
    FChanged.notify_all();
}

void TPacketQueue::Start() {
    std::lock_guard lock(FMutex);
    FAbort = false;
}

int TPacketQueue::Count() const {
    std::lock_guard lock(FMutex);
    return int(FPackets.size());
}

std::int64_t TPacketQueue::ByteSize() const {
    std::lock_guard lock(FMutex);
    return FBytes;
}

bool TPacketQueue::Aborted() const {
    std::lock_guard lock(FMutex);
    return FAbort;
}
