' Cutting a name read back as the README does, for a name given as the argument (Wine's VBScript
' has no ChrW to build one): at the copied count and at the terminator. The count alone is not
' enough where characters take two bytes: the count is of bytes. Prints nothing but ASCII (Wine's
' cscript overruns its heap printing two-byte characters into a pipe).
' (The build puts checks.vbs in front: Option Explicit, On Error Resume Next, Check, Finish.)
'
'   cscript //nologo cut.vbs NAME        NAME: of two-byte characters, more than 1 and at most 127

Dim tables, name, atom, copied, text, global, cut
Set tables = CreateObject("AtomTables10.clsQxAtomTables10A")
' Something left in the buffer, as there is once a longer name was read (Wine's VBScript takes two
' strings that differ only by NULs for equal).
atom = tables.AddAtomAmts(String(200, "x"))
text = tables.GetAtomNameAmts(atom)
tables.DeleteAtomAmts atom
For Each global In Array(False, True)
    name = WScript.Arguments(0)
    If global Then atom = tables.GlobalAddAtomAmts(name) Else atom = tables.AddAtomAmts(name)
    Check atom < 0, "the name was added (global: " & global & ")"
    Check name = WScript.Arguments(0), "the code page has every character of the name"
    copied = 0
    If global Then text = tables.GlobalGetAtomNameAmts(atom, , copied) Else text = tables.GetAtomNameAmts(atom, , copied)
    Check copied > Len(name), "the count is of bytes: " & copied & " for " & Len(name) & " characters"
    cut = Left(text, copied)
    Check cut <> name And InStr(cut, "x") > 0, "the count alone cuts past the name, into what was left"
    If InStr(cut, Chr(0)) > 0 Then cut = Left(cut, InStr(cut, Chr(0)) - 1)
    Check cut = name, "cut at the count and at the terminator, it is the name"
    If global Then tables.GlobalDeleteAtomAmts atom Else tables.DeleteAtomAmts atom
Next
Finish
