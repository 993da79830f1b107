#include "devsim/simulator.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kalvo::devsim {

namespace {

// Time the program's reader gets to take the last answer off the line before the device goes:
// a hang-up throws away whatever the slave side has not read yet.
constexpr auto kSettleTime = std::chrono::milliseconds(10);
// A restart waits this many settle times at most for the program to take the reset's answer.
constexpr int kRestartLooks = 20;
// A terminal that cannot be had after a restart is tried again this much later.
constexpr auto kReopenRetry = std::chrono::seconds(1);

timespec ToTimespec(Simulator::Clock::duration wait) {
    if (wait < Simulator::Clock::duration::zero()) wait = Simulator::Clock::duration::zero();
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(wait - seconds);
    return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
}

}  // namespace

Simulator::Simulator(SimDevice& device, const CommandTable& commands, FaultOptions faults, int baud, Trace& trace)
    : device_(device), commands_(commands), faults_(faults), writer_(baud), trace_(trace), baud_(baud) {}

bool Simulator::Start(std::optional<int> com, const std::string& portsFolder, std::string& error) {
    com_ = com;
    portsFolder_ = portsFolder;
    port_ = PtyPort::Open(error);
    if (!port_) return false;
    slavePath_ = port_->SlavePath();
    if (com) {
        link_ = PortPublication::Publish(portsFolder, *com, slavePath_, error);
        if (!link_) {
            port_.reset();
            return false;
        }
    }
    trace_.Note(std::string(ModelName(device_.Options().model)) + " on " + slavePath_ +
                (com ? " as COM " + std::to_string(*com) : std::string()));
    return true;
}

void Simulator::Run(int stopFd, const std::function<bool()>& onStopFd) {
    for (;;) {
        Clock::time_point now = Clock::now();
        WriteDue(now);
        CheckVanish(now);
        CheckRestart(now);

        pollfd fds[2] = {{stopFd, POLLIN, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        if (port_) {
            auto events = static_cast<short>(POLLIN | (writer_.WaitingForRoom() ? POLLOUT : 0));
            fds[1] = {port_->MasterFd(), events, 0};
            count = 2;
        }
        std::optional<Clock::time_point> wakeup = NextWakeup();
        timespec wait{};
        if (wakeup) wait = ToTimespec(*wakeup - Clock::now());
        if (::ppoll(fds, count, wakeup ? &wait : nullptr, nullptr) < 0) {
            if (errno == EINTR) continue;
            trace_.Note(std::string("poll failed: ") + std::strerror(errno));
            return;
        }
        if (fds[0].revents && (!onStopFd || onStopFd())) return;
        if (count < 2) continue;
        if (fds[1].revents & POLLIN) {
            ReadRequests();
        } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Cannot happen while we hold the slave; if it does, stop watching a dead line
            // rather than wake up for it forever.
            trace_.Note("line error on the terminal");
            Vanish();
        }
    }
}

std::optional<Simulator::Clock::time_point> Simulator::NextWakeup() const {
    std::optional<Clock::time_point> wakeup = writer_.NextDeadline();
    for (const auto& timer : {vanishCheck_, goDownAt_, comeBackAt_}) {
        if (timer && (!wakeup || *timer < *wakeup)) wakeup = timer;
    }
    return wakeup;
}

void Simulator::ReadRequests() {
    std::uint8_t buffer[4096];
    ssize_t n = ::read(port_->MasterFd(), buffer, sizeof buffer);
    if (n <= 0) return;  // EAGAIN or EINTR: poll again
    if (paceRequests_) {
        // These bytes left the PC just now at the earliest, one after the other.
        auto lineTime = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
            static_cast<double>(n) * 10.0 / baud_));
        inboundFreeAt_ = std::max(inboundFreeAt_, Clock::now()) + lineTime;
    }
    for (const InboundFrame& frame : decoder_.Feed({buffer, static_cast<std::size_t>(n)})) {
        OnFrame(frame);
        if (!port_) return;  // the device vanished on this one
    }
}

void Simulator::OnFrame(const InboundFrame& frame) {
    switch (frame.kind) {
    case InboundFrame::Kind::Request:
        OnRequest(frame.channel, frame.payload);
        break;
    case InboundFrame::Kind::TooShort:
        trace_.Note("frame without a command code ignored");
        break;
    case InboundFrame::Kind::OtherAddress:
        trace_.Note("ch" + std::to_string(frame.channel) + " frame for another address ignored");
        break;
    }
}

void Simulator::OnRequest(int channel, const std::vector<std::uint8_t>& payload) {
    trace_.Request(channel, payload);
    if (restarting_) {
        trace_.Note("request not answered: the device is restarting");
        return;
    }
    if (faults_.AnswersExhausted(answersQueued_)) {
        trace_.Note("request not answered: the device is going");
        if (writer_.Idle()) Vanish();
        return;
    }
    if (faults_.DropRequest()) {
        trace_.Note("drop request " + std::to_string(faults_.RequestsSeen()));
        return;
    }
    if (faults_.DeafTo(payload)) {
        trace_.Note("deaf to this request: no answer");
        return;
    }
    DispatchResult result = commands_.Dispatch(device_, channel, payload);
    TraceDeviceNotes();
    if (device_.PowerCutPending()) {
        // No answer: the line goes as soon as the writer is idle, as for a restart.
        restarting_ = true;
        return;
    }
    std::string code = HexBytes({payload.data(), 2});
    if (result.outcome == DispatchResult::Outcome::Unknown) {
        trace_.Note("unknown command " + code + " on ch" + std::to_string(channel) + ": no answer");
        return;
    }
    if (result.outcome == DispatchResult::Outcome::Silent) {
        trace_.Note(result.name + ": no answer");
        return;
    }
    OutgoingAnswer answer;
    answer.channel = channel;
    answer.payload = MakeAnswerPayload(payload[0], payload[1], result.data);
    answer.wire = EncodeFrame(BuildAnswerFrame(channel, answer.payload));
    if (answer.wire.empty()) {
        trace_.Note(result.name + ": answer too long for a frame, not sent");
        return;
    }
    if (auto index = faults_.CorruptAnswer(answer.wire)) {
        trace_.Note("flip a bit of answer " + std::to_string(faults_.AnswersSeen()) + " in wire byte " +
                    std::to_string(*index));
    }
    const Clock::time_point arrived = paceRequests_ ? std::max(Clock::now(), inboundFreeAt_) : Clock::now();
    writer_.Queue(arrived + faults_.AnswerDelay(), std::move(answer));
    ++answersQueued_;
    if (device_.PendingReset()) restarting_ = true;
}

void Simulator::WriteDue(Clock::time_point now) {
    if (!port_) return;
    int fd = port_->MasterFd();
    auto write = [fd](const std::uint8_t* bytes, std::size_t count) { return ::write(fd, bytes, count); };
    for (const OutgoingAnswer& answer : writer_.Service(now, write)) {
        trace_.Answer(answer.channel, answer.payload);
        ++answersWritten_;
        if (faults_.AnswersExhausted(answersWritten_) && writer_.Idle()) {
            vanishCheck_ = writer_.LineFreeAt() + kSettleTime;
        }
    }
}

void Simulator::CheckVanish(Clock::time_point now) {
    if (!vanishCheck_ || now < *vanishCheck_) return;
    vanishCheck_.reset();
    if (port_ && port_->UnreadBySlave() == 0) {
        Vanish();
    } else if (port_) {
        trace_.Note("last answer not read yet: going at the next request");
    }
}

void Simulator::Vanish() {
    trace_.Note("vanish after " + std::to_string(answersWritten_) + " answers: port closed");
    // The number goes first, so a program that looks again after the hang-up finds nothing.
    link_.reset();
    port_.reset();
    writer_.Clear();
    vanishCheck_.reset();
    restarting_ = false;
    goDownAt_.reset();
    comeBackAt_.reset();
}

void Simulator::TraceDeviceNotes() {
    for (const std::string& note : device_.TakeNotes()) trace_.Note(note);
}

void Simulator::CheckRestart(Clock::time_point now) {
    // Once the reset's answer is out (or was lost with the line), the device goes.
    if (restarting_ && !goDownAt_ && !comeBackAt_ && writer_.Idle()) {
        goDownAt_ = std::max(now, writer_.LineFreeAt()) + kSettleTime;
        goDownLooks_ = 0;
    }
    if (goDownAt_ && now >= *goDownAt_) {
        // The answer to the reset should reach the program before the line hangs up, as it
        // does on the real device; a program that does not read it gets the hang-up anyway.
        if (port_ && port_->UnreadBySlave() > 0 && ++goDownLooks_ < kRestartLooks) {
            goDownAt_ = now + kSettleTime;
        } else {
            GoDownForRestart(now);
        }
    }
    if (comeBackAt_ && now >= *comeBackAt_) ComeBack(now);
}

void Simulator::GoDownForRestart(Clock::time_point now) {
    if (!device_.PowerCutPending() && device_.Options().noReturnAtReset == device_.ResetsAsked()) {
        trace_.Note("restart " + std::to_string(device_.ResetsAsked()) + ": the device does not come back");
        Vanish();
        return;
    }
    if (device_.PowerCutPending()) {
        trace_.Note("power cut: port closed for " + std::to_string(resetDowntime_.count()) + " ms");
        link_.reset();
        port_.reset();
        writer_.Clear();
        decoder_ = RequestDecoder();
        goDownAt_.reset();
        comeBackAt_ = now + resetDowntime_;
        return;
    }
    bool toBoot = device_.PendingReset().value_or(false);
    trace_.Note(std::string("restart into the ") + (toBoot ? "boot loader" : "main firmware") + ": port closed for " +
                std::to_string(resetDowntime_.count()) + " ms");
    link_.reset();
    port_.reset();
    writer_.Clear();
    decoder_ = RequestDecoder();
    goDownAt_.reset();
    comeBackAt_ = now + resetDowntime_;
}

void Simulator::ComeBack(Clock::time_point now) {
    if (!port_) {
        std::string error;
        port_ = PtyPort::Open(error);
        if (!port_) {
            trace_.Note("restart: no terminal (" + error + "), trying again");
            comeBackAt_ = now + kReopenRetry;
            return;
        }
        slavePath_ = port_->SlavePath();
    }
    if (com_ && !link_) {
        std::string error;
        link_ = PortPublication::Publish(portsFolder_, *com_, slavePath_, error);
        if (!link_) {
            trace_.Note("restart: cannot publish COM " + std::to_string(*com_) + " (" + error + "), trying again");
            comeBackAt_ = now + kReopenRetry;
            return;
        }
    }
    comeBackAt_.reset();
    restarting_ = false;
    device_.CompleteReset();
    TraceDeviceNotes();
    trace_.Note(std::string("back in the ") + (device_.InBootMode() ? "boot loader" : "main firmware") + " on " +
                slavePath_ + (com_ ? " as COM " + std::to_string(*com_) : std::string()));
    if (onReopened_) onReopened_(slavePath_);
}

}  // namespace kalvo::devsim
