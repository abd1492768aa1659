#pragma once
#include "cli/options.h"
#include "client/records.h"

#include <QCoro/QCoroTask>

namespace zafrel {

// What the files of the given paths would become at the "--dest" folder, worked out from the
// service's listings alone: nothing is queued, started or sent.
enum class DestinationCheck {
    // "--simular": per file, sent (with its size and where), skipped and why, or kept out by
    // another file of its name there, and the totals; exit 0, or 1 when a path cannot be taken or
    // a file would be kept out. The files the upload would read (to tell a copy from another
    // file) are read.
    Simulate,
    // "--comprobar": per file, whether the destination holds it with the same size and without a
    // failed verification, and with the same MD5 where this program recorded what it verified
    // there (the file is read); exit 0 when every file is there and every path was taken, else 1.
    Verify,
};

// Runs the check with the session already signed in, then ends the process (text, or the JSON
// document with "--json"). A listing the service does not give ends it with code 2.
// `user` is the account signed in, whose records of the destinations are compared.
QCoro::Task<void> checkDestination(Options options, User user, DestinationCheck mode);

}  // namespace zafrel
