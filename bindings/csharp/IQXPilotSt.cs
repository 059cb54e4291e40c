// QXPilot client library for .NET: P/Invoke declarations of IQXPilotSt.dll.
// Build for x86 or x64 (not AnyCPU with "prefer 32-bit" unless the x86 DLL is the one beside the program):
// the process loads the DLL of its own bitness. CallingConvention.Winapi is stdcall on x86 (the x86 DLL's
// convention) and the platform's one on x64. Texts of the plain exports are marshalled to the ANSI code page;
// the _Utf8 exports take NUL-terminated UTF-8 bytes (see Utf8z). A null string passes a null text.
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace QXPilot
{
    public static class IQXPilotSt
    {
        public const string Library = "IQXPilotSt.dll";

        public const int IQXP_OK = 0;
        public const int IQXP_CONVERSION_FAILED = 1;
        public const int IQXP_NO_DAEMON = 100;
        public const int IQXP_NULL_PATH = 101;
        public const int IQXP_CREATE_FAILED = 102;
        public const int IQXP_NOT_IDLE = 103;
        public const int IQXP_EMPTY_PATH = 107;
        public const int IQXP_NO_CONFIG_FILE = -1;

        [DllImport(Library, CallingConvention = CallingConvention.Winapi, CharSet = CharSet.Ansi, ExactSpelling = true, BestFitMapping = false)]
        public static extern int StartDaemon(string exePath, byte integrityLaunch, string logDir);

        [DllImport(Library, CallingConvention = CallingConvention.Winapi, CharSet = CharSet.Ansi, ExactSpelling = true, BestFitMapping = false)]
        public static extern int StartDaemon_Utf8(byte[] exePath, byte integrityLaunch, byte[] logDir);

        [DllImport(Library, CallingConvention = CallingConvention.Winapi, CharSet = CharSet.Ansi, ExactSpelling = true, BestFitMapping = false)]
        public static extern int StopDaemon();

        [DllImport(Library, CallingConvention = CallingConvention.Winapi, CharSet = CharSet.Ansi, ExactSpelling = true, BestFitMapping = false)]
        public static extern int StartQuodrix(string address, int port, string configFile);

        [DllImport(Library, CallingConvention = CallingConvention.Winapi, CharSet = CharSet.Ansi, ExactSpelling = true, BestFitMapping = false)]
        public static extern int StartQuodrix_Utf8(string address, int port, byte[] configFile);

        [DllImport(Library, CallingConvention = CallingConvention.Winapi, CharSet = CharSet.Ansi, ExactSpelling = true, BestFitMapping = false)]
        public static extern int AddPilotingModule(string moduleName, string windowKind);

        [DllImport(Library, CallingConvention = CallingConvention.Winapi, CharSet = CharSet.Ansi, ExactSpelling = true, BestFitMapping = false)]
        public static extern int PilotQuodrix(int place, int codeMiddle, int market, int extraNumber, string symbol, string extraCode, string group, string isin, string currency, string creditClass, string underlying);

        [DllImport(Library, CallingConvention = CallingConvention.Winapi, CharSet = CharSet.Ansi, ExactSpelling = true, BestFitMapping = false)]
        public static extern int GetSystemLastError();

        // NUL-terminated UTF-8 bytes for the _Utf8 exports; null stays null.
        public static byte[] Utf8z(string text)
        {
            if (text == null) return null;
            byte[] bytes = new byte[Encoding.UTF8.GetByteCount(text) + 1];
            Encoding.UTF8.GetBytes(text, 0, text.Length, bytes, 0);
            return bytes;
        }
    }
}
