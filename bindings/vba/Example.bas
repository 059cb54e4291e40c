Attribute VB_Name = "QXPilotExample"
' A session from VBA: import IQXPilotSt.bas and this module, set SDK to the unzipped folder, run PilotDemo.
Option Explicit

Private Const SDK As String = "C:\QXPilot-1.0.0"

Private Sub Check(ByVal callName As String, ByVal rc As Long)
    If rc <> IQXP_OK Then Err.Raise vbObjectError + 513, "QXPilot", callName & " returned " & rc & _
        " (system error " & GetSystemLastError() & ")"
End Sub

Public Sub PilotDemo()
    If Not QXLoadLibrary(SDK) Then Err.Raise vbObjectError + 514, "QXPilot", "IQXPilotSt.dll not found in " & SDK
    ' 0 also when a daemon already serves this session.
    Check "StartDaemon", StartDaemon(QXDaemonPath(SDK), 0, Environ$("TEMP"))
    Check "StartQuodrix", StartQuodrix("127.0.0.1", 7001, SDK & "\examples\desk.dat")
    Check "AddPilotingModule", AddPilotingModule("Excel", "Vista")
    Check "PilotQuodrix", PilotQuodrix(25, 7, 1, 0, "ABC", vbNullString, "G1", "XS0000000017", "EUR", _
                                       vbNullString, vbNullString)
    Check "StopDaemon", StopDaemon()
End Sub
