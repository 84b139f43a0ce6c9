#pragma once

#include <string>

// What the audit trail keeps of one request: who asked for what, and what became of it.
// It never holds a secret: the target keeps only the parameters known to be harmless.
struct RequestRecord {
    // What became of the request's WHM call.
    enum class Outcome {
        NoCall,    // the request needed no WHM call, or was refused before one
        Done,      // WHM carried the command out
        Refused,   // WHM refused the command, or it could not be sent
        NotKnown,  // WHM had the command, but no complete answer came
        Busy,      // too many WHM calls in flight: none was made
        Listed,    // a list came back
        Failed,    // a list call failed
        Cancelled, // the call was given up: the client went away, or the gateway stopped
    };

    std::string clientAddress;
    std::string method = "-"; // "-": no request could be read
    std::string target = "-"; // the path and the harmless parameters only
    int status = 0;
    std::string whmFunction; // empty: no WHM call
    Outcome outcome = Outcome::NoCall;
    std::string detail;          // WHM's reason (cut short), a list's size, why nothing was called
    std::string unsentBecause{}; // why no answer was sent (the client went away); empty: sent
};
