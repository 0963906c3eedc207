#!/usr/bin/python3
"""The suite as "cmake --install" lays it out, in a temporary prefix with a space in it.

  install_test.py BUILD_DIR

Checks the bundle layout and identifiers, validates the desktop entries with
desktop-file-validate, runs the installed hub's "-oauth", lets the bus start the
installed share destination from the installed service file and presses its
"Open Quorvane Plugin Hub..." button (the hub must be found by identifier beside it),
then runs the whole share (scripts/demo --auto --prefix) on the installed programs.
Ends with "N passed, N failed"; exit status 0 only when nothing failed.
"""

import importlib.util
import os
import plistlib
import shlex
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))


def load(name):
    spec = importlib.util.spec_from_file_location(
        name.replace("-", "_"), os.path.join(SOURCE, "scripts", name + ".py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


S = load("demo-session")
X = load("demo-x11")

HUB = "Quorvane Plugin Hub.app"
TODAY = HUB + "/Contents/PlugIns/Quorvane Today Extension.appex"
SAM = "Quorvane FCPX Exporter.app"
PLUGIN = "Quorv Premiere Exporter.bundle"
BUNDLES = {
    HUB: ("com.oxburyworks.QuorvPluginHub",
          ["MacOS/Quorvane Plugin Hub", "MacOS/QuorvHubWindow", "Resources/QuorvAuth.css",
           "Resources/Tick_2.svg"]),
    TODAY: ("com.oxburyworks.QuorvPluginHub.TodayExtension",
            ["MacOS/Quorvane Today Extension"]),
    SAM: ("com.oxburyworks.QuorvFCPXExporter",
          ["MacOS/Quorvane FCPX Exporter", "Resources/com.oxburyworks.QuorvFCPXExporter.xml",
           "Resources/com.oxburyworks.QuorvFCPXExporter.service", "Resources/Quorv_Dept.png"]),
    PLUGIN: ("com.oxburyworks.QuorvPremiereExporter",
             ["MacOS/Quorv Premiere Exporter", "Resources/Quorvane.epr",
              "Resources/Quorv_Folder@2x.png"]),
}
HUB_ENTRY = "share/applications/com.oxburyworks.QuorvPluginHub.desktop"
SAM_ENTRY = "share/applications/com.oxburyworks.QuorvFCPXExporter.desktop"
SERVICE = "share/dbus-1/services/com.oxburyworks.QuorvFCPXExporter.service"


class Results:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, ok, text):
        print("%s %s" % ("ok  " if ok else "FAIL", text), flush=True)
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        return ok


def key_value(path, key):
    """The value of `key` in a desktop entry or service file."""
    with open(path) as f:
        for line in f:
            name, sep, value = line.rstrip("\n").partition("=")
            if sep and name == key:
                return value
    return None


def exec_program(value):
    """The program an Exec value names (its first argument, unquoted)."""
    # A desktop entry escapes backslashes once more as a string; our paths carry none.
    return shlex.split(value)[0] if value else None


def check_layout(results, prefix):
    for bundle, (identifier, files) in BUNDLES.items():
        contents = os.path.join(prefix, bundle, "Contents")
        try:
            with open(os.path.join(contents, "Info.plist"), "rb") as f:
                info = plistlib.load(f)
        except OSError:
            info = {}
        results.check(info.get("CFBundleIdentifier") == identifier,
                      "%s has the identifier %s" % (bundle, identifier))
        for name in files:
            path = os.path.join(contents, name)
            # Programs are executable; the plug-in is a library the host loads.
            wanted = os.path.isfile(path) and (not name.startswith("MacOS/") or
                                               bundle == PLUGIN or os.access(path, os.X_OK))
            results.check(wanted, "%s holds %s" % (bundle, name))
    results.check(os.path.isdir(os.path.join(prefix, HUB, "Contents/PlugIns")) and
                  os.listdir(os.path.join(prefix, HUB, "Contents/PlugIns")) ==
                  ["Quorvane Today Extension.appex"], "the widget is the hub's one plug-in")


def check_entries(results, prefix):
    entries = [os.path.join(prefix, HUB_ENTRY), os.path.join(prefix, SAM_ENTRY)]
    reply = subprocess.run(["desktop-file-validate"] + entries, capture_output=True, text=True)
    results.check(reply.returncode == 0 and not reply.stdout.strip(),
                  "desktop-file-validate accepts both entries" +
                  ("" if reply.returncode == 0 else ": " + reply.stdout + reply.stderr))
    hub, sam = entries
    results.check(exec_program(key_value(hub, "Exec")) ==
                  os.path.join(prefix, HUB, "Contents/MacOS/Quorvane Plugin Hub"),
                  "the hub's entry starts the installed hub")
    results.check(key_value(hub, "NoDisplay") is None, "the hub's entry is shown in menus")
    results.check(exec_program(key_value(sam, "Exec")) ==
                  os.path.join(prefix, SAM, "Contents/MacOS/Quorvane FCPX Exporter"),
                  "the share destination's entry starts the installed program")
    results.check(key_value(sam, "NoDisplay") == "true", "the share destination's entry is hidden")
    service = os.path.join(prefix, SERVICE)
    results.check(key_value(service, "Name") == "com.oxburyworks.QuorvFCPXExporter" and
                  exec_program(key_value(service, "Exec")) ==
                  os.path.join(prefix, SAM, "Contents/MacOS/Quorvane FCPX Exporter"),
                  "the D-Bus service file starts the installed share destination")


def check_oauth(results, prefix, home):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home}
    reply = subprocess.run([os.path.join(prefix, HUB, "Contents/MacOS/Quorvane Plugin Hub"),
                            "-oauth"], env=env, capture_output=True, text=True, timeout=30)
    results.check(reply.returncode == 0 and reply.stdout == "###0###(null)###(null)",
                  "the installed hub answers \"-oauth\" for no account: %r" % reply.stdout)


def check_hub_found_by_identifier(results, prefix, build):
    """The bus starts the installed share destination for the editor's command; with no
    account linked it asks to link one, and "Link Account" starts the hub it finds by
    identifier beside its own bundle."""
    session = S.Session()
    try:
        screen = X.Screen(session, S.DemoError, S.wait_until)
        screen.start_xvfb()
        peers = S.Peers(session, SOURCE)
        peers.start_service({})
        peers.start_storage()
        peers.start_bus(service_dir=os.path.join(prefix, "share/dbus-1/services"))
        session.spawn("editor", [os.path.join(build, "tests/standins/quorvane_editor_standin"),
                                 "--interaction", "0x20", "--make-only"])
        alert = screen.wait_window("Quorvane FCPX Exporter", 90)
        sam = os.path.join(prefix, SAM, "Contents/MacOS/Quorvane FCPX Exporter")
        results.check(running(session, sam), "the bus started the installed share destination")
        # "Link Account" is the alert's default button.
        screen.keys(alert, "Return")
        hub = os.path.join(prefix, HUB, "Contents/MacOS/QuorvHubWindow")
        found = S.wait_until(lambda: running(session, hub), 60, "the hub's window program")
        results.check(found, "the share destination found the installed hub by identifier")
        screen.wait_window("Quorvane Plugin Hub", 60)
    except S.DemoError as error:
        results.check(False, str(error))
    finally:
        leftovers = session.close()
    results.check(not leftovers, "nothing left behind: %s" % leftovers)


def running(session, executable):
    for pid, _command in session.marked_processes():
        try:
            if os.readlink("/proc/%d/exe" % pid) == executable:
                return True
        except OSError:
            pass
    return False


def main():
    S.private_mounts([sys.executable, os.path.realpath(__file__)] + sys.argv[1:])
    build = os.path.abspath(sys.argv[1])
    results = Results()
    root = tempfile.mkdtemp(prefix="quorvane-install-")
    prefix = os.path.join(root, "opt dir", "oxburyworks")
    try:
        reply = subprocess.run(["cmake", "--install", build, "--prefix", prefix],
                               capture_output=True, text=True)
        if results.check(reply.returncode == 0, "cmake --install into %s" % prefix):
            check_layout(results, prefix)
            check_entries(results, prefix)
            check_oauth(results, prefix, os.path.join(root, "home"))
            check_hub_found_by_identifier(results, prefix, build)
            demo = subprocess.run([os.path.join(SOURCE, "scripts/demo"), "--auto", "--no-build",
                                   "--prefix", prefix, "--build-dir", build,
                                   "--out", os.path.join(root, "demo")],
                                  capture_output=True, text=True)
            results.check(demo.returncode == 0, "a whole share through the installed programs" +
                          ("" if demo.returncode == 0 else ":\n" + demo.stdout + demo.stderr))
        else:
            print(reply.stdout + reply.stderr)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print("%d passed, %d failed" % (results.passed, results.failed))
    return 0 if results.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
