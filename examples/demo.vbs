' AtomTables10 demo: the local and global atom tables from VBScript.
' Run by scripts/demo.sh once the component and its common library are registered.
Option Explicit
Dim tables, names, name, atom, found, size, copied, text, status, fso, shell, logPath, failures
failures = 0

Sub Check(ok, what)
    If ok Then
        WScript.Echo "  ok    " & what
    Else
        WScript.Echo "  FAIL  " & what
        failures = failures + 1
    End If
End Sub

' The name in the buffer a name reader returns: at most the copied count, and never past the
' terminator (the count is of bytes, more than the characters where characters take two bytes).
Function NameIn(text, copied)
    Dim ends
    NameIn = Left(text, copied)
    ends = InStr(NameIn, Chr(0))
    If ends > 0 Then NameIn = Left(NameIn, ends - 1)
End Function

Function Expand(text)
    ' Some hosts hand back the expansion with its terminating NUL.
    Expand = Replace(shell.ExpandEnvironmentStrings(text), Chr(0), "")
End Function

Set tables = CreateObject("AtomTables10.clsQxAtomTables10A")
WScript.Echo "AtomTables10 " & tables.GetProStdProperties.Major & "." & tables.GetProStdProperties.Minor & _
             "." & tables.GetProStdProperties.Revision & ": " & tables.GetProStdProperties.Comments
WScript.Echo ""

names = Array("Alpha", "demo.beta", "Gamma")
WScript.Echo "Local table:"
For Each name In names
    atom = tables.AddAtomAmts(name)
    found = tables.FindAtomAmts(UCase(name))
    size = 0 : copied = 0
    text = tables.GetAtomNameAmts(atom, size, copied)
    ' The result is the whole 255-character name buffer: the name, its terminator, leftovers.
    WScript.Echo "  " & name & " -> atom " & atom & ", found as " & found & ", read back as """ & _
                 NameIn(text, copied) & """ (" & copied & " bytes)"
    Call Check(found = atom And NameIn(text, copied) = name, name & " round trip")
    status = tables.DeleteAtomAmts(atom)
    Call Check(tables.FindAtomAmts(name) = 0, name & " deleted (status " & status & ")")
Next

WScript.Echo "Global table (shared by every process):"
name = "AtomTables10 demo " & Timer
atom = tables.GlobalAddAtomAmts(name)
copied = 0
text = tables.GlobalGetAtomNameAmts(atom, , copied)
WScript.Echo "  """ & name & """ -> atom " & atom & ", read back as """ & NameIn(text, copied) & """"
Call Check(tables.GlobalFindAtomAmts(name) = atom, "global find")
Call Check(tables.GlobalDeleteAtomAmts(atom) = 0, "global delete")

WScript.Echo "Shared buddy slot:"
Dim other, dictionary
Set dictionary = CreateObject("Scripting.Dictionary")
dictionary.Add "note", "parked by the first instance"
Set tables.BuddyObjectGlobal = dictionary
Set other = CreateObject("AtomTables10.clsQxAtomTables10A")
WScript.Echo "  a second instance reads: " & other.BuddyObjectGlobal.Item("note")
Call Check(other.BuddyObjectGlobal Is dictionary, "one slot per thread, shared by every instance")
Set tables.BuddyObjectGlobal = Nothing

WScript.Echo "Resource strings:"
WScript.Echo "  121: " & tables.GetProResStrings(121)
WScript.Echo "  122: " & tables.GetProResStrings(122)

WScript.Echo "Reports:"
' A size of 32767 cannot grow by one: the member reports the overflow to the common library and
' carries on with the read.
size = 32767
text = tables.GetAtomNameAmts(atom, size, copied)
Set shell = CreateObject("WScript.Shell")
logPath = Expand("%QXBEDROCK10_LOG%")
If logPath = "%QXBEDROCK10_LOG%" Then logPath = Expand("%TEMP%") & "\QxBedrock10.log"
WScript.Echo "  runtime failures are reported to QxBedrock10, which appends them to " & logPath
Set fso = CreateObject("Scripting.FileSystemObject")
If fso.FileExists(logPath) Then
    Dim lines, last
    lines = Split(fso.OpenTextFile(logPath).ReadAll, vbCrLf)
    last = lines(UBound(lines) - 1)
    WScript.Echo "  last report: " & last
    Call Check(InStr(last, "czAtomTables.GetAtomNameAmts") > 0, "the overflow was reported with its source")
Else
    Call Check(False, "the report log exists")
End If

WScript.Echo ""
If failures = 0 Then
    WScript.Echo "Demo finished: all checks passed."
    WScript.Quit 0
End If
WScript.Echo "Demo finished with " & failures & " failed checks."
WScript.Quit 1
