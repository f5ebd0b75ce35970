// Command ids the test peer answers, shared by the peer and the tests.
#pragma once

namespace peercmd {
enum : int {
    GET_PREFS = 20004,   // answers an AppProtPrefsData {60, 3, false, true, true}
    ECHO = 1,            // answers with the request's own text
    SILENT = 2,          // returns true, never answers
    THROW = 3,           // throws
    REFUSE = 4,          // returns false without answering
    LATE_3S = 5,         // answers after 3 s
    LATE_1500MS = 6,     // answers after 1.5 s
    EXIT = 7,            // exits without answering
    TWICE = 8,           // answers twice
    SEND_ALERT = 9,      // sends 60001 to 102 without a result object, then answers
    READ_STRINGS = 10,   // reads a vector of wide strings; answers status true if read, false if refused
};
}
