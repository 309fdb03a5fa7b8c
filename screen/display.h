#pragma once
// The console driver: one output buffer (obuf) in front of the console descriptor.
#include <cstddef>

inline int Lines = 24; // console rows from termcap
inline int Cols = 80;  // console columns from termcap

void _ttyout(int byte);
void oflush();
int bttyout(const void* buf, size_t count);
