#include "link/link.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "link/device_answers.h"
#include "platform/tick_clock.h"

namespace kalvo {

namespace {
// How long Transact waits for the reader's signal before letting the front end pump events.
constexpr auto kWaitSlice = std::chrono::milliseconds(20);
constexpr std::size_t kReceiveChunk = 1000;
}  // namespace

Link::Link(SerialPort& port, UiPort& ui) : port_(port), ui_(ui) {
    std::lock_guard lock(lock_);
    registry_.Add(channel1_);
    registry_.Add(channel2_);
    registry_.Add(channel3_);
}

LinkChannel* Link::Channel(int id) {
    std::lock_guard lock(lock_);
    return registry_.Find(id);
}

void Link::SendFrame(LinkChannel* channel, const std::uint8_t* payload, std::size_t length) {
    if (!channel || !payload || length < 2) return;
    std::lock_guard lock(lock_);
    std::uint8_t buffer[4 + FrameCodec::kOutputSize];
    if (length > FrameCodec::kOutputSize) return;  // could never encode
    buffer[0] = channel->destination[0];
    buffer[1] = channel->destination[1];
    buffer[2] = 0x00;
    buffer[3] = static_cast<std::uint8_t>(channel->Id() & 0x1F);
    std::memcpy(buffer + 4, payload, length);
    if (!codec_.Encode(buffer, 4 + length)) return;
    const std::uint8_t* out = codec_.Output();
    std::size_t remaining = codec_.OutputLength();
    while (remaining > 0) {
        std::size_t piece = std::min(remaining, kWritePiece);
        port_.Write(out, piece);
        out += piece;
        remaining -= piece;
    }
}

bool Link::Transact(LinkChannel* channel, const std::uint8_t* request, std::size_t length, bool retry,
                    std::string_view failureText) {
    return Exchange(channel, request, length, retry, failureText, nullptr);
}

bool Link::TransactRead(LinkChannel* channel, const std::uint8_t* request, std::size_t length,
                        std::size_t echoLength, std::size_t answerLength, std::string_view failureText) {
    if (echoLength + 2 > length) return false;
    ForgetTimesOfEarlierConnections();
    const RepeatShape shape{echoLength, answerLength, &roundTrip_};
    return Exchange(channel, request, length, true, failureText, &shape);
}

bool Link::TransactRepeatable(LinkChannel* channel, const std::uint8_t* request, std::size_t length,
                              std::size_t echoLength, std::size_t answerLength, std::string_view failureText) {
    if (!request || echoLength + 2 > length) return false;
    ForgetTimesOfEarlierConnections();
    const auto code = static_cast<std::uint16_t>(request[0] << 8 | request[1]);
    const RepeatShape shape{echoLength, answerLength, &repeatTimes_[code]};
    return Exchange(channel, request, length, true, failureText, &shape);
}

RoundTripEstimator Link::RoundTripOf(std::uint8_t code0, std::uint8_t code1) const {
    auto found = repeatTimes_.find(static_cast<std::uint16_t>(code0 << 8 | code1));
    return found == repeatTimes_.end() ? RoundTripEstimator() : found->second;
}

void Link::ForgetTimesOfEarlierConnections() {
    if (port_.OpenCount() == timedOpening_) return;
    roundTrip_.Reset();
    for (auto& [code, timing] : repeatTimes_) timing.Reset();
    timedOpening_ = port_.OpenCount();
}

bool Link::Exchange(LinkChannel* channel, const std::uint8_t* request, std::size_t length, bool retry,
                    std::string_view failureText, const RepeatShape* repeat) {
    using Clock = std::chrono::steady_clock;
    using Milliseconds = std::chrono::duration<double, std::milli>;
    if (!channel || !request || length < 2 || !port_.IsOpen()) return false;
    // Both frames with start, header, check and end bytes. Escapes are rare; one that makes an
    // answer late costs only a needless repeat, whose answer is then dropped as stale.
    const std::size_t wireBytes = repeat ? length + repeat->answerLength + 2 * 8 : 0;
    auto answerTime = [&] {
        return repeat ? Milliseconds(repeat->timing->TimeoutMs(wireBytes)) : Milliseconds(kAnswerTimeoutMs);
    };
    // A repeatable request is sent again after the learnt time, but given up no sooner than the
    // fixed attempts would.
    const Milliseconds budget(static_cast<double>(kAnswerTimeoutMs) * kTransactAttempts);

    ClearAnswers(channel);
    int sends = 1;
    // The device answered, but never with what was asked: a wrong answer, not a missing one.
    bool strayAnswer = false;
    std::uint64_t seen;
    {
        std::lock_guard signal(arrivalMutex_);
        seen = arrivals_;
    }
    SendFrame(channel, request, length);
    const Clock::time_point first = Clock::now();
    Clock::time_point lastSend = first;
    Milliseconds wait = answerTime();

    for (;;) {
        bool moreQueued = false;
        {
            std::lock_guard lock(lock_);
            if (channel->answerCount > 0 && channel->currentAnswer) {
                const std::uint8_t* payload = channel->currentAnswer + 4;
                bool matches = channel->currentLength >= 6 && (payload[0] & kAnswerFlag) &&
                               (payload[0] & 0x3F) == (request[0] & 0x3F) &&
                               (payload[1] & 0x3F) == (request[1] & 0x3F);
                // A late answer to an earlier request of the same kind names another address or
                // parameter: it is not this request's answer.
                if (matches && repeat) {
                    matches = static_cast<std::size_t>(channel->currentLength) >= 6 + repeat->echoLength &&
                              std::memcmp(payload + 2, request + 2, repeat->echoLength) == 0;
                    strayAnswer = strayAnswer || !matches;
                }
                if (matches) {
                    if (repeat && sends == 1)
                        repeat->timing->Sample(Milliseconds(Clock::now() - first).count(), wireBytes);
                    return true;
                }
                channel->queue.Pop();
                --channel->answerCount;
                channel->RefreshCurrent();
                moreQueued = channel->answerCount > 0;
            }
        }

        Clock::time_point now = Clock::now();
        if (now - lastSend > wait) {
            bool again = retry && (repeat ? now - first < budget : sends < kTransactAttempts);
            if (!again) break;
            if (repeat) repeat->timing->Backoff();
            SendFrame(channel, request, length);
            ++sends;
            {
                std::lock_guard lock(lock_);
                ++channel->repeatCounter;
            }
            lastSend = Clock::now();
            now = lastSend;
            wait = answerTime();
        }

        if (!moreQueued) {
            std::unique_lock signal(arrivalMutex_);
            auto left = std::chrono::ceil<std::chrono::milliseconds>(lastSend + wait - now) + std::chrono::milliseconds(1);
            arrived_.wait_for(signal, std::min<std::chrono::milliseconds>(kWaitSlice, left),
                              [&] { return arrivals_ != seen; });
            seen = arrivals_;
        }
        ui_.Pump();
    }

    std::string text(failureText == "*" ? kNoAnswerText : failureText);
    if (!text.empty() && !strayAnswer) ui_.ShowMessage(MessageKind::Error, text);
    return false;
}

int Link::RepeatCounter(LinkChannel* channel) {
    if (!channel) return 0;
    std::lock_guard lock(lock_);
    return channel->repeatCounter;
}

void Link::ResetRepeatCounter(LinkChannel* channel) {
    if (!channel) return;
    std::lock_guard lock(lock_);
    channel->repeatCounter = 0;
}

const std::uint8_t* Link::AnswerData(LinkChannel* channel) {
    if (!channel) return nullptr;
    std::lock_guard lock(lock_);
    return channel->currentAnswer ? channel->currentAnswer + 6 : nullptr;
}

int Link::AnswerLength(LinkChannel* channel) {
    if (!channel) return 0;
    std::lock_guard lock(lock_);
    int payloadLength = std::max(channel->currentLength - 4, 0);
    return std::max(payloadLength - 2, 0);
}

void Link::ClearAnswers(LinkChannel* channel) {
    if (!channel) return;
    std::lock_guard lock(lock_);
    channel->queue.Clear();
    channel->answerCount = 0;
    channel->currentAnswer = nullptr;
    channel->currentLength = 0;
}

int Link::ConnectionTest(const std::uint8_t* echo, int length, bool showMessage) {
    LinkChannel* channel = Channel(1);
    if (!channel || !echo || length < 1) return -1;
    if (!port_.IsOpen()) return -2;
    int echoLength = std::min(length, kMaxEchoLength);
    std::uint8_t request[2 + kMaxEchoLength] = {0x01, 0x00};
    std::memcpy(request + 2, echo, static_cast<std::size_t>(echoLength));
    if (!TransactRead(channel, request, static_cast<std::size_t>(2 + echoLength), static_cast<std::size_t>(echoLength),
                      static_cast<std::size_t>(echoLength + 1), showMessage ? "No answer in connection test" : "")) {
        return 0;
    }
    std::lock_guard lock(lock_);
    return EchoAnswerMatches(AnswerData(channel), AnswerLength(channel), echo, echoLength) ? 1 : 0;
}

void Link::Receive(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (codec_.Decode(bytes[i])) DispatchFrame();
}

void Link::DispatchFrame() {
    std::size_t length = codec_.FrameLength();
    if (length < 6) return;
    const std::uint8_t* frame = codec_.Frame();
    {
        std::lock_guard lock(lock_);
        LinkChannel* channel = registry_.Find(frame[1] & 0x1F);
        if (!channel || !channel->queue.Push(frame, length)) return;
        ++channel->answerCount;
        channel->RefreshCurrent();
    }
    {
        std::lock_guard signal(arrivalMutex_);
        ++arrivals_;
    }
    arrived_.notify_all();
}

void LinkPort::OnReceive(std::size_t available) {
    std::uint8_t buffer[kReceiveChunk];
    std::size_t count = Read(buffer, std::min(available, kReceiveChunk));
    link_.Receive(buffer, count);
}

}  // namespace kalvo
