' The project services from VBScript: the shared buddy slot, the message string table, the
' standard properties, the classes that can and cannot be created, and the runtime error numbers
' scripts see when an accessor fails. (About and TestA show message boxes: not called here.)
' (The build puts checks.vbs in front: Option Explicit, On Error Resume Next, Check, ExpectError,
' Expecting, Finish.)

Dim first, second, dictionary, other, id, text, picture, data, app, again, auxiliary, source, description

Set first = CreateObject("AtomTables10.clsQxAtomTables10A")
ExpectError 0, "creating the first instance"
Set second = CreateObject("AtomTables10.clsQxAtomTables10A")
ExpectError 0, "creating the second instance"

' --- One buddy slot per thread, shared by every instance.
Check first.BuddyObjectGlobal Is Nothing, "the slot starts empty"
Set dictionary = CreateObject("Scripting.Dictionary")
dictionary.Add "note", "parked by the first instance"
Set first.BuddyObjectGlobal = dictionary
ExpectError 0, "parking through the first instance"
Check second.BuddyObjectGlobal Is dictionary, "the second instance reads the same object"
Check second.BuddyObjectGlobal.Item("note") = "parked by the first instance", "and can use it"
Set other = CreateObject("Scripting.Dictionary")
Set second.BuddyObjectGlobal = other
Check first.BuddyObjectGlobal Is other, "parking through the second instance replaces it for the first"
Set second.BuddyObjectGlobal = Nothing
Check first.BuddyObjectGlobal Is Nothing, "emptied through one, empty for both"

' --- The message string table.
For id = 101 To 120
    text = first.GetProResStrings(id)
    ExpectError 0, "string " & id
    Check text = "-", "string " & id & " is a hyphen: " & text
Next
text = first.GetProResStrings(121)
Check text = "Length of this atom should not exceed 255.", "string 121: " & text
text = first.GetProResStrings(122)
Check text = """Invalid Length...""", "string 122 keeps its quotes: " & text
Check Len(text) = 19, "string 122 is 19 characters: " & Len(text)
id = 121
text = first.GetProResStrings(id)
Check id = 121, "the identifier variable is not written"

Expecting "missing strings"
text = "unchanged"
text = first.GetProResStrings(100)
ExpectError 326, "string 100 does not exist"
Check text = "unchanged", "a failed read assigns nothing"
text = first.GetProResStrings(123)
ExpectError 326, "string 123 does not exist"
text = first.GetProResStrings(-1)
ExpectError 326, "string -1 does not exist"
text = first.GetProResStrings(65536 + 121)
ExpectError 326, "an identifier beyond 16 bits names no string"
text = first.GetProResStrings(100)
source = Err.Source
description = Err.Description
ExpectError 326, "string 100 once more"
Check source = "AtomTables10", "the error's source is the component: " & source
Check InStr(description, "100") > 0, "the description names the identifier: " & description

' --- Pictures and custom data: the component carries none.
Set picture = first.GetProResPicture(101, 0)
ExpectError 326, "no bitmap resource"
Set picture = first.GetProResPicture(101, 1)
ExpectError 326, "no icon resource"
Set picture = first.GetProResPicture(101, 2)
ExpectError 326, "no cursor resource"
Set picture = first.GetProResPicture(1, 40000)
ExpectError 6, "a picture kind of 40000 overflows before any lookup"
Set picture = first.GetProResPicture(1, 7)
ExpectError 5, "an unknown picture kind is an invalid call"
data = first.GetProResData(101, 10)
ExpectError 326, "no custom data under a numeric type"
data = first.GetProResData(101, "CUSTOM")
ExpectError 326, "no custom data under a type name"
text = "CUSTOM"
data = first.GetProResData(101, text)
ExpectError 326, "no custom data under a type name in a variable"
Check TypeName(text) = "String" And text = "CUSTOM", "the type variable is not written: " & text
data = first.GetProResData(101, first)
ExpectError 13, "an object is no resource type"

' --- The standard properties.
Set app = first.GetProStdProperties
ExpectError 0, "reading the standard properties"
Check app.Title = "AtomTables10", "the title: " & app.Title
Check app.Comments = "This library manages system local and global atom tables.", "the comments: " & app.Comments
Check app.Major = 1 And app.Minor = 0 And app.Revision = 1, "the version: " & app.Major & "." & app.Minor & "." & app.Revision
Set again = second.GetProStdProperties
Check again Is app, "one application-properties object per thread"

' --- The other classes.
Set auxiliary = CreateObject("AtomTables10.clsQxAmtsAtomsA")
ExpectError 0, "creating clsQxAmtsAtomsA"
Set auxiliary = CreateObject("AtomTables10.clsQxAmtsGeneralA")
ExpectError 0, "creating clsQxAmtsGeneralA"
Set auxiliary = CreateObject("AtomTables10.clsQxAmtsAdvancedA")
ExpectError 0, "creating clsQxAmtsAdvancedA"
Set auxiliary = Nothing
Set auxiliary = CreateObject("AtomTables10.clsQxAmtsAtomA")
ExpectError 429, "clsQxAmtsAtomA cannot be created"
Check auxiliary Is Nothing, "nothing was created"

Finish
