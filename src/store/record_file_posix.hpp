#pragma once

// The one call of the POSIX record file that tests replace, to play a file system that has
// no locks (one that fails every lock with ENOLCK) on any machine.

struct flock;

namespace profiledesk::posix {

// Sets or waits for a record lock: fcntl(fd, F_SETLKW, lock) unless replaced.
using SetLockCall = int (*)(int fd, struct flock* lock);

// Puts `call` in place of the lock call and returns the one it replaces.
SetLockCall replaceSetLockCall(SetLockCall call);

}  // namespace profiledesk::posix
