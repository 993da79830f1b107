#pragma once
// Logical channels of the link and their answer queues.
//
// Thread use: the reader thread pushes (DispatchFrame), the user-interface thread pops and
// clears (Transact). Every access to a channel's fields or queue happens under the link lock
// held by Link; the queue's own mutex stands for the per-queue semaphore that guards push and pop.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace kalvo {

class AnswerQueue {
public:
    static constexpr std::size_t kSlotSize = 1000;

    // Throws std::invalid_argument("Слишком маленький буфер") for a capacity below 3.
    explicit AnswerQueue(int capacity);

    // Copies a frame into the tail slot; false (dropped) for 0 or kSlotSize+ bytes or a full queue.
    bool Push(const std::uint8_t* frame, std::size_t length);
    // Drops the oldest frame; false when empty.
    bool Pop();
    void Clear();

    int Capacity() const { return static_cast<int>(slots_.size()); }
    int Count() const { return count_; }
    // Oldest frame, or null when empty.
    const std::uint8_t* Head() const;
    std::uint16_t HeadLength() const;

private:
    struct Slot {
        std::uint16_t length = 0;
        std::uint8_t data[kSlotSize];
    };
    std::vector<Slot> slots_;
    std::uint16_t head_ = 0;
    std::uint16_t tail_ = 0;
    std::uint16_t count_ = 0;
    mutable std::mutex guard_;
};

class LinkChannel {
public:
    static constexpr int kQueueCapacity = 10;

    // Ids are 5-bit addresses; anything outside 1..31 gives an invalid channel (id -1).
    explicit LinkChannel(int id, int queueCapacity = kQueueCapacity);

    int Id() const { return id_; }
    bool IsValid() const { return id_ > 0; }

    int registryIndex = -1;
    int answerCount = 0;
    AnswerQueue queue;
    const std::uint8_t* currentAnswer = nullptr;  // header first
    int currentLength = 0;
    std::uint8_t destination[2] = {0x00, 0x01};  // every request goes to address 1
    // Resent requests on this channel; its user resets and reads it.
    int repeatCounter = 0;

    // Points the current answer at the queue head (or null).
    void RefreshCurrent();

private:
    int id_;
};

// All channels, found by id. Guarded by the link lock.
class ChannelRegistry {
public:
    void Add(LinkChannel& channel);
    LinkChannel* Find(int id) const;

private:
    std::vector<LinkChannel*> channels_;
};

}  // namespace kalvo
