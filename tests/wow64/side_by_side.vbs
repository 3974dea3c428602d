' A script host of one architecture on 64-bit Windows: it gets the DLL of its own architecture,
' from the folder named on the command line, whatever else is registered beside it.
Dim expected, tables, name, atom, copied, text, folder
expected = WScript.Arguments(0)
Set tables = CreateObject("AtomTables10.clsQxAtomTables10A")
If Err.Number <> 0 Then
    WScript.Echo "FAIL CreateObject: error " & Err.Number & " (" & Err.Description & ")"
    WScript.Quit 2
End If

name = "side by side from a script host for " & expected
atom = tables.AddAtomAmts(name)
Check atom < 0, "a string atom comes back negative"
copied = 0
text = ""
text = tables.GetAtomNameAmts(atom, , copied)
Check Left(text, copied) = name, "the name read back"
Check tables.DeleteAtomAmts(atom) = 0, "deleted"

folder = ""
folder = tables.GetProStdProperties.Path
Check LCase(folder) = LCase(expected), "the DLL comes from " & expected & ", not " & folder
Finish
