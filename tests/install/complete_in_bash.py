#!/usr/bin/env python3
"""Types partial command lines into an interactive bash on a pseudo-terminal, presses Tab,
and prints each line as readline left it ("NAME: LINE").

Usage: complete_in_bash.py COMPLETION_FILE BIN_DIR WORK_DIR NAME=PARTIAL_LINE...
The line is read back by moving to its start and turning it into an echo command, so what is
printed is exactly what the user would see on the command line."""
import os
import pty
import select
import sys
import time


def read_until(fd, marker, timeout=15.0):
    data = b""
    end = time.time() + timeout
    while marker not in data:
        left = end - time.time()
        if left <= 0:
            break
        ready, _, _ = select.select([fd], [], [], left)
        if not ready:
            continue
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return data


def main():
    completion, bin_dir, work = sys.argv[1:4]
    rc = os.path.join(work, "bashrc")
    with open(rc, "w") as f:
        f.write("source /usr/share/bash-completion/bash_completion\n")
        f.write(f"source '{completion}'\n")
        f.write("PS1='READY> '\nbind 'set bell-style none'\n")
    env = {
        "PATH": f"{bin_dir}:/usr/bin:/bin",
        "HOME": work,
        "TERM": "dumb",
        "INPUTRC": "/dev/null",
        "QT_QPA_PLATFORM": "offscreen",
    }
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(work)
        os.execve("/bin/bash", ["bash", "--noprofile", "--rcfile", rc, "-i"], env)
    read_until(fd, b"READY> ")
    for arg in sys.argv[4:]:
        name, line = arg.split("=", 1)
        os.write(fd, line.encode() + b"\t")
        read_until(fd, b"never printed", timeout=1.5)  # the completion and any list
        # Ctrl-A, then the echo in front of the line as completed, then Enter.
        os.write(fd, b"\x01echo '" + name.encode() + b": '\r")
        out = read_until(fd, b"\n" + name.encode() + b": ")
        out = (out + read_until(fd, b"READY> ")).decode(errors="replace")
        result = [l for l in out.replace("\r", "").split("\n") if l.startswith(name + ": ")]
        print(result[-1].rstrip() if result else f"{name}: (nothing read back)")
        sys.stdout.flush()
    os.write(fd, b"exit\r")
    os.waitpid(pid, 0)


if __name__ == "__main__":
    main()
