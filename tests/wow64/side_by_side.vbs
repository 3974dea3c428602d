' A script host of one architecture on 64-bit Windows: it gets the DLL of its own architecture
' (the folder named on the command line, x64 or x86), whatever else is registered beside it.
Dim lane, tables, name, atom, copied, text, folder
lane = WScript.Arguments(0)
Set tables = CreateObject("AtomTables10.clsQxAtomTables10A")
Check Not tables Is Nothing, "CreateObject"

name = "side by side from the " & lane & " script host"
atom = tables.AddAtomAmts(name)
Check atom < 0, "a string atom comes back negative"
copied = 0
text = ""
text = tables.GetAtomNameAmts(atom, , copied)
Check Left(text, copied) = name, "the name read back"
Check tables.DeleteAtomAmts(atom) = 0, "deleted"

folder = ""
folder = tables.GetProStdProperties.Path
Check LCase(Right(folder, Len(lane) + 1)) = "\" & lane, "the DLL comes from the " & lane & " folder: " & folder
Finish
