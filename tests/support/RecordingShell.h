#pragma once
// Records shell requests and beeps instead of opening a browser or sounding a bell.
#include <string>
#include <vector>

#include "platform/Shell.h"

class RecordingShell : public kino::IShell {
public:
    std::vector<std::string> opened;
    int beeps = 0;

    RecordingShell() { kino::SetShell(this); }
    ~RecordingShell() override { kino::SetShell(nullptr); }
    void Open(const std::string& target) override { opened.push_back(target); }
    void Beep() override { ++beeps; }
};
