#!/usr/bin/env python3
"""Runs one case of quorlink_window_tests under Wine on a virtual display.

Starts itself again under xvfb-run when there is no display of its own, makes
the Wine prefix once (Wine drawing its own frames, since Xvfb has no window
manager), runs the case, and when the program says SHOWN takes a screenshot
of the whole display with ImageMagick's import, checks that it is not blank
and lets the program go on. The prefix's wineserver is ended afterwards so
that the next run's display is the one Wine uses.
"""
import argparse
import fcntl
import os
import subprocess
import sys

SCREEN = "1024x768x24"


def wine_env(prefix):
    env = dict(os.environ)
    env.update(WINEPREFIX=os.path.abspath(prefix), WINEARCH="win64", WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    return env


def prepare_prefix(args, env, server):
    ready = os.path.join(args.prefix, ".quorlink-ready")
    os.makedirs(args.prefix, exist_ok=True)
    with open(args.prefix + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(ready):
            return
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        subprocess.run([args.wine, "wineboot", "-i"], check=True, **quiet)
        key = r"HKCU\Software\Wine\X11 Driver"
        for value in ("Managed", "Decorated"):
            subprocess.run([args.wine, "reg", "add", key, "/v", value, "/t", "REG_SZ",
                            "/d", "N", "/f"], check=True, **quiet)
        subprocess.run([server, "-w"], env=env)
        open(ready, "w").close()


def colours(png):
    out = subprocess.run(["convert", png, "-format", "%k", "info:"],
                         capture_output=True, text=True)
    return int(out.stdout.strip() or 0)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_case(args):
    env = wine_env(args.prefix)
    server = os.path.join(os.path.dirname(args.wine), "wineserver")
    prepare_prefix(args, env, server)
    command = [args.wine, args.program] + args.case
    if args.file:
        command.append(windows_path(args.file))
    failed = False
    printed = []
    program = subprocess.Popen(command, env=env, stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, text=True)
    try:
        for line in program.stdout:
            sys.stdout.write(line)
            sys.stdout.flush()
            printed.append(line.rstrip("\n"))
            if line.strip() == "SHOWN" and args.screenshot:
                subprocess.run(["import", "-window", "root", args.screenshot], check=True)
                count = colours(args.screenshot)
                ok = count >= 4
                failed |= not ok
                print("%s: screenshot %s has %d colours" %
                      ("ok" if ok else "FAILED", args.screenshot, count), flush=True)
                program.stdin.write("\n")
                program.stdin.flush()
        code = program.wait(timeout=args.timeout)
    except subprocess.TimeoutExpired:
        print("FAILED: the program did not end", flush=True)
        program.kill()
        code = 1
    finally:
        subprocess.run([server, "-k"], env=env)
        subprocess.run([server, "-w"], env=env)
    for text in args.expect:
        found = any(text in line for line in printed)
        failed |= not found
        print("%s: the program printed %r" % ("ok" if found else "FAILED", text), flush=True)
    return 1 if failed else code


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--screenshot")
    parser.add_argument("--file", help="a file given to the case as a Windows path")
    parser.add_argument("--timeout", type=int, default=180)
    parser.add_argument("--no-display", action="store_true",
                        help="run without a display (Wine's session has none)")
    parser.add_argument("--expect", action="append", default=[],
                        help="a line the program must print")
    parser.add_argument("case", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if args.case and args.case[0] == "--":
        args.case = args.case[1:]
    if args.no_display:
        os.environ["DISPLAY"] = ""
    elif os.environ.get("QUORLINK_ON_XVFB") != "1":
        env = dict(os.environ, QUORLINK_ON_XVFB="1")
        return subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 " + SCREEN,
                               sys.executable] + sys.argv, env=env).returncode
    return run_case(args)


if __name__ == "__main__":
    sys.exit(main())
