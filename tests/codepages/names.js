// Runs the name steps listed in a file against the component and prints what each gave, one line a
// step: an atom or a status as a number, a read's whole result as hexadecimal UTF-16 units (ASCII
// only, whatever the code page). codepage_test.cpp writes the steps and reads the lines back.
//
//   cscript //nologo names.js STEPS      a step a line: A|F|R|D, L|G, then a name (hexadecimal
//                                        UTF-16 units) to add or find, or a size to read with (-: none)
//
// Names are built with String.fromCharCode; reads and deletes act on the atom of the last add.
var tables = new ActiveXObject("AtomTables10.clsQxAtomTables10A");
var steps = new ActiveXObject("Scripting.FileSystemObject").OpenTextFile(WScript.Arguments(0), 1).ReadAll().split("\r\n");

function nameOf(hex) {
    var name = "";
    for (var i = 0; i < hex.length; i += 4) name += String.fromCharCode(parseInt(hex.substr(i, 4), 16));
    return name;
}
function hexOf(text) {
    var hex = "";
    for (var i = 0; i < text.length; i++) hex += (0x10000 + text.charCodeAt(i)).toString(16).substr(1);
    return hex;
}

var atom = 0;
for (var i = 0; i < steps.length; i++) {
    var field = steps[i].split(" ");
    if (field.length < 3) continue;
    var global = field[1] === "G", out;
    try {
        switch (field[0]) {
        case "A":
            out = atom = global ? tables.GlobalAddAtomAmts(nameOf(field[2])) : tables.AddAtomAmts(nameOf(field[2]));
            break;
        case "F":
            out = global ? tables.GlobalFindAtomAmts(nameOf(field[2])) : tables.FindAtomAmts(nameOf(field[2]));
            break;
        case "R":
            if (field[2] === "-") out = global ? tables.GlobalGetAtomNameAmts(atom) : tables.GetAtomNameAmts(atom);
            else out = global ? tables.GlobalGetAtomNameAmts(atom, +field[2]) : tables.GetAtomNameAmts(atom, +field[2]);
            out = hexOf(out);
            break;
        case "D":
            out = global ? tables.GlobalDeleteAtomAmts(atom) : tables.DeleteAtomAmts(atom);
            break;
        }
    } catch (e) {
        out = "error " + (e.number & 0xFFFF) + " at step " + i;
    }
    WScript.Echo(out);
}
