' The atom members end to end from VBScript: local and global tables, adding, finding, reading
' back and deleting, negative atoms, integer atoms, the shared name buffer. (No name here is longer
' than 255 characters: that would bring up a message box, which a script cannot dismiss.)
' (The build puts checks.vbs in front: Option Explicit, On Error Resume Next, Check, ExpectError,
' Expecting, Finish.)

Dim o, other, name, atom, again, size, copied, text, status, longName, shortName

Set o = CreateObject("AtomTables10.clsQxAtomTables10A")
ExpectError 0, "creating the main class"
Check o.InitAtomTableAmts(37) = 1, "sizing the local table returns the platform's TRUE"

' --- The local table.
name = "vbs-atoms-Local"
atom = o.AddAtomAmts(name)
ExpectError 0, "adding " & name
Check atom < 0 And atom >= -16384, "a string atom is a negative number: " & atom
Check o.FindAtomAmts(name) = atom, "finding the name gives its atom"
Check o.FindAtomAmts(UCase(name)) = atom, "names are found case-insensitively"
size = 0
copied = 0
text = o.GetAtomNameAmts(atom, size, copied)
ExpectError 0, "reading the name back"
Check copied = Len(name), "the count is the name's length: " & copied
Check Left(text, copied) = name, "the read-back idiom Left(result, copied) gives the name"
Check Len(text) = 255, "the result is the whole buffer: " & Len(text)
Check Mid(text, copied + 1, 1) = Chr(0), "the name is followed by its terminator"
Check size = 255, "a size of 0 comes back as 255: " & size
Check name = "vbs-atoms-Local", "the caller's name is its own round trip"

' Adding again counts a reference: the atom survives one delete, not two.
again = o.AddAtomAmts(name)
Check again = atom, "adding the name again gives the same atom"
Check o.DeleteAtomAmts(atom) = 0, "the first delete succeeds"
Check o.FindAtomAmts(name) = atom, "the second reference keeps the atom"
Check o.DeleteAtomAmts(atom) = 0, "the second delete succeeds"
Check o.FindAtomAmts(name) = 0, "then the name is gone"
status = o.DeleteAtomAmts(atom)
ExpectError 0, "deleting a deleted atom"
Check status = atom, "the platform's refusal comes back as its own status, sign-extended: " & status

' Integer atoms.
atom = o.AddAtomAmts("#123")
Check atom = 123, "an integer atom is its number: " & atom
copied = 0
text = o.GetAtomNameAmts(atom, 0, copied)
Check Left(text, copied) = "#123", "and reads back as #123"
Check o.DeleteAtomAmts(atom) = 0, "deleting an integer atom"

' An explicit size n offers n + 1 positions; -1 offers none.
name = "vbs-atoms-sizes"
atom = o.AddAtomAmts(name)
size = 5
text = o.GetAtomNameAmts(atom, size, copied)
Check size = 6 And copied = 5 And Left(text, copied) = "vbs-a", "a size of 5 reads 5 characters: " & size & " " & copied
size = -1
copied = 77
text = o.GetAtomNameAmts(atom, size, copied)
ExpectError 0, "reading with a size of -1"
Check size = 0 And copied = 0, "a size of -1 becomes 0 and nothing is copied: " & size & " " & copied
Check Left(text, 5) = "vbs-a", "the buffer is as the last read left it"
size = 1000
copied = 0
text = o.GetAtomNameAmts(atom, size, copied)
ExpectError 0, "reading with a size beyond the buffer"
Check size = 1001 And copied = Len(name) And Left(text, copied) = name, "a size beyond the buffer reads the whole name: " & size & " " & copied
Check Len(text) = 255, "and the result is still the 255-character buffer"
Check o.DeleteAtomAmts(atom) = 0, "deleting " & name

' The platform reads a name up to its first NUL; the caller's name keeps all of it.
name = "vbs-nul" & Chr(0) & "tail"
atom = o.AddAtomAmts(name)
ExpectError 0, "adding a name with a NUL inside"
Check Len(name) = 12 And name = "vbs-nul" & Chr(0) & "tail", "the caller's name comes back whole"
Check o.FindAtomAmts("vbs-nul") = atom And atom < 0, "the atom was added for the part before the NUL"
Check o.DeleteAtomAmts(atom) = 0, "deleting vbs-nul"

' A name of 255 characters is accepted and read back whole with a size of 255.
name = String(200, "v") & String(55, "w")
atom = o.AddAtomAmts(name)
ExpectError 0, "adding a 255-character name"
Check atom < 0, "the 255-character name has an atom: " & atom
size = 255
copied = 0
text = o.GetAtomNameAmts(atom, size, copied)
Check size = 256 And copied = 255, "the whole 255-character name is copied: " & size & " " & copied
Check text = name, "the buffer is exactly the name"
Check o.DeleteAtomAmts(atom) = 0, "deleting the 255-character name"

' Finding applies no length limit and shows nothing.
Check o.FindAtomAmts(String(300, "f")) = 0, "a 300-character name is not found"
ExpectError 0, "finding a 300-character name"
' An empty name is handed to the platform, which refuses it.
Check o.AddAtomAmts("") = 0, "an empty name is refused by the platform"
ExpectError 0, "adding an empty name"

' A name in the ANSI code page keeps its characters.
name = "vbs-caf" & Chr(233)
atom = o.AddAtomAmts(name)
Check name = "vbs-caf" & Chr(233), "a code-page character comes back as itself"
copied = 0
text = o.GetAtomNameAmts(atom, , copied)
Check Left(text, copied) = "vbs-caf" & Chr(233), "and reads back as itself"
Check o.DeleteAtomAmts(atom) = 0, "deleting " & name

' One buffer per thread: what a longer name left behind its terminator stays there, also across
' instances and across the local and global reads.
longName = "vbs-leftover-abcdefgh"
shortName = "xy"
atom = o.AddAtomAmts(longName)
text = o.GetAtomNameAmts(atom)
Check Left(text, Len(longName)) = longName, "the long name fills the buffer"
Check o.DeleteAtomAmts(atom) = 0, "deleting the long name"
Set other = CreateObject("AtomTables10.clsQxAtomTables10A")
atom = other.GlobalAddAtomAmts(shortName)
copied = 0
text = other.GlobalGetAtomNameAmts(atom, 0, copied)
Check copied = 2, "the short global name is 2 characters: " & copied
Check Left(text, 3) = shortName & Chr(0), "the short name and its terminator"
Check Mid(text, 4, Len(longName) - 3) = Mid(longName, 4), "behind it the rest of the long name"
Check Len(text) = 255, "still 255 characters"
Check other.GlobalDeleteAtomAmts(atom) = 0, "deleting the short global name"

' --- The global table.
name = "vbs-atoms-Global-" & Int(Timer * 100)
atom = o.GlobalAddAtomAmts(name)
ExpectError 0, "adding a global name"
Check atom < 0 And atom >= -16384, "a global string atom is a negative number: " & atom
Check o.GlobalFindAtomAmts(LCase(name)) = atom, "a global name is found case-insensitively"
Check other.GlobalFindAtomAmts(name) = atom, "any instance sees the global table"
Check o.FindAtomAmts(name) = 0, "the global name is not in the local table"
copied = 0
size = 0
text = o.GlobalGetAtomNameAmts(atom, size, copied)
Check copied = Len(name) And Left(text, copied) = name, "the global name reads back: " & copied
Check size = 255 And Len(text) = 255, "the global read rewrote the size and returned the buffer"
size = 3
text = o.GlobalGetAtomNameAmts(atom, size, copied)
Check size = 4 And Left(text, 3) = "vbs", "a global read of 3 characters"
Check o.GlobalDeleteAtomAmts(atom) = 0, "deleting the global name"
Check o.GlobalFindAtomAmts(name) = 0, "the global name is gone"
atom = o.GlobalAddAtomAmts("#456")
Check atom = 456, "a global integer atom is its number: " & atom
Check o.GlobalDeleteAtomAmts(atom) = 0, "deleting the global integer atom"
Check o.GlobalAddAtomAmts("") = 0, "an empty global name is refused"

Finish
