#!/usr/bin/env python3
"""armhf-vm-image.py: the initramfs in which scripts/armhf-vm.sh runs the
armhf test suite on a real ARM kernel.

    armhf-vm-image.py --tests <ctest json> --source <dir> --build <dir>
                      --busybox <file> --sysroot <dir> --output <initrd.gz>

The test list is CTest's own (`ctest --show-only=json-v1` of the armhf test
preset); the preset's environment is added because CTest applies it to its
own process, not to the tests it lists. Each GoogleTest program runs once,
filtered to the cases CTest lists, and every case is judged from the
program's report; any other test runs with its own command line. Tests that
need the build host are left out by name and reported. The image holds
busybox, the C and C++ runtime the programs need, the build tree's
programs and libraries at their own absolute paths (some tests carry them)
and the source files the commands name. The archive is written here, so
neither root nor the cpio tool is needed.
"""

import argparse
import gzip
import json
import os
import re
import shlex
import stat
import subprocess
import sys
import tempfile

# Labels of tests that check the build host's own view of the build: export
# lists and symbol versions read with host tools, installed packages, docs,
# the static probes and the gdb extension (readelf, gdb-multiarch and
# qemu-arm's gdb stub on the build host).
HOST_LABELS = {"abi", "package", "docs", "gdb"}
READELF = "arm-linux-gnueabihf-readelf"
OBJCOPY = "arm-linux-gnueabihf-objcopy"


def fail(message):
    sys.exit("armhf-vm-image: " + message)


def test_property(test, name, default=None):
    for entry in test.get("properties", []):
        if entry["name"] == name:
            return entry["value"]
    return default


def preset_environment(source, preset_name):
    """The environment a test preset gives, with its inherited presets'."""
    with open(os.path.join(source, "CMakePresets.json")) as presets_file:
        presets = {p["name"]: p for p in json.load(presets_file)["testPresets"]}
    environment = {}

    def collect(name):
        preset = presets[name]
        inherits = preset.get("inherits", [])
        for parent in [inherits] if isinstance(inherits, str) else inherits:
            collect(parent)
        environment.update(preset.get("environment", {}))

    collect(preset_name)
    macros = {"${sourceDir}": source, "${presetName}": preset_name}
    for key, value in environment.items():
        for macro, replacement in macros.items():
            value = value.replace(macro, replacement)
        environment[key] = value
    return environment


def strip_emulator(command, emulator):
    """The command without the cross-emulator in front of a program, also
    where a test script takes it after "--"."""
    def emulator_at(index):
        words = command[index:index + len(emulator)]
        return (bool(emulator) and len(words) == len(emulator) and
                os.path.basename(words[0]) == os.path.basename(emulator[0]) and words[1:] == emulator[1:])

    result = []
    index = 0
    while index < len(command):
        if emulator_at(index):
            index += len(emulator)
            continue
        result.append(command[index])
        index += 1
    return result


def needs_build_host(test, command):
    labels = set(test_property(test, "LABELS", []))
    program = os.path.basename(command[0])
    return bool(labels & HOST_LABELS) or (program == "cmake" and "-P" in command)


class Plan:
    """What the init script runs, in CTest's order."""

    def __init__(self, environment):
        self.environment = environment
        self.groups = []  # [key, cases], cases: [(ctest name, gtest case)]
        self.singles = []
        self.excluded = []
        self.paths = set()
        self.directories = set()

    def add(self, test, command, source, build):
        # Without a working directory of its own a test runs in the build
        # tree (its directory there, for CTest; no test here depends on which).
        wd = test_property(test, "WORKING_DIRECTORY", build)
        self.directories.add(wd)
        environment = dict(self.environment)
        for assignment in test_property(test, "ENVIRONMENT", []):
            key, _, value = assignment.partition("=")
            environment[key] = value
        timeout = int(float(test_property(test, "TIMEOUT", 300)))
        unsupported = {"PASS_REGULAR_EXPRESSION", "FAIL_REGULAR_EXPRESSION", "ENVIRONMENT_MODIFICATION"}
        for entry in test.get("properties", []):
            if entry["name"] in unsupported:
                fail(f"{test['name']}: property {entry['name']} is not supported in the VM")
        filters = [a for a in command if a.startswith("--gtest_filter=")]
        env_key = tuple(sorted(environment.items()))
        if filters and test_property(test, "SKIP_RETURN_CODE") is None:
            others = tuple(a for a in command if a not in filters)
            key = (others, wd, env_key)
            case = filters[0][len("--gtest_filter="):]
            for group in self.groups:
                if group[0] == key:
                    group[1].append((test["name"], case))
                    group[2] += timeout
                    break
            else:
                self.groups.append([key, [(test["name"], case)], timeout])
        else:
            will_fail = test_property(test, "WILL_FAIL", False)
            skip_code = test_property(test, "SKIP_RETURN_CODE")
            self.singles.append((test["name"], tuple(command), wd, env_key, timeout, will_fail, skip_code))
        # The files the commands name, the source tree's expected outputs
        # and scripts among them (the build tree is in the image anyway).
        for path in command:
            if path.startswith(source + "/") and os.path.exists(path):
                self.paths.add(path)

    def script(self):
        lines = []
        for (command, wd, env_key), cases, timeout in self.groups:
            pattern = ":".join(case for _, case in cases)
            invocation = env_command(env_key, command[:1] + ("--gtest_filter=" + pattern,) + command[1:], timeout)
            lines.append(f"run_program {shlex.quote(command[0])} {shlex.quote(wd)} {invocation}")
            lines.append("judge_cases <<'CASES'")
            lines += [f"{case} {name}" for name, case in cases]
            lines.append("CASES")
        for name, command, wd, env_key, timeout, will_fail, skip_code in self.singles:
            invocation = env_command(env_key, command, timeout)
            lines.append(f"run_program {shlex.quote(command[0])} {shlex.quote(wd)} {invocation}")
            lines.append(f"judge_exit {shlex.quote(name)} {1 if will_fail else 0} {shlex.quote(str(skip_code or ''))}")
        return "\n".join(lines) + "\n"


def env_command(env_key, command, timeout):
    words = ["timeout", "-s", "KILL", str(timeout), "env"]
    words += [f"{key}={value}" for key, value in env_key]
    words += list(command)
    return " ".join(shlex.quote(word) for word in words)


class Archive:
    """A cpio "newc" archive, the format the kernel unpacks into its root."""

    def __init__(self):
        self.data = bytearray()
        self.inode = 1
        self.directories = set()

    def entry(self, name, mode, body=b"", rdev=(0, 0)):
        name = name.lstrip("/")
        encoded = name.encode() + b"\0"
        fields = [self.inode, mode, 0, 0, 1, 0, len(body), 0, 0, rdev[0], rdev[1], len(encoded), 0]
        self.inode += 1
        self.data += b"070701" + b"".join(b"%08X" % field for field in fields) + encoded
        self.pad()
        self.data += body
        self.pad()

    def pad(self):
        self.data += b"\0" * (-len(self.data) % 4)

    def directory(self, path):
        path = os.path.normpath(path)
        if path in ("/", ".") or path in self.directories:
            return
        self.directory(os.path.dirname(path))
        self.directories.add(path)
        self.entry(path, stat.S_IFDIR | 0o755)

    def file(self, path, body, mode=0o755):
        self.directory(os.path.dirname(path))
        self.entry(path, stat.S_IFREG | mode, body)

    def copy(self, source, path=None):
        """A file, symlink or directory tree of the host at `path`."""
        path = path or source
        info = os.lstat(source)
        if stat.S_ISLNK(info.st_mode):
            self.directory(os.path.dirname(path))
            self.entry(path, stat.S_IFLNK | 0o777, os.readlink(source).encode())
        elif stat.S_ISDIR(info.st_mode):
            self.directory(path)
            for child in sorted(os.listdir(source)):
                self.copy(os.path.join(source, child), os.path.join(path, child))
        elif stat.S_ISREG(info.st_mode) and not source.endswith(".a"):
            self.file(path, file_contents(source), stat.S_IMODE(info.st_mode))

    def finish(self):
        self.entry("TRAILER!!!", 0)
        return bytes(self.data)


def file_contents(path):
    """A file's bytes; ELF files without their debug information, which is
    most of a RelWithDebInfo build and would only slow the boot."""
    if not is_elf(path):
        with open(path, "rb") as handle:
            return handle.read()
    with tempfile.NamedTemporaryFile() as stripped:
        subprocess.run([OBJCOPY, "--strip-debug", path, stripped.name], check=True)
        return stripped.read()


def is_elf(path):
    with open(path, "rb") as handle:
        return handle.read(4) == b"\x7fELF"


def needed_libraries(paths):
    needed = set()
    for path in paths:
        output = subprocess.run([READELF, "-d", path], capture_output=True, text=True).stdout
        needed.update(re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", output))
    return needed


def runtime_libraries(elf_files, provided, sysroot_lib):
    """The runtime libraries, from the cross sysroot, that the programs and
    libraries of the build tree need, with their own needs: name -> path."""
    found = {}
    pending = needed_libraries(elf_files) - provided
    while pending:
        name = pending.pop()
        path = os.path.join(sysroot_lib, name)
        if not os.path.exists(path):
            continue  # a stand-in the tests supply themselves, or a deliberately missing one
        found[name] = os.path.realpath(path)
        pending |= needed_libraries([found[name]]) - provided - set(found)
    return found


INIT = r"""#!/bin/sh
# Runs the armhf suite and powers off; scripts/armhf-vm.sh reads the summary.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# No tmpfs on /tmp: the image's root is in memory and writable already, and
# a build tree under /tmp (a CI clone, say) would vanish beneath it.
echo "vm: $(uname -r -m), realtime=$(cat /sys/kernel/realtime 2>/dev/null || echo 0), $(nproc) cpus"
passed=0 failed=0 skipped=0 output=/tmp/output

# run_program <program> <working directory> <command...>
run_program() {
  program=$1 wd=$2
  shift 2
  status=0
  if [ ! -e "$program" ]; then
    echo "MISSING: $program"
    echo "missing from the image" >$output
    status=127
    return
  fi
  started=$(cut -d' ' -f1 /proc/uptime)
  (cd "$wd" && "$@") >$output 2>&1 || status=$?
  echo "vm: ${program##*/} exit $status, $started s to $(cut -d' ' -f1 /proc/uptime) s"
}

report_failure() {
  echo "FAILED: $1 (exit $status)"
  tail -n 30 $output | sed 's/^/    /'
}

# judge_cases < "<gtest case> <ctest name>" lines: each case by its own line
# in the program's report, in one pass; a program that failed without
# failing a case (a crash at exit, say) fails as well.
judge_cases() {
  set -- $(awk -v output=$output '
    BEGIN {
      while ((getline line < output) > 0) {
        split(line, word, " ")
        if (line ~ /^\[       OK \] /) result[word[4]] = "passed"
        # The slow cases, for whoever watches the time budget.
        if (line ~ /^\[       OK \] .* ms\)$/ && substr(word[5], 2) + 0 >= 5000)
          print "vm: slow case " word[4] " " substr(word[5], 2) " ms" > "/dev/stderr"
        if (line ~ /^\[  SKIPPED \] /) result[word[4]] = "skipped"
      }
    }
    { count[result[$1] == "" ? "failed" : result[$1]]++
      if (result[$1] == "") print "FAILED: " substr($0, length($1) + 2) > "/dev/stderr" }
    END { print count["passed"] + 0, count["skipped"] + 0, count["failed"] + 0 }')
  passed=$((passed + $1)) skipped=$((skipped + $2)) failed=$((failed + $3))
  if [ "$3" -ne 0 ] || [ "$status" -ne 0 ]; then
    [ "$3" -ne 0 ] || failed=$((failed + 1))
    report_failure "$program"
  fi
}

# judge_exit <ctest name> <will fail: 0|1> <skip return code>
judge_exit() {
  if [ -n "$3" ] && [ "$status" -eq "$3" ]; then
    skipped=$((skipped + 1))
  elif { [ "$2" -eq 0 ] && [ "$status" -eq 0 ]; } || { [ "$2" -eq 1 ] && [ "$status" -ne 0 ]; }; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    report_failure "$1"
  fi
}

start=$(cut -d' ' -f1 /proc/uptime)
. /suite.sh
end=$(cut -d' ' -f1 /proc/uptime)
echo "vm: suite took $start s to $end s of uptime"
if [ $((passed + failed)) -eq 0 ]; then
  echo "vm: no test ran"
fi
echo "$passed passed, $failed failed, $skipped skipped"
sync
poweroff -f
sleep 5
reboot -f
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    for option in ("tests", "source", "build", "busybox", "sysroot", "output"):
        parser.add_argument("--" + option, required=True)
    parser.add_argument("--preset", default="armhf")
    parser.add_argument("--only", default="", help="run only the tests whose names match this regular expression")
    arguments = parser.parse_args()
    source = os.path.realpath(arguments.source)
    build = os.path.realpath(arguments.build)

    with open(arguments.tests) as tests_file:
        tests = json.load(tests_file)["tests"]
    emulator = []
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        for line in cache:
            if line.startswith("CMAKE_CROSSCOMPILING_EMULATOR:"):
                emulator = [w for w in line.split("=", 1)[1].strip().split(";") if w]

    plan = Plan(preset_environment(source, arguments.preset))
    for test in tests:
        if not re.search(arguments.only, test["name"]):
            continue
        command = strip_emulator(test.get("command", []), emulator)
        if not command:
            fail(f"{test['name']} has no command")
        if needs_build_host(test, command):
            plan.excluded.append(test["name"])
            continue
        if os.path.basename(command[0]) == "sh":
            command[0] = "/bin/sh"  # busybox's
        if not command[0].startswith("/"):
            fail(f"{test['name']}: {command[0]} is not a program of the image")
        if command[0].startswith("/") and not os.path.exists(command[0]):
            fail(f"{test['name']}: {command[0]} does not exist")
        plan.add(test, command, source, build)
    if not plan.groups and not plan.singles:
        fail("no test to run")

    archive = Archive()
    for directory in ("/proc", "/sys", "/dev", "/tmp", "/bin", "/lib"):
        archive.directory(directory)
    archive.entry("/dev/console", stat.S_IFCHR | 0o600, rdev=(5, 1))
    with open(arguments.busybox, "rb") as handle:
        archive.file("/bin/busybox", handle.read())
    archive.entry("/bin/sh", stat.S_IFLNK | 0o777, b"busybox")
    archive.file("/init", INIT.encode())
    archive.file("/suite.sh", plan.script().encode(), 0o644)

    # The build tree's programs and libraries, where the tests expect them.
    tree = [os.path.join(build, d) for d in ("bin", "lib", "variants") if os.path.isdir(os.path.join(build, d))]
    for path in sorted(plan.paths):
        if os.path.isdir(path):
            archive.directory(path)
        elif not any(path.startswith(t + "/") for t in tree):
            archive.copy(path)
    for directory in sorted(plan.directories):
        archive.directory(directory)
    elf_files, provided = [], set()
    for directory in tree:
        archive.copy(directory)
        for root, _, files in os.walk(directory):
            for name in files:
                path = os.path.join(root, name)
                if os.path.isfile(path) and not os.path.islink(path) and is_elf(path):
                    elf_files.append(path)
                provided.add(name)
    for name, path in sorted(runtime_libraries(elf_files, provided, arguments.sysroot).items()):
        archive.copy(path, "/lib/" + name)

    with gzip.open(arguments.output, "wb", compresslevel=6) as output:
        output.write(archive.finish())
    cases = sum(len(cases) for _, cases, _ in plan.groups) + len(plan.singles)
    print(f"armhf-vm-image: {cases} tests in {len(plan.groups) + len(plan.singles)} runs, "
          f"{len(archive.data) >> 20} MB unpacked")
    for name in plan.excluded:
        print(f"armhf-vm-image: left out (needs the build host): {name}")


if __name__ == "__main__":
    main()
