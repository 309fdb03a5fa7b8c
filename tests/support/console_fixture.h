#pragma once
// In-process fixture for the port layer and terminal mode: the console is a pipe the test
// types into, the line is one end of a socket pair the test plays the peer on, and everything
// the program writes to the console (its standard output) is captured.
#include <string>

class ConsoleFixture {
  public:
    // Resets the port layer, terminal mode and start-up state to power-on values and wires the
    // console pipe and the line; with `line` false the null line stays current (comfd -1).
    explicit ConsoleFixture(bool line = true);
    ~ConsoleFixture();
    ConsoleFixture(const ConsoleFixture&) = delete;
    ConsoleFixture& operator=(const ConsoleFixture&) = delete;

    // Bytes as typed at the console.
    void type(const std::string& bytes);
    // Bytes as sent by the peer on the line.
    void send(const std::string& bytes);
    // What the peer received so far (waits up to `seconds` for at least `atleast` bytes).
    std::string received(size_t atleast = 0, double seconds = 5);
    // Everything written to the console so far (the output buffer is flushed first).
    std::string output();

  private:
    int keys_[2] = {-1, -1};
    int line_[2] = {-1, -1};
    int peer_ = -1;
    std::string captured_;
    std::string got_;
};
