#pragma once
// Request/answer transactions over the frame layer, on three logical channels.
//
// Threads: the reader thread of the port calls Receive(), which decodes byte by byte and
// dispatches each complete frame into its channel's queue under the link lock, then signals
// `arrived_`. The user-interface thread calls SendFrame/Transact; Transact waits on that signal
// in short slices and lets the front end Pump() between them, so the UI stays alive and no core
// spins. The link lock is recursive because command code running under it may call back in.
// The learnt answer times belong to the user-interface thread alone.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string_view>

#include "link/frame_codec.h"
#include "link/link_channel.h"
#include "link/round_trip.h"
#include "platform/serial_port.h"
#include "platform/ui_port.h"

namespace kalvo {

constexpr int kBaudRate = 230400;
constexpr unsigned kAnswerTimeoutMs = 700;
constexpr int kTransactAttempts = 3;
constexpr std::size_t kWritePiece = 64;
constexpr std::uint8_t kAnswerFlag = 0x40;
// Largest echo the connection test sends.
constexpr int kMaxEchoLength = 16;
// Echo bytes of the periodic connection test.
inline constexpr std::string_view kConnectionTestPattern = "Vantegor";
// Failure text "*" stands for this.
inline constexpr std::string_view kNoAnswerText = "No answer from device";

class Link {
public:
    Link(SerialPort& port, UiPort& ui);
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    LinkChannel* Channel(int id);

    // User-interface thread.
    void SendFrame(LinkChannel* channel, const std::uint8_t* payload, std::size_t length);
    // Up to three attempts of 700 ms each (one without retry).
    bool Transact(LinkChannel* channel, const std::uint8_t* request, std::size_t length, bool retry,
                  std::string_view failureText);
    // An idempotent read: repeated after the time learnt for this connection (never longer than
    // 700 ms), given up no sooner than Transact would. Its answer must repeat the `echoLength`
    // request bytes after the code (address or parameter number); other answers of the same code
    // are late answers to earlier reads and are dropped. `answerLength`: the answer payload
    // expected, for its time on the line.
    bool TransactRead(LinkChannel* channel, const std::uint8_t* request, std::size_t length, std::size_t echoLength,
                      std::size_t answerLength, std::string_view failureText);
    const RoundTripEstimator& RoundTrip() const { return roundTrip_; }
    // A request whose repetition is harmless (the same bytes written to the same place again, a
    // parameter set to the same value again, an erase before anything was written there): like
    // TransactRead, but the answer time is learnt apart for each command code, since an erase
    // takes the device longer than a write. Requests that must not run twice (restarts, actions)
    // go through Transact and its fixed wait.
    bool TransactRepeatable(LinkChannel* channel, const std::uint8_t* request, std::size_t length,
                            std::size_t echoLength, std::size_t answerLength, std::string_view failureText);
    // What has been learnt for the repeatable requests of this code (nothing yet: a fresh one).
    RoundTripEstimator RoundTripOf(std::uint8_t code0, std::uint8_t code1) const;
    const std::uint8_t* AnswerData(LinkChannel* channel);
    int AnswerLength(LinkChannel* channel);
    void ClearAnswers(LinkChannel* channel);
    // The channel's count of resent requests, which its user resets and reads (under the lock).
    int RepeatCounter(LinkChannel* channel);
    void ResetRepeatCounter(LinkChannel* channel);
    // 1 echoed, 0 no answer or wrong echo, -1 no channel 1 / no data / length < 1, -2 port closed.
    int ConnectionTest(const std::uint8_t* echo, int length, bool showMessage);

    // Reader thread: bytes straight from the port.
    void Receive(const std::uint8_t* bytes, std::size_t count);
    // Reader thread: moves the decoder's complete frame into its channel's queue.
    void DispatchFrame();

    SerialPort& Port() { return port_; }

private:
    // A request that may be sent again before its answer: the bytes its answer repeats, the
    // answer's size and the time learnt for its kind.
    struct RepeatShape {
        std::size_t echoLength;
        std::size_t answerLength;
        RoundTripEstimator* timing;
    };
    bool Exchange(LinkChannel* channel, const std::uint8_t* request, std::size_t length, bool retry,
                  std::string_view failureText, const RepeatShape* repeat);
    // What was learnt belongs to the connection it was learnt on.
    void ForgetTimesOfEarlierConnections();

    SerialPort& port_;
    UiPort& ui_;
    // Answer times: of the reads, and of the repeatable writes by command code. Estimators are
    // reset in place, never removed, so a shape may point at one during its exchange.
    RoundTripEstimator roundTrip_;
    std::map<std::uint16_t, RoundTripEstimator> repeatTimes_;
    std::uint64_t timedOpening_ = 0;
    FrameCodec codec_;
    std::recursive_mutex lock_;
    ChannelRegistry registry_;
    LinkChannel channel1_{1};
    LinkChannel channel2_{2};
    LinkChannel channel3_{3};

    // Arrival signal; its own plain mutex so a waiter never holds the recursive link lock.
    std::mutex arrivalMutex_;
    std::condition_variable arrived_;
    std::uint64_t arrivals_ = 0;
};

// The program's port: a SerialPort whose receive handler feeds the link.
class LinkPort : public SerialPort {
public:
    LinkPort(const PortDirectory& directory, Link& link) : SerialPort(directory), link_(link) {}
    // Stops the reader before this object (and its handler) goes away.
    ~LinkPort() override { Close(); }

protected:
    void OnReceive(std::size_t available) override;

private:
    Link& link_;
};

}  // namespace kalvo
