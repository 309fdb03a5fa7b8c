#pragma once
// Device locking and port selection.
//
// Before the serial driver opens a device, dolock() makes sure no other program uses it: it
// writes a UUCP-style lock file whose name follows the `lockfile` format, treats an existing
// lock as stale when it is older than `locktime` seconds or its owner process is gone, and,
// when the system's init table keeps a login process respawning on the port, runs the outside
// program "callout" to disable it for the call ("callin" enables it again at delock()).
//
// Name format markers (substituted here, never handed to printf):
//   %s  the login-line name (last path component)      %b  the same in lower case
//   %B  the login-line name as it is                    %m  "fsmajor.major.minor", %03d each
//   %%  a single "%"; any other "%x" stays as it is
// The lock holds the owner's process id as ten right-aligned digits and a line feed, the form
// other Linux programs write; a 4-byte binary id left by older programs is read as well.
//
// A device name may carry a node prefix ("//node/dev/ttyS0", or the `devprefix` setting) that
// names a device of another node of a networked file system; the init table and the lock
// directory are then looked up under that prefix too. The prefix is dropped when it names this
// node (the first line of the system-id file, or the host name when the file is missing).
#include <string>

// Settings.
extern std::string lockpre;   // lock-file name format; empty disables locking
extern long locktime;         // seconds after which a lock is stale; 0 = only a dead owner
extern std::string devprefix; // node prefix for device paths

// Where the system keeps these; tests point them at private copies.
extern std::string systemidfile; // "/etc/systemid"
// This node's identification: the first line of the system-id file, else the host name.
std::string systemname();
extern std::string calloutprog; // "/usr/bin/callout", else "callout" on the search path
extern std::string callinprog;  // "/usr/bin/callin", else "callin" on the search path

// State of the device being locked.
extern std::string devpre;  // node prefix: "//node", empty for this node
extern std::string devnam;  // device name without "/dev/"
extern std::string mdevnam; // login-line name; empty when no device is locked
extern int enabled;         // a login process was disabled and must be enabled again
extern int bnulock;         // the format asked for the name: 1 lower case (%b), 2 as it is (%B)
extern int majlock;         // the format asked for device numbers (%m)

// Locks port `name` and returns the device path to open, or nullptr when the port is locked or
// its login process cannot be disabled (the reason has been printed).
const char* dolock(const char* name);
// Creates the lock file: 0 on success or when locking is off, -1 when the device is locked,
// -2 when no lock can be made (a missing or read-only lock directory, something other than a
// regular file at the lock path; the reason has been printed).
int mlock();
// Removes the lock file and enables a disabled login process.
void delock();
// Splits `name` into node prefix and device names; 1 when a login process respawns on it.
int chkdev(const char* name);
// The login-line name of device number `rdev` called `name`, searched under `prefix`; 0 when
// none is found.
int findtty(unsigned long rdev, const std::string& name, const std::string& prefix,
            std::string& out);
// The lock file name of the current device; -1 when it cannot be built.
int makelockstr(std::string& out);
// One attempt to create `lockname` atomically through a temporary file and link(); 0, or -1
// with errno saying why (EEXIST: a lock is there).
int onelock(int pid, const std::string& tempname, const std::string& lockname);
// The process id held by a lock file, 0 when it holds none that can be read or is not a
// regular file (opening never blocks).
int lockowner(const std::string& lockname);
// Run the outside programs that disable and enable the login process on a device.
void callout(const std::string& prefix, const std::string& name);
void callin(const std::string& prefix, const std::string& name);

// Back to the power-on state (for tests); removes nothing.
void lockreset();
