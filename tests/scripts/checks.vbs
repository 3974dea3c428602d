' The checks every VBScript test of this folder uses. The build puts this file in front of each
' script (VBScript has no include, and Wine's has no ExecuteGlobal), so the lines below run first.
Option Explicit
On Error Resume Next

' --- Checks. Under On Error Resume Next a statement that raises is skipped, so an error still
' pending when the next check runs fails that check: no check can vanish unnoticed.
Dim checks, failures
checks = 0
failures = 0

Sub Fail(text)
    failures = failures + 1
    WScript.Echo "FAIL " & text
End Sub

Sub Check(ok, what)
    checks = checks + 1
    If Err.Number <> 0 Then
        Fail what & ": unexpected error " & Err.Number & " (" & Err.Description & ")"
        Err.Clear
    ElseIf VarType(ok) <> vbBoolean Then
        Fail what & ": not a condition"
    ElseIf Not ok Then
        Fail what
    End If
End Sub

' Before a statement that is meant to raise: nothing may be pending from earlier ones.
Sub Expecting(what)
    If Err.Number <> 0 Then
        Fail "before " & what & ": unexpected error " & Err.Number & " (" & Err.Description & ")"
        Err.Clear
    End If
End Sub

' The statement just run raised error `number` (0: raised nothing).
Sub ExpectError(number, what)
    checks = checks + 1
    If Err.Number <> number Then Fail what & ": error " & Err.Number & " (" & Err.Description & "), expected " & number
    Err.Clear
End Sub

Sub Finish()
    If Err.Number <> 0 Then Fail "unexpected error at the end: " & Err.Number & " (" & Err.Description & ")"
    If failures = 0 Then
        WScript.Echo "all " & checks & " checks passed"
        WScript.Quit 0
    End If
    WScript.Echo failures & " of " & checks & " checks failed"
    WScript.Quit 1
End Sub
' --- End of checks.
