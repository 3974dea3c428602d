' Cutting a name read back, as the script page shows it, for a name given as the argument (Wine's
' VBScript has no ChrW to build one): at most the copied count, and never past the terminator. The
' count alone is not enough where characters take two bytes: the count is of bytes. Prints nothing
' but ASCII (Wine's VBScript is known to crash printing such names after creating an object).
'
'   cscript //nologo cut.vbs NAME        NAME: of two-byte characters, more than 1 and at most 127
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

' The name in a buffer that a name reader returned (the script page's function).
Function NameIn(text, copied)
    Dim ends
    NameIn = Left(text, copied)
    ends = InStr(NameIn, Chr(0))
    If ends > 0 Then NameIn = Left(NameIn, ends - 1)
End Function

Dim tables, name, atom, copied, text, global
Set tables = CreateObject("AtomTables10.clsQxAtomTables10A")
' Something left in the buffer, as there is once a longer name was read (Wine's VBScript takes two
' strings that differ only by NULs for equal).
atom = tables.AddAtomAmts(String(200, "x"))
text = tables.GetAtomNameAmts(atom)
tables.DeleteAtomAmts atom
For Each global In Array(False, True)
    name = WScript.Arguments(0)
    If global Then atom = tables.GlobalAddAtomAmts(name) Else atom = tables.AddAtomAmts(name)
    Call Check(atom < 0, "the name was added (global: " & global & ")")
    Call Check(name = WScript.Arguments(0), "the code page has every character of the name")
    copied = 0
    If global Then text = tables.GlobalGetAtomNameAmts(atom, , copied) Else text = tables.GetAtomNameAmts(atom, , copied)
    Call Check(copied > Len(name), "the count is of bytes: " & copied & " for " & Len(name) & " characters")
    Call Check(Left(text, copied) <> name And InStr(Left(text, copied), "x") > 0, "the count alone cuts past the name, into what was left")
    Call Check(Mid(text, Len(name) + 1, 1) = Chr(0), "the name's terminator comes first")
    Call Check(NameIn(text, copied) = name, "cut at the count and at the terminator, it is the name")
    If global Then tables.GlobalDeleteAtomAmts atom Else tables.DeleteAtomAmts atom
Next
If failures = 0 Then
    WScript.Echo "all " & checks & " checks passed"
    WScript.Quit 0
End If
WScript.Echo failures & " of " & checks & " checks failed"
WScript.Quit 1
