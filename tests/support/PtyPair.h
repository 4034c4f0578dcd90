#pragma once
// A pseudo-terminal pair for tests of serial code: the test holds the master end (the "far
// end" of the line) and hands the slave's path to the code under test.

#include <string>

class PtyPair {
public:
    PtyPair();  // fails the current test when no pseudo-terminal can be had
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_ >= 0; }
    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    // Writes all of Data to the master end.
    bool Write(const std::string& Data);
    // Reads from the master end until Count bytes arrived or TimeoutMs passed.
    std::string Read(size_t Count, int TimeoutMs = 5000);
    // Closes the master end: the slave sees a hang-up.
    void CloseMaster();

private:
    int master_ = -1;
    std::string slavePath_;
};
