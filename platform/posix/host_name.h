// The one call the POSIX host-name service makes, replaceable so that tests can give it names
// this machine does not have (a 40-character name, a failing call).
#pragma once

#include <cstddef>

namespace tw::platform::posix {

// Same contract as gethostname(2): 0 and a NUL-terminated name, or -1 when the name does not
// fit `size` bytes or cannot be read.
using HostNameCall = int (*)(char* name, std::size_t size);

// Makes the host-name service ask `call` instead of gethostname; nullptr restores gethostname.
// Returns the call that was in place before.
HostNameCall SetHostNameCall(HostNameCall call);

}  // namespace tw::platform::posix
