// SPDX-License-Identifier: MIT
// Whether a file a program was asked to write is its own standard output or
// standard error under some name: /dev/stdout, /dev/fd/2, /proc/self/fd/1,
// a link, or the very file the shell redirected the stream to.
//
// Such a target is refused by both programs. Written as a file, it would be
// opened again from offset 0 over what the stream already holds (a log the
// shell appends to), or mixed with the program's own messages on the same
// stream; and replacing the name, as a new file replaces a target, would
// replace the system's /dev/stdout link itself. Both programs refuse it
// with a message of their own, on the facts decided here.
#pragma once

#include "common/file_system.h"

namespace pelk {

// standard_output or standard_error when `target` (what a name resolves
// to, links followed) is the same file as that descriptor, else -1. A
// closed stream is nothing, and so is the null device, which loses nothing
// by being shared; where the system gives a stream no identity (a
// Windows console or pipe; under Wine, a stream redirected from a file)
// nothing is found either.
int standard_stream_of(const file_status& target);

// Whether `file`, something a program is about to read, is a regular file
// that is also its standard output (`>> file`, `1<> file`): what it wrote
// there would go into what it reads, and a copy would read its own output
// back for as long as the disk has room. Only a regular file can be spoilt
// so; a socket that is both a service's input and its output is not.
bool is_standard_output_file(const file_status& file);

}  // namespace pelk
