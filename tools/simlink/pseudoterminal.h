#pragma once

#include <string>

namespace tamlo::sim {

// The instrument's end of a serial line: a pseudo-terminal whose device (/dev/pts/N) a program
// opens as if it were a serial port, reached through a symbolic link at a path of the caller's
// choosing (for example demo/COM1, where the station looks for COM1).
//
// The terminal is put in raw mode (no echo, no line editing, 8 data bits). The simulator keeps
// one descriptor of the device open itself, so the client may open and close the port as often
// as it likes: the master never sees a hang-up and bytes written while no client is connected
// wait in the device's input queue (a client purges them before each request anyway).
class PseudoTerminal {
public:
    enum class OpenResult {
        Opened,
        TerminalFailed,  // the system refused a pseudo-terminal
        LinkFailed,      // the link path is unusable (a regular file, a missing directory, ...)
    };

    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Creates the pseudo-terminal and makes `linkPath` a symbolic link to its device. An existing
    // symbolic link at that path is replaced (a simulator that died leaves one behind); anything
    // else there is refused. On failure errorText() says why and nothing is left behind.
    OpenResult open(const std::string& linkPath);

    // Removes the link (only while it still points at this terminal's device) and closes.
    void close();

    bool isOpen() const { return masterFd_ >= 0; }
    // Non-blocking master side: read the client's bytes from it, write replies to it.
    int masterFd() const { return masterFd_; }
    const std::string& devicePath() const { return devicePath_; }
    const std::string& linkPath() const { return linkPath_; }
    const std::string& errorText() const { return errorText_; }

private:
    OpenResult fail(OpenResult result, const std::string& text);
    bool makeLink(const std::string& linkPath);

    int masterFd_ = -1;
    int slaveFd_ = -1;
    std::string devicePath_;
    std::string linkPath_;
    std::string errorText_;
};

}  // namespace tamlo::sim
