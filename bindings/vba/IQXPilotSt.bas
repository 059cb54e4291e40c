Attribute VB_Name = "IQXPilotSt"
' QXPilot client library for VBA: one module for 32- and 64-bit Office (and VB6 / Office 2007 and older).
' Texts are passed ByVal As String: VBA hands the DLL an ANSI copy, which is what the plain exports expect;
' vbNullString passes a null text (sent as empty). Every function returns the library's 32-bit return code.
' 32-bit Office calls the x86 DLL (stdcall, as Declare does); 64-bit Office the x64 DLL. QXLoadLibrary loads
' the right one from the SDK folder, after which the Declare statements below find it by its name.
Option Explicit

Public Const IQXP_OK As Long = 0
Public Const IQXP_CONVERSION_FAILED As Long = 1
Public Const IQXP_NO_DAEMON As Long = 100
Public Const IQXP_NULL_PATH As Long = 101
Public Const IQXP_CREATE_FAILED As Long = 102
Public Const IQXP_NOT_IDLE As Long = 103
Public Const IQXP_EMPTY_PATH As Long = 107
Public Const IQXP_NO_CONFIG_FILE As Long = -1

#If VBA7 Then
Private Declare PtrSafe Function LoadLibraryA Lib "kernel32" (ByVal lpLibFileName As String) As LongPtr
Public Declare PtrSafe Function StartDaemon Lib "IQXPilotSt.dll" (ByVal exePath As String, ByVal integrityLaunch As Byte, ByVal logDir As String) As Long
Public Declare PtrSafe Function StartDaemon_Utf8 Lib "IQXPilotSt.dll" (ByVal exePath As LongPtr, ByVal integrityLaunch As Byte, ByVal logDir As LongPtr) As Long
Public Declare PtrSafe Function StopDaemon Lib "IQXPilotSt.dll" () As Long
Public Declare PtrSafe Function StartQuodrix Lib "IQXPilotSt.dll" (ByVal address As String, ByVal port As Long, ByVal configFile As String) As Long
Public Declare PtrSafe Function StartQuodrix_Utf8 Lib "IQXPilotSt.dll" (ByVal address As String, ByVal port As Long, ByVal configFile As LongPtr) As Long
Public Declare PtrSafe Function AddPilotingModule Lib "IQXPilotSt.dll" (ByVal moduleName As String, ByVal windowKind As String) As Long
Public Declare PtrSafe Function PilotQuodrix Lib "IQXPilotSt.dll" (ByVal place As Long, ByVal codeMiddle As Long, ByVal market As Long, ByVal extraNumber As Long, ByVal symbol As String, ByVal extraCode As String, ByVal group As String, ByVal isin As String, ByVal currency As String, ByVal creditClass As String, ByVal underlying As String) As Long
Public Declare PtrSafe Function GetSystemLastError Lib "IQXPilotSt.dll" () As Long
#Else
Private Declare Function LoadLibraryA Lib "kernel32" (ByVal lpLibFileName As String) As Long
Public Declare Function StartDaemon Lib "IQXPilotSt.dll" (ByVal exePath As String, ByVal integrityLaunch As Byte, ByVal logDir As String) As Long
Public Declare Function StartDaemon_Utf8 Lib "IQXPilotSt.dll" (ByVal exePath As Long, ByVal integrityLaunch As Byte, ByVal logDir As Long) As Long
Public Declare Function StopDaemon Lib "IQXPilotSt.dll" () As Long
Public Declare Function StartQuodrix Lib "IQXPilotSt.dll" (ByVal address As String, ByVal port As Long, ByVal configFile As String) As Long
Public Declare Function StartQuodrix_Utf8 Lib "IQXPilotSt.dll" (ByVal address As String, ByVal port As Long, ByVal configFile As Long) As Long
Public Declare Function AddPilotingModule Lib "IQXPilotSt.dll" (ByVal moduleName As String, ByVal windowKind As String) As Long
Public Declare Function PilotQuodrix Lib "IQXPilotSt.dll" (ByVal place As Long, ByVal codeMiddle As Long, ByVal market As Long, ByVal extraNumber As Long, ByVal symbol As String, ByVal extraCode As String, ByVal group As String, ByVal isin As String, ByVal currency As String, ByVal creditClass As String, ByVal underlying As String) As Long
Public Declare Function GetSystemLastError Lib "IQXPilotSt.dll" () As Long
#End If
' The _Utf8 exports take pointers to NUL-terminated UTF-8 bytes (VBA's own strings are UTF-16): pass
' VarPtr(bytes(0)) of a Byte array that ends with a 0, or 0 for a null text. The plain exports suit VBA best.

' Loads IQXPilotSt.dll of the running Office's bitness from the SDK folder (the one holding bin\x64 and
' bin\x86). True when loaded.
Public Function QXLoadLibrary(ByVal sdkFolder As String) As Boolean
#If Win64 Then
    QXLoadLibrary = LoadLibraryA(sdkFolder & "\bin\x64\IQXPilotSt.dll") <> 0
#Else
    QXLoadLibrary = LoadLibraryA(sdkFolder & "\bin\x86\IQXPilotSt.dll") <> 0
#End If
End Function

' The daemon of the same folder (either architecture serves every client).
Public Function QXDaemonPath(ByVal sdkFolder As String) As String
#If Win64 Then
    QXDaemonPath = sdkFolder & "\bin\x64\QXPilotSt.exe"
#Else
    QXDaemonPath = sdkFolder & "\bin\x86\QXPilotSt.exe"
#End If
End Function
