#pragma once
// File transfer entry points used by the escape prompt and server mode.

// The option word of the name being handled (filled from its "(...)" or "[...]" letters);
// bit 4 is X: a wildcard takes the names that do not match.
inline long flags = 0;

// kind: 0 transfer, 1 send, 2 get (remote request), 3 receive.
int parsexfer(int kind, const char* line);
int timefile(const char* filelist);
int ulsend(const char* name, int linemode);
int rcvzmodem();
