' Atom census: what fills the global atom table, read through AtomTables10's own members.
'
'   cscript //nologo atom_census.vbs                       how full the table is, its names by group
'   cscript //nologo atom_census.vbs /csv:before.csv       the same, and every atom into a CSV file
'   cscript //nologo atom_census.vbs /compare:before.csv   the names added and gone since that file
'
'   /all       every group and every name (otherwise the 20 largest groups, a few names each)
'   /top:N     the N largest groups
'   /out:FILE  the report into FILE, in the system's ANSI code page, instead of onto the console
'
' The global atom table holds at most 16384 string atoms, 0xC000 to 0xFFFF, for every program of
' the session. When it is full, adding an atom fails ("Not enough storage is available to process
' this command"), and with it whatever needs one: a DDE conversation, a window property set by name.
' Windows has no call that lists the table, so the census asks for the name of every string atom in
' turn with GlobalGetAtomNameAmts, from -16384 (0xC000) to -1 (0xFFFF), the values the adding members
' return. It only reads: it never adds or deletes an atom.
'
' A name's group is its beginning up to the first digit, or up to the first separator (anything but
' a letter or digit) after a letter: LeakyTimer_0001, LeakyTimer-17 and leakytimer9 are all in group
' LeakyTimer, _QxTrace12 is in _QxTrace, {2F1A...} in {. Case does not count, as in the table. A
' program that leaks atoms leaves many names of one shape, which shows as one large group.
'
' A CSV file (atom, hex, group, name) is also a snapshot for /compare: take one, run the program you
' suspect or let time pass, and compare. Names are compared whatever their case; an atom deleted
' and added again under the same name is not a change.
'
' Needs the component and its common library registered (see the README). Exit code 0; 1 when the
' census cannot be taken or a file cannot be read or written; 2 for a wrong argument.
Option Explicit

Const FIRST_ATOM = -16384     ' 0xC000, the first string atom, as the members give it
Const TABLE_LIMIT = 16384     ' string atoms the table can hold
Const NEARLY_FULL = 14746     ' 90 % of the limit
Const DEFAULT_TOP = 20
Const CSV_HEADER = "atom,hex,group,name"

Dim csvPath, comparePath, outPath, report, showAll, top, shape, controls, quoting
' A name's group: leading separators, then letters (A-Z, a-z and every character beyond ASCII).
Set shape = New RegExp
shape.Pattern = "^([^0-9A-Za-z\u0080-\uFFFF]*[A-Za-z\u0080-\uFFFF]*)[\s\S]*$"
Set controls = New RegExp
controls.Pattern = "[\x00-\x1F]"
controls.Global = True
' What a CSV field must be quoted for.
Set quoting = New RegExp
quoting.Pattern = "[,""\r\n]|^ | $"
csvPath = "" : comparePath = "" : outPath = "" : showAll = False : top = DEFAULT_TOP
ReadArguments
If outPath <> "" Then Set report = CreateFile(outPath)

' --- The census: every string atom of the global table, in atom order. ----------------------------
Dim count, atoms, names, shapes, snapshot
ReDim atoms(TABLE_LIMIT - 1), names(TABLE_LIMIT - 1), shapes(TABLE_LIMIT - 1)
If comparePath <> "" Then Set snapshot = ReadSnapshot(comparePath)   ' a wrong file stops us early
TakeCensus

If csvPath <> "" Then WriteCsv csvPath
If comparePath = "" Then
    ReportTable
Else
    ReportChanges snapshot, comparePath
End If
If outPath <> "" Then report.Close
WScript.Quit 0

' One line of the report.
Sub Say(text)
    If outPath = "" Then WScript.Echo text Else report.WriteLine text
End Sub

Sub TakeCensus()
    Dim tables, atom, copied, text, length
    On Error Resume Next
    Set tables = CreateObject("AtomTables10.clsQxAtomTables10A")
    If Err.Number <> 0 Then Fatal "cannot create AtomTables10.clsQxAtomTables10A (error " & Err.Number & _
                                  ", " & Err.Description & "): is the component registered?"
    On Error GoTo 0
    count = 0
    For atom = FIRST_ATOM To -1
        ' The result is the whole 255-character name buffer; the copied count says how much of it is
        ' the name (0: no atom there). A size of 255 leaves room for the longest name.
        copied = 0
        text = tables.GlobalGetAtomNameAmts(atom, 255, copied)
        If copied > 0 Then
            text = Left(text, copied)
            ' The count is of ANSI bytes: for a name of double-byte characters the cut goes past
            ' its end, so cut it at its terminator too.
            length = InStr(text, Chr(0))
            If length > 0 Then text = Left(text, length - 1)
            atoms(count) = atom
            names(count) = text
            shapes(count) = GroupOf(text)
            count = count + 1
        End If
    Next
End Sub

' --- Reports. ------------------------------------------------------------------------------------
Sub ReportTable()
    Dim groups
    Say "Global atom table: " & count & " of " & TABLE_LIMIT & " string atoms in use (" & _
                 Percent(count, TABLE_LIMIT) & "), " & (TABLE_LIMIT - count) & " free."
    WarnIfFull
    If count = 0 Then Exit Sub
    Set groups = New GroupList
    groups.Build atoms, names, shapes, count
    Say ""
    Say groups.Count & " groups, largest first:"
    groups.Show showAll, top, True
End Sub

Sub WarnIfFull()
    If count >= TABLE_LIMIT Then
        Say "The table is FULL: adding a global atom fails until atoms are deleted."
    ElseIf count >= NEARLY_FULL Then
        Say "The table is NEARLY FULL (" & Percent(NEARLY_FULL, TABLE_LIMIT) & " or more in use): " & _
                     "adding global atoms will soon fail."
    End If
End Sub

' The names added since the earlier census (a dictionary from ReadSnapshot) and the names gone from it.
Sub ReportChanges(earlier, path)
    Dim present, i, keys, addedAtoms, addedNames, addedShapes, goneAtoms, goneNames, goneShapes, added, gone
    Set present = CreateObject("Scripting.Dictionary")
    present.CompareMode = vbTextCompare
    For i = 0 To count - 1
        If Not present.Exists(names(i)) Then present.Add names(i), atoms(i)
    Next
    ReDim addedAtoms(count), addedNames(count), addedShapes(count)
    ReDim goneAtoms(earlier.Count), goneNames(earlier.Count), goneShapes(earlier.Count)
    added = 0
    For i = 0 To count - 1
        If Not earlier.Exists(names(i)) Then
            addedAtoms(added) = atoms(i)
            addedNames(added) = names(i)
            addedShapes(added) = shapes(i)
            added = added + 1
        End If
    Next
    gone = 0
    keys = earlier.Keys
    For i = 0 To earlier.Count - 1
        If Not present.Exists(keys(i)) Then
            goneAtoms(gone) = earlier.Item(keys(i))
            goneNames(gone) = keys(i)
            goneShapes(gone) = GroupOf(keys(i))
            gone = gone + 1
        End If
    Next

    Say "Since " & path & ": " & Plural(added, "name") & " added, " & gone & " gone."
    WarnIfFull
    ShowChanged "Added", addedAtoms, addedNames, addedShapes, added
    ShowChanged "Gone", goneAtoms, goneNames, goneShapes, gone
End Sub

' One side of the changes (added or gone), in groups, when there is any.
Sub ShowChanged(title, atomList, nameList, shapeList, n)
    Dim groups
    If n = 0 Then Exit Sub
    Set groups = New GroupList
    groups.Build atomList, nameList, shapeList, n
    Say ""
    Say title & ", " & Plural(groups.Count, "group") & ", largest first:"
    groups.Show showAll, top, False
End Sub

' --- Groups of names. ----------------------------------------------------------------------------
Class GroupList
    ' Per group: its label, its size, its first and last item; per item: the next of its group.
    Private labels
    Private sizes
    Private firsts
    Private lasts
    Private nexts
    Private order       ' the groups, largest first
    Private groupCount
    Private itemAtoms
    Private itemNames

    Public Property Get Count()
        Count = groupCount
    End Property

    ' Puts items 0 to n - 1 into groups by their shapes (GroupOf); each group keeps its items in the
    ' order given.
    Public Sub Build(atomList, nameList, shapeList, n)
        Dim index, i, label, g
        itemAtoms = atomList
        itemNames = nameList
        Set index = CreateObject("Scripting.Dictionary")
        index.CompareMode = vbTextCompare
        ReDim labels(n - 1), sizes(n - 1), firsts(n - 1), lasts(n - 1), nexts(n - 1)
        groupCount = 0
        For i = 0 To n - 1
            label = shapeList(i)
            If index.Exists(label) Then
                g = index.Item(label)
                nexts(lasts(g)) = i
                lasts(g) = i
                sizes(g) = sizes(g) + 1
            Else
                g = groupCount
                index.Add label, g
                labels(g) = label
                sizes(g) = 1
                firsts(g) = i
                lasts(g) = i
                groupCount = groupCount + 1
            End If
            nexts(i) = -1
        Next
        SortGroups
    End Sub

    ' Largest first; groups of one size in the order of their names.
    Private Function Before(a, b)
        If sizes(a) <> sizes(b) Then
            Before = sizes(a) > sizes(b)
        Else
            Before = StrComp(labels(a), labels(b), vbTextCompare) < 0
        End If
    End Function

    Private Sub SortGroups()   ' heap sort of the group numbers
        Dim i, last, t
        ReDim order(groupCount - 1)
        For i = 0 To groupCount - 1
            order(i) = i
        Next
        For i = groupCount \ 2 - 1 To 0 Step -1
            SiftDown i, groupCount - 1
        Next
        For last = groupCount - 1 To 1 Step -1
            t = order(0) : order(0) = order(last) : order(last) = t
            SiftDown 0, last - 1
        Next
    End Sub

    ' The heap keeps the group that comes last on top, so that the sorted order is largest first.
    Private Sub SiftDown(start, finish)
        Dim root, child, t
        root = start
        Do While root * 2 + 1 <= finish
            child = root * 2 + 1
            If child + 1 <= finish Then
                If Before(order(child), order(child + 1)) Then child = child + 1
            End If
            If Not Before(order(root), order(child)) Then Exit Do
            t = order(root) : order(root) = order(child) : order(child) = t
            root = child
        Loop
    End Sub

    ' One line per group (count, label, a few names); every name below its group when `all`; the
    ' `top` largest groups otherwise. withAtoms: names listed with their atoms.
    Public Sub Show(all, top, withAtoms)
        Dim k, g, i, shown, rest, restNames
        Say "  names  group                     examples"
        shown = groupCount
        If Not all And top < shown Then shown = top
        For k = 0 To shown - 1
            g = order(k)
            Say Pad(sizes(g), 7, True) & "  " & Pad(Display(Label(g), 24), 24, False) & "  " & Examples(g)
            If all Then
                i = firsts(g)
                Do While i >= 0
                    If withAtoms Then
                        Say Space(11) & Pad(itemAtoms(i), 6, True) & "  " & AtomHex(itemAtoms(i)) & "  " & _
                                     Display(itemNames(i), 0)
                    Else
                        Say Space(11) & Display(itemNames(i), 0)
                    End If
                    i = nexts(i)
                Loop
            End If
        Next
        If shown < groupCount Then
            restNames = 0
            For k = shown To groupCount - 1
                restNames = restNames + sizes(order(k))
            Next
            rest = groupCount - shown
            Say "  ... and " & Plural(rest, "smaller group") & " with " & Plural(restNames, "name") & _
                         " (/all lists every group and name)"
        End If
    End Sub

    Private Function Label(g)
        If labels(g) = "" Then
            Label = "(begins with a digit)"
        Else
            Label = labels(g)
        End If
    End Function

    ' The group's names when they are three at most; else the first two and the last.
    Private Function Examples(g)
        Dim i, second
        i = firsts(g)
        Examples = Display(itemNames(i), 40)
        If sizes(g) = 1 Then Exit Function
        second = nexts(i)
        Examples = Examples & ", " & Display(itemNames(second), 40)
        If sizes(g) > 3 Then Examples = Examples & ", ..."
        If sizes(g) > 2 Then Examples = Examples & ", " & Display(itemNames(lasts(g)), 40)
    End Function
End Class

' --- Snapshots: the CSV file. --------------------------------------------------------------------
Sub WriteCsv(path)
    Dim file, i
    Set file = CreateFile(path)
    file.WriteLine CSV_HEADER
    For i = 0 To count - 1
        file.WriteLine atoms(i) & "," & AtomHex(atoms(i)) & "," & CsvField(shapes(i)) & "," & _
                       CsvField(names(i))
    Next
    file.Close
End Sub

' A new text file in the system's ANSI code page (an existing one is replaced).
Function CreateFile(path)
    On Error Resume Next
    Set CreateFile = CreateObject("Scripting.FileSystemObject").CreateTextFile(path, True)
    If Err.Number <> 0 Then Fatal "cannot write " & path & " (error " & Err.Number & ", " & Err.Description & ")"
End Function

Function CsvField(text)
    If quoting.Test(text) Then
        CsvField = """" & Replace(text, """", """""") & """"
    Else
        CsvField = text
    End If
End Function

' The names of a snapshot, with their atoms (a dictionary that ignores case, as the table does).
Function ReadSnapshot(path)
    Dim fso, file, text, lines, i, record, fields, result
    Set fso = CreateObject("Scripting.FileSystemObject")
    On Error Resume Next
    Set file = fso.OpenTextFile(path, 1)
    If Err.Number <> 0 Then Fatal "cannot read " & path & " (error " & Err.Number & ", " & Err.Description & ")"
    text = ""
    If Not file.AtEndOfStream Then text = file.ReadAll
    file.Close
    On Error GoTo 0
    lines = Split(text, vbCrLf)
    If UBound(lines) < 0 Then Fatal path & " is not a census file (it is empty)"
    If lines(0) <> CSV_HEADER Then Fatal path & " is not a census file (its first line is not " & CSV_HEADER & ")"
    Set result = CreateObject("Scripting.Dictionary")
    result.CompareMode = vbTextCompare
    i = 1
    Do While i <= UBound(lines)
        record = lines(i)
        i = i + 1
        ' A quoted name may hold line breaks: take lines until its quotes are balanced.
        Do While QuoteCount(record) Mod 2 = 1 And i <= UBound(lines)
            record = record & vbCrLf & lines(i)
            i = i + 1
        Loop
        If record <> "" Then
            fields = CsvFields(record)
            If UBound(fields) <> 3 Then Fatal path & ": not a census record: " & record
            If Not IsNumeric(fields(0)) Then Fatal path & ": not a census record: " & record
            If Not result.Exists(fields(3)) Then result.Add fields(3), CLng(fields(0))
        End If
    Loop
    Set ReadSnapshot = result
End Function

Function QuoteCount(text)
    QuoteCount = Len(text) - Len(Replace(text, """", ""))
End Function

Function CsvFields(record)
    Dim fields, n, i, c, field, quoted
    If InStr(record, """") = 0 Then
        CsvFields = Split(record, ",")
        Exit Function
    End If
    ReDim fields(Len(record))
    n = 0 : field = "" : quoted = False : i = 1
    Do While i <= Len(record)
        c = Mid(record, i, 1)
        If quoted Then
            If c = """" Then
                If Mid(record, i + 1, 1) = """" Then
                    field = field & c
                    i = i + 1
                Else
                    quoted = False
                End If
            Else
                field = field & c
            End If
        ElseIf c = """" Then
            quoted = True
        ElseIf c = "," Then
            fields(n) = field
            n = n + 1
            field = ""
        Else
            field = field & c
        End If
        i = i + 1
    Loop
    fields(n) = field
    ReDim Preserve fields(n)
    CsvFields = fields
End Function

' --- Small things. -------------------------------------------------------------------------------
Sub ReadArguments()
    Dim i, argument, lower
    For i = 0 To WScript.Arguments.Count - 1
        argument = WScript.Arguments.Item(i)
        lower = LCase(argument)
        If lower = "/all" Then
            showAll = True
        ElseIf Left(lower, 5) = "/csv:" And Len(argument) > 5 Then
            csvPath = Mid(argument, 6)
        ElseIf Left(lower, 5) = "/out:" And Len(argument) > 5 Then
            outPath = Mid(argument, 6)
        ElseIf Left(lower, 9) = "/compare:" And Len(argument) > 9 Then
            comparePath = Mid(argument, 10)
        ElseIf Left(lower, 5) = "/top:" And IsCount(Mid(argument, 6)) Then
            top = CLng(Mid(argument, 6))
        Else
            WScript.Echo "atom_census: unknown argument " & argument
            WScript.Echo "usage: cscript //nologo atom_census.vbs [/csv:FILE] [/compare:FILE] [/out:FILE] [/all] [/top:N]"
            WScript.Quit 2
        End If
    Next
End Sub

' A whole number from 1 to the table's size.
Function IsCount(text)
    IsCount = False
    If IsNumeric(text) Then IsCount = CDbl(text) >= 1 And CDbl(text) <= TABLE_LIMIT And CDbl(text) = Int(CDbl(text))
End Function

Sub Fatal(text)
    WScript.Echo "atom_census: " & text
    WScript.Quit 1
End Sub

Function GroupOf(name)
    GroupOf = shape.Replace(name, "$1")
End Function

Function AtomHex(atom)
    AtomHex = "0x" & Right("0000" & Hex(atom And &HFFFF&), 4)
End Function

' A share as a percentage with one decimal, the same under every locale.
Function Percent(part, whole)
    Dim tenths
    tenths = Int(part * 1000 / whole)
    Percent = (tenths \ 10) & "." & (tenths Mod 10) & "%"
End Function

Function Plural(n, word)
    If n = 1 Then
        Plural = n & " " & word
    Else
        Plural = n & " " & word & "s"
    End If
End Function

' A name as printed: control characters as "?", cut to `most` characters (0: whole) with "...".
Function Display(text, most)
    Dim result
    result = controls.Replace(text, "?")
    If most > 0 And Len(result) > most Then result = Left(result, most - 3) & "..."
    Display = result
End Function

Function Pad(value, width, right)
    Dim text
    text = CStr(value)
    If Len(text) >= width Then
        Pad = text
    ElseIf right Then
        Pad = Space(width - Len(text)) & text
    Else
        Pad = text & Space(width - Len(text))
    End If
End Function
