# Shared by the bench scripts (sourced): the palvex-cli under test, and one
# measured run of a command.

# Sets cli to $PALVEX_CLI, or builds palvex-cli (Release) in build-bench-release/.
bench_cli() {
  cli=${PALVEX_CLI:-}
  if [ -z "$cli" ]; then
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    cmake -S . -B build-bench-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPALVEX_BUILD_GUI=OFF \
      -DPALVEX_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
    cmake --build build-bench-release --target palvex-cli -j 2 >/dev/null
    cli=$(pwd)/build-bench-release/app/palvex-cli
  fi
}

# measure COMMAND...: prints "exit-code wall-ms cpu-ms peak-KiB", then the
# command's first line of standard error on a line of its own. Times come from
# the process's own accounting (wait4), not from a coarse timer.
measure() {
  /usr/bin/python3 - "$@" <<'PY'
import os, sys, time
cmd = sys.argv[1:]
r, w = os.pipe()
actions = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0), (os.POSIX_SPAWN_DUP2, w, 2)]
start = time.monotonic()
pid = os.posix_spawnp(cmd[0], cmd, os.environ, file_actions=actions)
os.close(w)
chunks = []
while True:
    chunk = os.read(r, 65536)
    if not chunk:
        break
    chunks.append(chunk)
err = b"".join(chunks).decode(errors="replace")
_, status, usage = os.wait4(pid, 0)
wall = time.monotonic() - start
print(os.waitstatus_to_exitcode(status), "%.1f" % (1000 * wall), "%.1f" % (1000 * (usage.ru_utime + usage.ru_stime)),
      usage.ru_maxrss)
print((err.strip().splitlines() or [""])[-1])
PY
}
