#pragma once
// The simulator's end of the line: a pseudo-terminal whose slave side the program opens like a
// serial port, and the comN link that makes it a COM port of the program's ports folder.
#include <optional>
#include <string>

namespace kalvo::devsim {

class PtyPort {
public:
    // Opens a master, makes its slave usable and raw, and holds the slave open itself.
    // Nothing (error text set) on failure.
    static std::optional<PtyPort> Open(std::string& error);

    PtyPort(PtyPort&& other) noexcept;
    PtyPort& operator=(PtyPort&& other) noexcept;
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;
    ~PtyPort();

    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }
    // Bytes the slave side has received and nobody has read yet.
    int UnreadBySlave() const;
    // Closes both sides: whoever has the slave open sees a hang-up.
    void Close();

private:
    PtyPort(int master, int slave, std::string slavePath);

    int master_ = -1;
    // Held so that the master never reads EIO between two openings by the program, and so that
    // the line settings stay raw while nobody else has it open.
    int slave_ = -1;
    std::string slavePath_;
};

// <folder>/comN -> slave path, for as long as this object lives. A hidden lock file beside the
// link tells a live simulator on the same number from a link left behind by a dead one.
class PortPublication {
public:
    static std::optional<PortPublication> Publish(const std::string& folder, int number,
                                                  const std::string& target, std::string& error);

    PortPublication(PortPublication&& other) noexcept;
    PortPublication& operator=(PortPublication&& other) noexcept;
    PortPublication(const PortPublication&) = delete;
    PortPublication& operator=(const PortPublication&) = delete;
    ~PortPublication();

    const std::string& LinkPath() const { return linkPath_; }
    // Removes the link (only while it still points at our target) and the lock.
    void Withdraw();

private:
    PortPublication(std::string linkPath, std::string lockPath, std::string target, int lockFd);

    std::string linkPath_;
    std::string lockPath_;
    std::string target_;
    int lockFd_ = -1;
};

}  // namespace kalvo::devsim
