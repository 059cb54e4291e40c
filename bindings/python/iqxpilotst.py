"""QXPilot client library for Python (ctypes), for 32- and 64-bit Python on Windows.

A 32-bit Python loads the x86 IQXPilotSt.dll, whose exports are stdcall (ctypes.WinDLL); a 64-bit Python the
x64 one (one calling convention: ctypes.CDLL). Plain exports take ANSI bytes ("...".encode("mbcs")), the _Utf8
ones UTF-8 bytes; None passes a null text. Every function returns the library's 32-bit return code.

    import iqxpilotst
    qx = iqxpilotst.load(r"C:\\QXPilot-1.0.0")     # the unzipped SDK folder, or a path to IQXPilotSt.dll
    qx.StartDaemon(...); ...
"""
import ctypes
import os
import struct
from ctypes import c_char_p, c_int32, c_uint8

IQXP_OK = 0
IQXP_CONVERSION_FAILED = 1
IQXP_NO_DAEMON = 100
IQXP_NULL_PATH = 101
IQXP_CREATE_FAILED = 102
IQXP_NOT_IDLE = 103
IQXP_EMPTY_PATH = 107
IQXP_NO_CONFIG_FILE = -1

# (export, return type, argument types), as in IQXPilotSt.h.
_SIGNATURES = [
    ("StartDaemon", c_int32, [c_char_p, c_uint8, c_char_p]),
    ("StartDaemon_Utf8", c_int32, [c_char_p, c_uint8, c_char_p]),
    ("StopDaemon", c_int32, []),
    ("StartQuodrix", c_int32, [c_char_p, c_int32, c_char_p]),
    ("StartQuodrix_Utf8", c_int32, [c_char_p, c_int32, c_char_p]),
    ("AddPilotingModule", c_int32, [c_char_p, c_char_p]),
    ("PilotQuodrix", c_int32, [c_int32, c_int32, c_int32, c_int32,
                               c_char_p, c_char_p, c_char_p, c_char_p, c_char_p, c_char_p, c_char_p]),
    ("GetSystemLastError", c_int32, []),
]

ARCH = "x86" if struct.calcsize("P") == 4 else "x64"


def load(path):
    """Loads IQXPilotSt.dll: `path` is the DLL itself or the SDK folder (then bin/<this Python's arch>/)."""
    if os.path.isdir(path):
        path = os.path.join(path, "bin", ARCH, "IQXPilotSt.dll")
    loader = ctypes.WinDLL if struct.calcsize("P") == 4 else ctypes.CDLL
    library = loader(path)
    for name, restype, argtypes in _SIGNATURES:
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
    return library


def daemon_path(sdk_folder):
    return os.path.join(sdk_folder, "bin", ARCH, "QXPilotSt.exe")
