// Ctrl-C, SIGTERM and SIGHUP (on Windows the console's control events) while
// corvane flashes: none of them ends the program. They are only noted, and
// the command looks at the note where stopping is safe: before the transfer
// it cancels, during it it tells the user that the transfer cannot be taken
// back and waits for the drive. A closed pipe (SIGPIPE) is ignored: writing
// the report fails, the exit status stays the outcome's.
//
// POSIX: the three signals are blocked in the thread that makes the watch
// and in every thread it starts afterwards (the transfer's worker, a layer's
// drive threads), so a signal never cuts a drive command short; they stay
// pending until Noticed() takes them. Only while Listening, the asking thread
// takes them at once, which breaks off a blocking read of the terminal.
#pragma once

namespace corvane {

class InterruptWatch {
  public:
    InterruptWatch();
    // Takes what is still pending, then restores the handling it found.
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // How many interrupts came since the watch began (0: none). A plain
    // function, for DownloadProcedure::stopRequested.
    static int Noticed();
    // From now until the watch ends a console close (Windows) waits for the
    // command to end instead of ending it; the system may still end it later.
    static void HoldOnClose();

    // While it lives, an interrupt ends a blocking read of the calling thread.
    class Listening {
      public:
        Listening();
        ~Listening();
        Listening(const Listening&) = delete;
        Listening& operator=(const Listening&) = delete;
    };
};

} // namespace corvane
