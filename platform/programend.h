#pragma once

// Ends the program at once: every window closes and nothing is saved. Tests switch to the
// recording mode, where the request is only counted.
class ProgramEnd {
public:
    static void End();

    static void setRecording(bool recording);
    static int takeEnds(); // how many times End was called since the last take
};
