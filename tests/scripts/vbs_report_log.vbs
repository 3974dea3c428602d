' Reports reach the real common library: a trapped failure inside an atom member is recorded in
' QxBedrock10's log, and so is the environment check made when clsQxAmtsAtomsA is created. The
' log file is the one named by QXBEDROCK10_LOG, which the test sets to a file of the build tree.
' (The build puts checks.vbs in front: Option Explicit, On Error Resume Next, Check, ExpectError,
' Expecting, Finish.)

Dim shell, fso, logPath, o, atom, copied, text, auxiliary, lines, fields

' The log's lines of one kind, each split into its tab-separated fields (the time stamp first),
' numbered from 0 in a dictionary. (Wine's VBScript cannot ReDim a dynamic array.)
Function LinesOf(kind)
    Dim found, line, fields
    Set found = CreateObject("Scripting.Dictionary")
    If fso.FileExists(logPath) Then
        For Each line In Split(fso.OpenTextFile(logPath).ReadAll, vbCrLf)
            fields = Split(line, vbTab)
            If UBound(fields) >= 1 Then
                If fields(1) = kind Then found.Add found.Count, fields
            End If
        Next
    End If
    Set LinesOf = found
End Function

Set shell = CreateObject("WScript.Shell")
Set fso = CreateObject("Scripting.FileSystemObject")
' Wine hands the expansion back with its terminating NUL.
logPath = Replace(shell.ExpandEnvironmentStrings("%QXBEDROCK10_LOG%"), Chr(0), "")
ExpectError 0, "reading QXBEDROCK10_LOG"
Check logPath <> "%QXBEDROCK10_LOG%" And Left(logPath, 3) = "Z:\", "QXBEDROCK10_LOG names a file of the build tree: " & logPath
If fso.FileExists(logPath) Then fso.DeleteFile logPath
ExpectError 0, "deleting an earlier log"
Check Not fso.FileExists(logPath), "the test starts without a log"

' A size of 32767 cannot grow by one: the overflow is trapped, reported, and the read goes on.
Set o = CreateObject("AtomTables10.clsQxAtomTables10A")
ExpectError 0, "creating the main class"
atom = o.AddAtomAmts("vbs-report-log")
copied = 0
text = o.GetAtomNameAmts(atom, 32767, copied)
ExpectError 0, "a trapped failure does not reach the script"
Check copied = 14 And Left(text, copied) = "vbs-report-log", "the read went on after the report: " & copied
Check Len(text) = 255, "the result is the whole buffer"
Check fso.FileExists(logPath), "the report created the log"

Set lines = LinesOf("REPORT")
Check lines.Count = 1, "exactly one report line: " & lines.Count
If lines.Count = 1 Then
    fields = lines.Item(0)
    Check fields(2) = "czAtomTables.GetAtomNameAmts", "the report's source: " & fields(2)
    Check fields(3) = "6", "the report's error number is the overflow: " & fields(3)
    Check fields(4) = "Overflow", "the report's description: " & fields(4)
End If
Check LinesOf("ENVIRONMENT").Count = 0, "no environment check yet"

' Creating clsQxAmtsAtomsA asks the library to ensure the environment status: True and 99.
Set auxiliary = CreateObject("AtomTables10.clsQxAmtsAtomsA")
ExpectError 0, "creating clsQxAmtsAtomsA"
Set lines = LinesOf("ENVIRONMENT")
Check lines.Count = 1, "exactly one environment line: " & lines.Count
If lines.Count = 1 Then
    fields = lines.Item(0)
    Check UBound(fields) = 3, "the environment line has two fields after its kind"
    Check fields(2) = "True", "the first argument is True: " & fields(2)
    Check fields(3) = "99", "the second argument is 99: " & fields(3)
End If
Check LinesOf("REPORT").Count = 1, "creating the class reported nothing"

Check o.DeleteAtomAmts(atom) = 0, "deleting vbs-report-log"
Finish
