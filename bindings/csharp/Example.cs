// A session from C#: compile with IQXPilotSt.cs for the bitness of the DLL beside the program, e.g.
//   csc /platform:x64 Example.cs IQXPilotSt.cs      (or mcs -platform:x64 ...)
// usage: Example.exe DAEMON_EXE LOG_DIR
using System;
using QXPilot;

public static class Example
{
    static void Check(string call, int rc)
    {
        if (rc != IQXPilotSt.IQXP_OK)
            throw new InvalidOperationException(call + " returned " + rc + " (system error " + IQXPilotSt.GetSystemLastError() + ")");
    }

    public static int Main(string[] args)
    {
        if (args.Length != 2)
        {
            Console.Error.WriteLine("usage: Example DAEMON_EXE LOG_DIR");
            return 2;
        }
        Console.WriteLine((IntPtr.Size * 8) + "-bit process");
        Check("StartDaemon_Utf8", IQXPilotSt.StartDaemon_Utf8(IQXPilotSt.Utf8z(args[0]), 0, IQXPilotSt.Utf8z(args[1])));
        try
        {
            Check("StartQuodrix", IQXPilotSt.StartQuodrix("127.0.0.1", 7001, "qxpilot.dat"));
            Check("AddPilotingModule", IQXPilotSt.AddPilotingModule("MyApp", "Vista"));
            Check("PilotQuodrix", IQXPilotSt.PilotQuodrix(25, 7, 1, 0, "ABC", null, "G1", "XS0000000017", "EUR", null, null));
        }
        finally
        {
            Check("StopDaemon", IQXPilotSt.StopDaemon());
        }
        return 0;
    }
}
