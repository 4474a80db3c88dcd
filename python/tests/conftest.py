# SPDX-License-Identifier: MIT
# The programs the module is compared with, from the environment CTest sets:
# TAPSMITH and TAPSMITH_FIXED are the built programs' paths.
import os
import subprocess

import pytest


def program(variable):
    path = os.environ.get(variable)
    if not path:
        pytest.fail(f"{variable} is not set: run the tests through ctest")
    return path


def run(variable, *args):
    """The program's exit status, standard output (bytes) and standard error (text)."""
    done = subprocess.run([program(variable), *map(str, args)], capture_output=True, check=False)
    return done.returncode, done.stdout, done.stderr.decode()


def usage_message(stderr, name="tapsmith-fixed"):
    """The message of a usage error, without the program's name and the --help hint."""
    first = stderr.splitlines()[0]
    prefix = f"{name}: "
    assert first.startswith(prefix), stderr
    return first[len(prefix):]
