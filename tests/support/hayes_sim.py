#!/usr/bin/python3
"""A Hayes-style modem for the tests, on the modem end of a pseudo-terminal pair.

Usage: hayes_sim.py MODEM_PTY DTE_PTY LOG [options]

It answers AT command lines (terminated by CR) with verbose result codes, no echo:
  AT..., ATZ, ATS..=.., ATH..   -> OK     (ATH also leaves the on-line state)
  ATD...                        -> BUSY for the first --busy dials, then CONNECT 9600
  ATA                           -> CONNECT 9600
  AT followed by an X command   -> ERROR
On line it passes data, or plays a small host with --login: "login: ", "Password: ", then
"Welcome" for user guest / password secret, else "Login incorrect". "+++" with a second of
silence before and after returns to command state (OK). DTR is watched on the DTE end:
when its output speed is B0 (DTR off) an on-line call drops with NO CARRIER.
--ring SECONDS sends RING every two seconds from that time until ATA.
--mute answers nothing; --noise sends a never-ending stream of text that never says OK.
Every event goes to LOG as "<seconds> <event> <repr of bytes>" lines, flushed at once.
"""
import argparse
import os
import select
import sys
import termios
import time


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("modem")
    ap.add_argument("dte")
    ap.add_argument("log")
    ap.add_argument("--busy", type=int, default=0)
    ap.add_argument("--ring", type=float, default=-1)
    ap.add_argument("--mute", action="store_true")
    ap.add_argument("--noise", action="store_true")
    ap.add_argument("--login", action="store_true")
    a = ap.parse_args()

    fd = os.open(a.modem, os.O_RDWR | os.O_NOCTTY)
    t = termios.tcgetattr(fd)
    t[0] = t[1] = t[3] = 0
    t[2] = termios.CS8 | termios.CREAD | termios.CLOCAL
    termios.tcsetattr(fd, termios.TCSANOW, t)
    dte = os.open(a.dte, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    log = open(a.log, "w", buffering=1)
    t0 = time.monotonic()

    def note(what, data=b""):
        log.write("%.3f %s %r\n" % (time.monotonic() - t0, what, data))

    def send(data):
        note("tx", data)
        os.write(fd, data)

    def result(word):
        if not a.mute and not a.noise:
            send(b"\r\n" + word + b"\r\n")

    online = False
    cmd = b""
    busy = a.busy
    last_rx = time.monotonic()
    plus = 0          # "+" seen after a guard time
    plus_at = 0.0
    ringing = a.ring >= 0
    next_ring = t0 + max(a.ring, 0)
    dtr_was_on = True
    host = ""         # login host state: "", "user", "pass", "shell"
    user = b""
    line = b""
    note("ready")

    while True:
        now = time.monotonic()
        # DTR: the DTE end's speed B0 means DTR off.
        try:
            dtr_on = termios.tcgetattr(dte)[5] != termios.B0
        except termios.error:
            dtr_on = True
        if dtr_on != dtr_was_on:
            note("dtr", b"on" if dtr_on else b"off")
            if not dtr_on and online:
                online = False
                host = ""
                result(b"NO CARRIER")
            dtr_was_on = dtr_on
        if plus == 3 and now - plus_at >= 1.0:
            plus = 0
            online = False
            note("escape")
            result(b"OK")
        if ringing and not online and now >= next_ring:
            result(b"RING")
            next_ring = now + 2
        if a.noise and not online:
            send(b"garbage without the awaited word " * 64)
        r, _, _ = select.select([fd], [], [], 0.02)
        if not r:
            continue
        try:
            data = os.read(fd, 4096)
        except OSError:
            return
        if not data:
            return
        now = time.monotonic()
        note("rx", data)
        for b in data:
            ch = bytes([b])
            if online:
                gap = now - last_rx
                if ch == b"+" and (plus > 0 or gap >= 1.0) and plus < 3:
                    plus += 1
                    plus_at = now
                else:
                    plus = 0
                    if a.login:
                        state = [host, user]
                        line = host_input(ch, line, send, note, state)
                        host, user = state
                last_rx = now
                continue
            last_rx = now
            if ch == b"\r":
                c = cmd.strip().upper()
                cmd = b""
                # Like a real modem, anything before "AT" (an escape sent off line) is noise.
                at = c.find(b"AT")
                if at < 0:
                    continue
                c = c[at:]
                note("cmd", c)
                if c.startswith(b"ATD") and busy > 0:
                    busy -= 1
                    result(b"BUSY")
                elif c.startswith(b"ATD") or c.startswith(b"ATA"):
                    online = True
                    ringing = False
                    result(b"CONNECT 9600")
                    if a.login:
                        host = "user"
                        send(b"\r\nlogin: ")
                elif b"X" in c[2:]:
                    result(b"ERROR")
                else:
                    if c.startswith(b"ATH"):
                        online = False
                    result(b"OK")
            elif len(cmd) < 4096:
                cmd += ch


def host_input(ch, line, send, note, st):
    host, user = st
    if ch not in (b"\r", b"\n"):
        return line + ch if len(line) < 256 else line
    if host == "user":
        st[1] = line
        st[0] = "pass"
        send(b"\r\nPassword: ")
    elif host == "pass":
        if user == b"guest" and line == b"secret":
            st[0] = "shell"
            send(b"\r\nWelcome\r\n$ ")
        else:
            st[0] = "user"
            send(b"\r\nLogin incorrect\r\nlogin: ")
    elif host == "shell":
        if line == b"exit":
            note("logout")
            send(b"\r\nlogout\r\n")
            st[0] = ""
        else:
            send(b"\r\n$ ")
    return b""


if __name__ == "__main__":
    main()
