#pragma once

// Exit statuses of vallora-recover.
enum CExitStatus : int {
    kExitCompleted = 0,     // swept to the end, every image written
    kExitWriteFailures = 1, // some found image was not written (stopped or not)
    kExitUsage = 2,         // bad command line
    kExitSourceError = 3,   // the source cannot be opened or read as a volume, or went away
    kExitOutputRefused = 4, // the output folder is missing, not writable or on the scanned disk
    kExitStopped = 5,       // stopped with Ctrl-C; what was found was written
    kExitAbandoned = 6,     // abandoned (Ctrl-C with nothing found, or twice): no more written
};
