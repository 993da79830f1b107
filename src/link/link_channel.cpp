#include "link/link_channel.h"

#include <cstring>
#include <stdexcept>

namespace kalvo {

AnswerQueue::AnswerQueue(int capacity) {
    if (capacity < 3) throw std::invalid_argument("Слишком маленький буфер");
    slots_.resize(static_cast<std::size_t>(capacity));
}

bool AnswerQueue::Push(const std::uint8_t* frame, std::size_t length) {
    std::lock_guard lock(guard_);
    if (length == 0 || length >= kSlotSize || count_ >= slots_.size()) return false;
    Slot& slot = slots_[tail_];
    std::memcpy(slot.data, frame, length);
    slot.length = static_cast<std::uint16_t>(length);
    tail_ = static_cast<std::uint16_t>((tail_ + 1) % slots_.size());
    ++count_;
    return true;
}

bool AnswerQueue::Pop() {
    std::lock_guard lock(guard_);
    if (count_ == 0) return false;
    slots_[head_].length = 0;
    head_ = static_cast<std::uint16_t>((head_ + 1) % slots_.size());
    --count_;
    return true;
}

void AnswerQueue::Clear() {
    std::lock_guard lock(guard_);
    for (Slot& slot : slots_) slot.length = 0;
    head_ = tail_ = count_ = 0;
}

const std::uint8_t* AnswerQueue::Head() const {
    std::lock_guard lock(guard_);
    return count_ ? slots_[head_].data : nullptr;
}

std::uint16_t AnswerQueue::HeadLength() const {
    std::lock_guard lock(guard_);
    return count_ ? slots_[head_].length : 0;
}

LinkChannel::LinkChannel(int id, int queueCapacity)
    : queue(queueCapacity), id_(id >= 1 && id <= 31 ? id : -1) {}

void LinkChannel::RefreshCurrent() {
    currentAnswer = queue.Head();
    currentLength = queue.HeadLength();
}

void ChannelRegistry::Add(LinkChannel& channel) {
    channel.registryIndex = static_cast<int>(channels_.size());
    channels_.push_back(&channel);
}

LinkChannel* ChannelRegistry::Find(int id) const {
    for (LinkChannel* channel : channels_)
        if (channel->Id() == id) return channel;
    return nullptr;
}

}  // namespace kalvo
