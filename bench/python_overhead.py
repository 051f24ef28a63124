#!/usr/bin/python3
"""What a solve from Python costs beyond the program's own: the same model
solved by velora1 and by the module, whole processes side by side,
alternating, on the generator's square.

Needs: the programs square and velora1 and the module (build/release/python)
of a release build, numpy, GNU time (/usr/bin/time). Installs nothing.

Usage: /usr/bin/python3 bench/python_overhead.py --build build/release
       [--n 200] [--method newton] [--pairs 3]

square writes input.txt (half side 1, young 1000, poisson 0.3, pressure 1,
n divisions a side). Each pair runs, in turn, `velora1 --method M --quiet`
and a Python process that does what the program does: Model.read, solve,
Result.write; both write output.txt and autocad.scr, which must be the same
bytes. It prints wall and CPU time (user + system) of each run, the ratio of
the medians, and, from the last Python run, the time of each step (import,
read, solve with the result's arrays, write) and of building the same model from
its arrays (Model(nodes, triangles, ...), which passes through the reader
in memory).
"""
import argparse
import filecmp
import os
import statistics
import subprocess
import sys
import tempfile

SCRIPT = r"""
import json, sys, time
t = [time.perf_counter()]
import velora
t.append(time.perf_counter())
m = velora.Model.read("input.txt")
t.append(time.perf_counter())
r = velora.solve(m, method=sys.argv[1])
t.append(time.perf_counter())
r.write("python")
t.append(time.perf_counter())
again = velora.Model(m.nodes, m.triangles, young=m.young, poisson=m.poisson, fix=m.fixed, pressure=m.pressure,
                     **m.parameters)
t.append(time.perf_counter())
assert again.text() == m.text()
steps = ["import", "read", "solve", "write", "model from arrays"]
print(json.dumps({s: t[i + 1] - t[i] for i, s in enumerate(steps)}))
"""


def timed(command, cwd, env=None):
    """(wall s, cpu s, stdout) of a command under GNU time."""
    out = tempfile.NamedTemporaryFile(mode="r", suffix=".time")
    done = subprocess.run(["/usr/bin/time", "-f", "%e %U %S", "-o", out.name] + command, cwd=cwd, env=env,
                          capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"{command[0]} failed: {done.stderr}")
    wall, user, system = (float(v) for v in out.read().split())
    return wall, user + system, done.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--n", type=int, default=200)
    parser.add_argument("--method", default="newton")
    parser.add_argument("--pairs", type=int, default=3)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    programs = os.path.join(build, "programs")
    env = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
    work = tempfile.mkdtemp(prefix="python_overhead.")
    with open(os.path.join(work, "square.txt"), "w") as f:
        f.write(f"Square\n:\n{args.n} 1.0\n:\n1000.0 0.3\n:\n1.0\n")
    subprocess.run([os.path.join(programs, "square")], cwd=work, check=True)
    print("load before:", os.getloadavg())
    program, python = [], []
    for _ in range(args.pairs):
        program.append(timed([os.path.join(programs, "velora1"), "--method", args.method, "--quiet"], work)[:2])
        wall, cpu, steps = timed([sys.executable, "-c", SCRIPT, args.method], work, env)
        python.append((wall, cpu))
    print("load after:", os.getloadavg())
    for f in ("output.txt", "autocad.scr"):
        if not filecmp.cmp(os.path.join(work, f), os.path.join(work, "python", f), shallow=False):
            sys.exit(f"{f} differs between velora1 and the module")
    print("velora1 wall / cpu s:", program)
    print("module  wall / cpu s:", python)
    for k, what in enumerate(("wall", "cpu")):
        a = statistics.median(p[k] for p in program)
        b = statistics.median(p[k] for p in python)
        print(f"median {what}: velora1 {a:.2f} s, module {b:.2f} s, ratio {b / a:.3f}")
    print("module's steps (last run, s):", steps.strip())


if __name__ == "__main__":
    main()
