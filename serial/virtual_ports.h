// Virtual serial ports published by the bus simulator, so that the monitor lists them next to
// the real ports.
//
// A publishing process writes one entry file per port into a per-user folder. The entry is named
// after the process id ("<pid>.port"; a second port of the same process gets "<pid>-1.port", and
// so on) and its first line is the device path, e.g. "/dev/pts/7". An entry whose process has
// ended is stale: listing skips it and removes it.
//
// The folder is, in order of preference:
//   1. $ZUZAVADI_PORT_DIR when set and not empty (tests and side-by-side runs use it);
//   2. $XDG_RUNTIME_DIR/zuzavadi-ports when XDG_RUNTIME_DIR names a writable directory;
//   3. /tmp/zuzavadi-<uid>/ports.
// Publishing creates the missing folders with mode 0700.
//
// All functions are safe to call from any thread.
#pragma once

#include <string>
#include <vector>

namespace zuz {

inline constexpr const char* kPortDirVariable = "ZUZAVADI_PORT_DIR";

// The folder described above. Does not create it.
std::string VirtualPortFolder();

// Publishes devicePath in VirtualPortFolder() (or in `folder`). The entry appears atomically
// (written to a hidden temporary file, then renamed). Returns the entry's path, or an empty
// string when the folder cannot be created or the entry cannot be written (errno tells why).
std::string PublishVirtualPort(const std::string& devicePath);
std::string PublishVirtualPort(const std::string& devicePath, const std::string& folder);

// Removes an entry returned by PublishVirtualPort. Returns false when it could not be removed
// (it is already gone, for instance).
bool WithdrawVirtualPort(const std::string& entryPath);

// The device paths of the live entries in VirtualPortFolder() (or in `folder`): entries whose
// process still exists (signal 0 succeeds or is refused with EPERM) and whose device exists.
// Ordered by process id, then by the entry's number. Stale entries are removed on the way; an
// entry of a live process whose device has gone is skipped but kept. A missing folder gives an
// empty list.
std::vector<std::string> ListVirtualPorts();
std::vector<std::string> ListVirtualPorts(const std::string& folder);

}  // namespace zuz
