// The simulator's end of the line: a pseudo-terminal whose slave side the monitor opens as
// its serial port.
//
// The simulator also keeps one descriptor of the slave side open for its whole run (and never
// reads it), so that the master side does not see a hang-up whenever the monitor closes the
// port, and bytes sent while no monitor listens simply wait in the slave's input.
#pragma once

#include <string>

namespace zuz::sim {

class PtyLine {
public:
    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Opens the pair in raw mode (no echo, no line editing, 8 bits), master non-blocking.
    // False with *error set on failure.
    bool Open(std::string* error);
    void Close();

    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace zuz::sim
