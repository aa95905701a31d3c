#pragma once

// The program has been asked to end. Converting a heavy book takes seconds, on the GUI thread
// and on workers; each conversion looks here between its steps and stops there, writing nothing
// more, so that the end is not held up. Raised from a signal handler: lock-free, nothing else.
class EndRequest {
public:
    static void raise() noexcept;
    static bool isRaised() noexcept;
    // Lets a test convert again after it has stopped a conversion.
    static void clear() noexcept;
};
