"""What tests/run.py hands a suite: the programs under test and the folders
they need, each an option of run.py and a WHIRLO_* variable. A suite asks
for what it uses; one that was not given it stops at once and says what to
pass, rather than testing some other build."""

import os

# option: what it names
OPTIONS = {
    "program": "the whirlo32 executable",
    "bridge": "the wincgi-bridge executable",
    "fastcgi_program": "the whirlo32-fastcgi executable",
    "setup": "the setup executable",
    "distribution": "the distribution set's folder",
    "native": "the native whirlo32 that a Windows build is compared with",
    "probe": "the help viewer probe (help_probe.exe)",
    "help_file": "the help file the probe opens",
    "build": "a release build folder, the package's contents",
    "artefacts": "a folder for screenshots and logs (created)",
    "wine": "the command that runs Windows programs in a session of the "
            "suite's own, on its own screen",
}
FOLDERS = ("distribution", "build", "artefacts")


def variable(option):
    return "WHIRLO_" + option.upper()


def given(option):
    """The absolute path (or command, for wine) the run was given as
    --option; RuntimeError when it was not."""
    value = os.environ.get(variable(option))
    if not value:
        raise RuntimeError("%s is not set: run the suite through tests/run.py "
                           "with --%s (%s)" % (variable(option),
                                               option.replace("_", "-"),
                                               OPTIONS[option]))
    return value
