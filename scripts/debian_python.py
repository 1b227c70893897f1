"""The scripts need Debian's NumPy (and Pillow): where the python3 first on the path lacks them (a
pyenv or a virtual environment), a script runs itself again with Debian's /usr/bin/python3."""
import importlib
import os
import sys


def require(*modules, packages):
    """Imports `modules`, or runs the calling script again under /usr/bin/python3, or exits saying
    which Debian packages to install."""
    try:
        for name in modules:
            importlib.import_module(name)
    except ImportError as missing:
        debian = "/usr/bin/python3"
        if os.path.realpath(sys.executable) != os.path.realpath(debian) and os.access(debian, os.X_OK):
            os.execv(debian, [debian, os.path.abspath(sys.argv[0]), *sys.argv[1:]])
        sys.exit(f"{missing}: this script needs apt-get install {packages}")
