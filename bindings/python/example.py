"""A session from Python: python example.py C:\\QXPilot-1.0.0 C:\\Temp\\qxlogs"""
import ctypes
import sys

import iqxpilotst


def main(sdk, log_dir):
    qx = iqxpilotst.load(sdk)

    def check(name, rc):
        if rc != iqxpilotst.IQXP_OK:
            error = qx.GetSystemLastError() & 0xFFFFFFFF
            raise RuntimeError(f"{name} returned {rc} (system error {error}: {ctypes.FormatError(error)})")

    check("StartDaemon_Utf8", qx.StartDaemon_Utf8(iqxpilotst.daemon_path(sdk).encode("utf-8"), 0,
                                                   log_dir.encode("utf-8")))
    try:
        check("StartQuodrix", qx.StartQuodrix(b"127.0.0.1", 7001, b"qxpilot.dat"))
        check("AddPilotingModule", qx.AddPilotingModule(b"MyApp", b"Vista"))
        check("PilotQuodrix", qx.PilotQuodrix(25, 7, 1, 0, b"ABC", None, b"G1", b"XS0000000017", b"EUR", None, None))
    finally:
        check("StopDaemon", qx.StopDaemon())


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
