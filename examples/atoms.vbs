' AtomTables10 from VBScript: atoms in the local and the global table, reading a name back, the
' buddy slot that every instance on a thread shares, and the component's resource strings.
'
'   cscript //nologo atoms.vbs [NAME]     NAME: a name of your own for the local table
'
' Needs the component and its common library registered (see the README). Each step checks what it
' got, and the script ends with "all N checks passed" (exit code 0) or lists what went wrong.
Option Explicit
Dim checks, failures
checks = 0 : failures = 0

Sub Check(ok, what)
    checks = checks + 1
    If Not ok Then
        failures = failures + 1
        WScript.Echo "FAIL " & what
    End If
End Sub

' The name in the buffer that a name reader returns: at most the copied count, and never past the
' terminator. The count is of the name's bytes in the system's ANSI code page, which are as many
' as its characters only where every character takes one byte (1252, for one); where characters
' take two (932 Japanese, 936 Chinese, 949 Korean) it goes past the name, into its terminator and
' what earlier, longer names left in the buffer.
Function NameIn(text, copied)
    Dim ends
    NameIn = Left(text, copied)
    ends = InStr(NameIn, Chr(0))
    If ends > 0 Then NameIn = Left(NameIn, ends - 1)
End Function

Dim tables, name, atom, size, copied, text, status
Set tables = CreateObject("AtomTables10.clsQxAtomTables10A")

' --- The local table: private to this process. -------------------------------------------------
name = "example.local"
If WScript.Arguments.Count > 0 Then name = WScript.Arguments(0)
atom = tables.AddAtomAmts(name)          ' a string atom comes back as a negative number
Call Check(atom < 0, "a string atom is negative: " & atom)
Call Check(tables.FindAtomAmts(UCase(name)) = atom, "names are found whatever their case")

' Reading a name back: the result is the whole 255-character name buffer, and the count of what
' the system copied comes back in the third argument, which must be a variable.
copied = 0
text = tables.GetAtomNameAmts(atom, , copied)
WScript.Echo "local atom " & atom & " is " & Len(NameIn(text, copied)) & " characters long (" & copied & " bytes)"
Call Check(Len(text) = 255, "the result is the whole buffer")
Call Check(NameIn(text, copied) = name, "cut at the copied count and the terminator, it is the name")

' The size argument, when it is a variable, is rewritten: n becomes n + 1 (the positions offered,
' the terminator included), so a size of 4 reads 4 bytes: 4 characters of an ASCII name, 2 of a
' name of two-byte characters.
size = 4
text = tables.GetAtomNameAmts(atom, size, copied)
Call Check(size = 5 And copied = 4 And Len(NameIn(text, copied)) <= 4 And _
           NameIn(text, copied) = Left(name, Len(NameIn(text, copied))), "a size of 4 read the name's start")

status = tables.DeleteAtomAmts(atom)     ' 0: deleted
Call Check(status = 0, "deleted, status " & status)
Call Check(tables.FindAtomAmts(name) = 0, "a deleted name is not found")

' --- The global table: shared by every process on the desktop. ---------------------------------
name = "AtomTables10 example " & Timer
atom = tables.GlobalAddAtomAmts(name)
copied = 0
text = tables.GlobalGetAtomNameAmts(atom, , copied)
WScript.Echo "global atom " & atom & " is """ & NameIn(text, copied) & """"
Call Check(NameIn(text, copied) = name, "the global name reads back")
Call Check(tables.GlobalFindAtomAmts(name) = atom, "the global name is found")
Call Check(tables.GlobalDeleteAtomAmts(atom) = 0, "the global atom is deleted")

' --- The buddy slot: one object per thread, shared by every instance. ----------------------------
Dim first, second, note
Set first = tables
Set second = CreateObject("AtomTables10.clsQxAtomTables10A")
Set note = CreateObject("Scripting.Dictionary")
note.Add "from", "the first instance"
Set first.BuddyObjectGlobal = note       ' object assignment: Set
WScript.Echo "the second instance finds the object parked " & second.BuddyObjectGlobal.Item("from")
Call Check(second.BuddyObjectGlobal Is note, "both instances see the same object")
Set second.BuddyObjectGlobal = Nothing   ' empties the slot for everyone
Call Check(first.BuddyObjectGlobal Is Nothing, "emptied through the second instance")

' --- Resource strings. --------------------------------------------------------------------------
WScript.Echo "string 121: " & tables.GetProResStrings(121)
WScript.Echo "string 122: " & tables.GetProResStrings(122)
Call Check(tables.GetProResStrings(121) = "Length of this atom should not exceed 255.", "string 121")
Call Check(Len(tables.GetProResStrings(122)) = 19, "string 122 with its quotes")

' A missing resource is an error the caller sees (326: resource not found).
On Error Resume Next
text = tables.GetProResStrings(100)
Dim number : number = Err.Number
On Error GoTo 0
WScript.Echo "string 100: error " & number
Call Check(number = 326, "a missing string is error 326")

If failures = 0 Then
    WScript.Echo "all " & checks & " checks passed"
    WScript.Quit 0
End If
WScript.Echo failures & " of " & checks & " checks failed"
WScript.Quit 1
