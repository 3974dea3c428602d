' Argument binding as VBScript does it: variables are passed by reference, so an in-out parameter
' coerces the variable to its own type and writes the new value back into it; literals and
' parenthesised expressions are passed by value and never written.
' (The build puts checks.vbs in front: Option Explicit, On Error Resume Next, Check, ExpectError,
' Expecting, Finish.)

Dim o, name, atom, size, copied, text, value, dictionary, found

Set o = CreateObject("AtomTables10.clsQxAtomTables10A")
ExpectError 0, "creating the main class"
name = "vbs-binding-name"
atom = o.AddAtomAmts(name)
ExpectError 0, "adding " & name
Check TypeName(atom) = "Long", "an atom comes back as a Long, not " & TypeName(atom)
Check atom < 0, "a string atom comes back negative: " & atom

' iSizeToCopy in variables of every type: coerced to Integer, grown by one, written back.
size = CInt(3)
copied = Empty
text = o.GetAtomNameAmts(atom, size, copied)
ExpectError 0, "reading with an Integer size"
Check TypeName(size) = "Integer" And size = 4, "an Integer 3 comes back as the Integer 4, not " & TypeName(size) & " " & size
Check TypeName(copied) = "Integer" And copied = 3, "an Empty count comes back as the Integer 3, not " & TypeName(copied) & " " & copied
Check Left(text, copied) = "vbs", "the read-back idiom gives the first 3 characters"
Check Len(text) = 255, "the result is the whole 255-character buffer, not " & Len(text)

size = CLng(3)
text = o.GetAtomNameAmts(atom, size, copied)
ExpectError 0, "reading with a Long size"
Check TypeName(size) = "Integer" And size = 4, "a Long 3 comes back as the Integer 4, not " & TypeName(size) & " " & size

size = "3"
text = o.GetAtomNameAmts(atom, size, copied)
ExpectError 0, "reading with a String size"
Check TypeName(size) = "Integer" And size = 4, "a String ""3"" comes back as the Integer 4, not " & TypeName(size) & " " & size

size = CDbl(3)
text = o.GetAtomNameAmts(atom, size, copied)
ExpectError 0, "reading with a Double size"
Check TypeName(size) = "Integer" And size = 4, "a Double 3 comes back as the Integer 4, not " & TypeName(size) & " " & size

size = Empty
copied = "7"
text = o.GetAtomNameAmts(atom, size, copied)
ExpectError 0, "reading with an Empty size"
Check TypeName(size) = "Integer" And size = 255, "an Empty size reads as 0 and comes back as 255, not " & TypeName(size) & " " & size
Check TypeName(copied) = "Integer" And copied = Len(name), "a String count comes back as the Integer count, not " & TypeName(copied) & " " & copied
Check Left(text, copied) = name, "the whole name read back"

' The atom itself is an in-out Integer: a Long variable comes back as an Integer of the same value.
value = atom
text = o.GetAtomNameAmts(value)
ExpectError 0, "reading with the atom in a Long variable"
Check TypeName(value) = "Integer" And value = atom, "the atom variable comes back as the Integer " & atom & ", not " & TypeName(value) & " " & value

' Names in variables of other types are coerced to String and written back as the name's round trip.
value = 12345
found = o.AddAtomAmts(value)
ExpectError 0, "adding an Integer variable as a name"
Check TypeName(value) = "String" And value = "12345", "an Integer name comes back as the String ""12345"", not " & TypeName(value) & " " & value
Check found = o.FindAtomAmts("12345"), "the name added was ""12345"""
Check o.DeleteAtomAmts(found) = 0, "deleting ""12345"""
value = CDbl(1.5)
found = o.AddAtomAmts(value)
Check TypeName(value) = "String" And value = "1.5", "a Double name comes back as the String ""1.5"", not " & TypeName(value) & " " & value
Check o.DeleteAtomAmts(found) = 0, "deleting ""1.5"""

' Literals and parenthesised expressions are passed by value: nothing is written.
copied = Empty
text = o.GetAtomNameAmts(atom, 3, copied)
ExpectError 0, "reading with a literal size"
Check copied = 3, "a literal size 3 offers 4 positions: 3 characters copied, not " & copied
size = "3"
text = o.GetAtomNameAmts(atom, (size), copied)
ExpectError 0, "reading with a parenthesised size"
Check TypeName(size) = "String" And size = "3", "a parenthesised variable is not written: " & TypeName(size) & " " & size
Check copied = 3, "the parenthesised ""3"" still counted as 3"
size = 3
text = o.GetAtomNameAmts(atom, size + 0, copied)
Check size = 3 And TypeName(size) = "Integer", "an expression is not written: " & size
text = o.GetAtomNameAmts(atom, CInt(5), (copied))
Check copied = 3, "a parenthesised count is not written: " & copied

' Statement forms pass variables by reference too.
size = 3
o.GetAtomNameAmts atom, size, copied
ExpectError 0, "the statement form"
Check size = 4, "the statement form writes the size back: " & size
size = 4
Call o.GetAtomNameAmts(atom, size, copied)
ExpectError 0, "the Call form"
Check size = 5 And copied = 4, "the Call form writes both back: " & size & " " & copied

' Omitted optionals.
copied = Empty
text = o.GetAtomNameAmts(atom, , copied)
ExpectError 0, "omitting the size"
Check copied = Len(name), "with the size omitted the whole name is copied: " & copied
Check Left(text, copied) = name, "and read back"
text = o.GetAtomNameAmts(atom)
ExpectError 0, "omitting both optionals"
Check Len(text) = 255 And Left(text, Len(name)) = name, "with both omitted the buffer begins with the name"
size = 2
text = o.GetAtomNameAmts(atom, size)
ExpectError 0, "omitting the count"
Check size = 3 And Left(text, 2) = "vb", "with the count omitted the size still comes back: " & size

' Wrong numbers of arguments.
Expecting "too few arguments"
text = o.GetAtomNameAmts()
ExpectError 450, "GetAtomNameAmts without arguments"
found = o.AddAtomAmts()
ExpectError 450, "AddAtomAmts without arguments"
found = o.AddAtomAmts(name, 1)
ExpectError 450, "AddAtomAmts with two arguments"
text = o.GetAtomNameAmts(atom, 1, copied, 4)
ExpectError 450, "GetAtomNameAmts with four arguments"

' Values that cannot become the parameter's type.
text = o.GetAtomNameAmts(atom, "x")
ExpectError 13, "a size of ""x"""
value = "not a number"
text = o.GetAtomNameAmts(atom, 3, value)
ExpectError 13, "a count variable holding text"
Check TypeName(value) = "String" And value = "not a number", "a variable that cannot be coerced is left alone: " & value
found = o.DeleteAtomAmts(Null)
ExpectError 13, "an atom of Null"
found = o.DeleteAtomAmts(40000)
ExpectError 6, "an atom beyond 16 bits overflows"
size = 70000
text = o.GetAtomNameAmts(atom, size)
ExpectError 6, "a size variable beyond 16 bits overflows"
Check size = 70000, "and is left alone: " & size

' BuddyObjectGlobal takes object references only (Set); Nothing empties it.
Set dictionary = CreateObject("Scripting.Dictionary")
Expecting "a plain assignment"
o.BuddyObjectGlobal = dictionary
ExpectError 438, "a plain assignment to BuddyObjectGlobal"
Check o.BuddyObjectGlobal Is Nothing, "the plain assignment parked nothing"
Set o.BuddyObjectGlobal = dictionary
ExpectError 0, "Set BuddyObjectGlobal"
Check o.BuddyObjectGlobal Is dictionary, "the parked object is read back"
Set o.BuddyObjectGlobal = Nothing
ExpectError 0, "Set BuddyObjectGlobal = Nothing"
Check o.BuddyObjectGlobal Is Nothing, "Nothing empties the slot"

Check o.DeleteAtomAmts(atom) = 0, "deleting " & name
Finish
