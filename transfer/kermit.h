#pragma once
// Kermit as the client of a Kermit server: GET by name, and the `remote` command's generic and
// host commands. The receive engine runs them when one of these is set.
#include <string>

// Names to GET from the server (blank-separated); set by rcv() for a receive with a remote list.
inline std::string kgetlist;
// The longest long packet this side offers; 0 offers none, so only basic packets are used.
inline int klongmax = 9000;
// The basic packet length this side asks for (10..94).
inline int kmaxl = 94;
// The sliding-window slots this side offers (1..31); 1 offers none.
inline int kwindow = 31;
// A request for the server: "G" + its letter + argument, or "C" + a host command.
inline std::string kcommand;
// What the server sent for the screen (its short answers and X-packet text).
inline std::string kreply;

// The `remote` command under Kermit: "bye", "finish", "cwd dir" and "directory [files]" become
// generic commands L, F, C and D, any other text a host command. Shows the server's answer;
// returns the transfer result.
int kremote(const std::string& text);
