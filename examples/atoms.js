// AtomTables10 from JScript: atoms in the local and the global table, reading a name back, the
// buddy slot that every instance on a thread shares, and the component's resource strings.
//
//   cscript //nologo atoms.js [NAME]     NAME: a name of your own for the local table
//
// Needs the component and its common library registered (see the README). JScript passes every
// argument by value, so it never receives what a member writes back into its arguments (the
// copied count of a name read, for one): it cuts a name read back at its terminator instead. That
// is right in every ANSI code page, also where the count would be of more bytes than the name has
// characters (932 Japanese, 936 Chinese, 949 Korean); but without the count it cannot tell a read
// that copied nothing (an atom that is not there) from one that copied a name: the buffer then
// still holds the name read before it.
var checks = 0, failures = 0;

function check(ok, what) {
    checks++;
    if (!ok) {
        failures++;
        WScript.Echo("FAIL " + what);
    }
}

// The name in a buffer that GetAtomNameAmts returned: the characters before the terminator.
function nameIn(buffer) {
    var end = buffer.indexOf("\0");
    return end < 0 ? buffer : buffer.substring(0, end);
}

var tables = new ActiveXObject("AtomTables10.clsQxAtomTables10A");

// --- The local table: private to this process. ---------------------------------------------------
var name = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "example.local.js";
var atom = tables.AddAtomAmts(name);       // a string atom comes back as a negative number
check(atom < 0, "a string atom is negative: " + atom);
check(tables.FindAtomAmts(name.toUpperCase()) === atom, "names are found whatever their case");
var text = tables.GetAtomNameAmts(atom);   // the optional size and count may be left out
WScript.Echo("local atom " + atom + " is " + nameIn(text).length + " characters long");
check(text.length === 255, "the result is the whole 255-character buffer");
check(nameIn(text) === name, "cut at the terminator, it is the name");
text = tables.GetAtomNameAmts(atom, 4);    // at most 4 bytes: 4 ASCII characters, 2 two-byte ones
check(nameIn(text).length <= 4 && name.indexOf(nameIn(text)) === 0, "a size of 4 read the name's start");
check(tables.DeleteAtomAmts(atom) === 0, "deleted");
check(tables.FindAtomAmts(name) === 0, "a deleted name is not found");

// --- The global table: shared by every process on the desktop. -----------------------------------
name = "AtomTables10 example " + new Date().getTime();
atom = tables.GlobalAddAtomAmts(name);
text = tables.GlobalGetAtomNameAmts(atom);
WScript.Echo("global atom " + atom + " is \"" + nameIn(text) + "\"");
check(nameIn(text) === name, "the global name reads back");
check(tables.GlobalFindAtomAmts(name) === atom, "the global name is found");
check(tables.GlobalDeleteAtomAmts(atom) === 0, "the global atom is deleted");

// --- The buddy slot: one object per thread, shared by every instance. ------------------------------
var second = new ActiveXObject("AtomTables10.clsQxAtomTables10A");
var note = new ActiveXObject("Scripting.Dictionary");
note.Add("from", "the first instance");
tables.BuddyObjectGlobal = note;           // an object: assigned by reference
WScript.Echo("the second instance finds the object parked " + second.BuddyObjectGlobal.Item("from"));
check(second.BuddyObjectGlobal === note, "both instances see the same object");
var other = new ActiveXObject("Scripting.Dictionary");
second.BuddyObjectGlobal = other;          // replaces it for everyone
check(tables.BuddyObjectGlobal === other, "replaced through the second instance");
// null is not an object but a plain value, which the property does not take (JScript cannot
// empty the slot; VBScript's Set ... = Nothing does). It empties itself when the last instance on
// the thread goes.

// --- Resource strings. ---------------------------------------------------------------------------
WScript.Echo("string 121: " + tables.GetProResStrings(121));
check(tables.GetProResStrings(121) === "Length of this atom should not exceed 255.", "string 121");
check(tables.GetProResStrings(122).length === 19, "string 122 with its quotes");
// A missing resource is an exception whose number's low 16 bits are 326 (resource not found).
var number = 0;
try {
    tables.GetProResStrings(100);
} catch (e) {
    number = e.number & 0xFFFF;
}
WScript.Echo("string 100: error " + number);
check(number === 326, "a missing string is error 326");

if (failures === 0) {
    WScript.Echo("all " + checks + " checks passed");
    WScript.Quit(0);
}
WScript.Echo(failures + " of " + checks + " checks failed");
WScript.Quit(1);
