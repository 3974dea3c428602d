' The VBScript side of the benchmark (run by the benchmark program under Wine's cscript).
'
' Each loop calls one member of the component many times, or a method of Wine's own
' Scripting.Dictionary (a peer automation object), or nothing at all, so that the interpreter's own
' cost can be subtracted. Every loop lives in a function with local variables, as the member loops
' do, and assigns the result the way a script that uses it does.
'
'   cscript //nologo bench.vbs <local iterations> <global iterations> <rounds>
'
' Prints one line per loop and round: key, round, microseconds, iterations (tab-separated), then
' "done". Timer is the only clock a script has (milliseconds, as a Single), so loops run long enough
' for its steps not to matter.
Option Explicit

Dim n, g, rounds
n = CLng(WScript.Arguments(0))
g = CLng(WScript.Arguments(1))
rounds = CLng(WScript.Arguments(2))

Dim o, d, failure
failure = ""
On Error Resume Next
Set o = CreateObject("AtomTables10.clsQxAtomTables10A")
If Err.Number <> 0 Then failure = "AtomTables10.clsQxAtomTables10A: " & Err.Description
Err.Clear
Set d = CreateObject("Scripting.Dictionary")
If Err.Number <> 0 Then failure = failure & " Scripting.Dictionary: " & Err.Description
On Error GoTo 0
If failure <> "" Then
    WScript.Echo "error" & vbTab & failure
    WScript.Quit 1
End If

Dim localName, globalName, localAtom, globalAtom, missingAtom
localName = "AtomTablesBench.Existing"
globalName = "AtomTablesBench.Script.Existing"
localAtom = CInt(o.AddAtomAmts(localName))
globalAtom = CInt(o.GlobalAddAtomAmts(globalName))
' The local table is this process's own and holds one name: the top atom number names nothing.
missingAtom = CInt(-1)
d.Add localName, 1

Function Since(t0)
    Dim t
    t = Timer - t0
    If t < 0 Then t = t + 86400
    Since = t
End Function

Sub Report(key, round, seconds, count)
    WScript.Echo key & vbTab & round & vbTab & CLng(seconds * 1000000) & vbTab & count
End Sub

Function LoopEmpty(count)
    Dim i, t0
    t0 = Timer
    For i = 1 To count
    Next
    LoopEmpty = Since(t0)
End Function

Function LoopExists(dict, key, count)
    Dim i, t0, r, x, k
    Set x = dict
    k = key
    t0 = Timer
    For i = 1 To count
        r = x.Exists(k)
    Next
    LoopExists = Since(t0)
End Function

Function LoopInit(obj, count)
    Dim i, t0, r, x, size
    Set x = obj
    size = 37
    t0 = Timer
    For i = 1 To count
        r = x.InitAtomTableAmts(size)
    Next
    LoopInit = Since(t0)
End Function

Function LoopAdd(obj, name, count)
    Dim i, t0, r, x, s
    Set x = obj
    s = name
    t0 = Timer
    For i = 1 To count
        r = x.AddAtomAmts(s)
    Next
    LoopAdd = Since(t0)
End Function

Function LoopDelete(obj, atom, count)
    Dim i, t0, r, x, a
    Set x = obj
    a = atom
    t0 = Timer
    For i = 1 To count
        r = x.DeleteAtomAmts(a)
    Next
    LoopDelete = Since(t0)
End Function

Function LoopFind(obj, name, count)
    Dim i, t0, r, x, s
    Set x = obj
    s = name
    t0 = Timer
    For i = 1 To count
        r = x.FindAtomAmts(s)
    Next
    LoopFind = Since(t0)
End Function

Function LoopRead(obj, atom, count)
    Dim i, t0, r, x, a
    Set x = obj
    a = atom
    t0 = Timer
    For i = 1 To count
        r = x.GetAtomNameAmts(a)
    Next
    LoopRead = Since(t0)
End Function

Function LoopGlobalAdd(obj, name, count)
    Dim i, t0, r, x, s
    Set x = obj
    s = name
    t0 = Timer
    For i = 1 To count
        r = x.GlobalAddAtomAmts(s)
    Next
    LoopGlobalAdd = Since(t0)
End Function

Function LoopGlobalDelete(obj, atom, count)
    Dim i, t0, r, x, a
    Set x = obj
    a = atom
    t0 = Timer
    For i = 1 To count
        r = x.GlobalDeleteAtomAmts(a)
    Next
    LoopGlobalDelete = Since(t0)
End Function

Function LoopGlobalFind(obj, name, count)
    Dim i, t0, r, x, s
    Set x = obj
    s = name
    t0 = Timer
    For i = 1 To count
        r = x.GlobalFindAtomAmts(s)
    Next
    LoopGlobalFind = Since(t0)
End Function

Function LoopGlobalRead(obj, atom, count)
    Dim i, t0, r, x, a
    Set x = obj
    a = atom
    t0 = Timer
    For i = 1 To count
        r = x.GlobalGetAtomNameAmts(a)
    Next
    LoopGlobalRead = Since(t0)
End Function

Dim round
For round = 1 To rounds
    Report "empty", round, LoopEmpty(n), n
    Report "peer", round, LoopExists(d, localName, n), n
    Report "InitAtomTableAmts", round, LoopInit(o, n), n
    ' Adding an existing name takes references that the delete loop gives back.
    Report "AddAtomAmts.existing", round, LoopAdd(o, localName, n), n
    Report "DeleteAtomAmts.reference", round, LoopDelete(o, localAtom, n), n
    Report "DeleteAtomAmts.missing", round, LoopDelete(o, missingAtom, n), n
    Report "FindAtomAmts.existing", round, LoopFind(o, localName, n), n
    Report "FindAtomAmts.missing", round, LoopFind(o, "AtomTablesBench.Missing", n), n
    Report "GetAtomNameAmts.existing", round, LoopRead(o, localAtom, n), n
    Report "GetAtomNameAmts.missing", round, LoopRead(o, missingAtom, n), n
    Report "empty.global", round, LoopEmpty(g), g
    Report "GlobalAddAtomAmts.existing", round, LoopGlobalAdd(o, globalName, g), g
    Report "GlobalDeleteAtomAmts.reference", round, LoopGlobalDelete(o, globalAtom, g), g
    Report "GlobalFindAtomAmts.existing", round, LoopGlobalFind(o, globalName, g), g
    Report "GlobalGetAtomNameAmts.existing", round, LoopGlobalRead(o, globalAtom, g), g
Next

o.GlobalDeleteAtomAmts globalAtom
o.DeleteAtomAmts localAtom
WScript.Echo "done"
WScript.Quit 0
