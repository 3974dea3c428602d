// The component from JScript: every argument travels by value (numbers as 32-bit integers,
// undefined as Empty, null as Null), so nothing is ever written back; object assignment to a
// property comes as put and put-by-reference together; failures are caught as exceptions.
var checks = 0, failures = 0;

function fail(text) {
    failures++;
    WScript.Echo("FAIL " + text);
}
function check(ok, what) {
    checks++;
    if (ok !== true) fail(what);
}
// Runs body, which must not throw; returns its value.
function run(what, body) {
    try {
        return body();
    } catch (e) {
        checks++;
        fail(what + ": unexpected error " + (e.number & 0xFFFF) + " (" + e.description + ")");
        return undefined;
    }
}
// Runs body, which must throw the error whose low 16 bits are `number`.
function expectError(number, what, body) {
    checks++;
    try {
        body();
    } catch (e) {
        if ((e.number & 0xFFFF) !== number)
            fail(what + ": error " + (e.number & 0xFFFF) + " (" + e.description + "), expected " + number);
        return;
    }
    fail(what + ": no error, expected " + number);
}

function main() {
    var o = run("creating the main class", function () { return new ActiveXObject("AtomTables10.clsQxAtomTables10A"); });
    if (!o) return;
    var other = run("creating a second instance", function () { return new ActiveXObject("AtomTables10.clsQxAtomTables10A"); });

    // --- By value: the variables passed stay as they were.
    var name = "js-calls-\u4E2D";
    var atom = run("adding a name", function () { return o.AddAtomAmts(name); });
    check(typeof atom === "number" && atom < 0 && atom >= -16384, "a string atom is a negative number: " + atom);
    check(name === "js-calls-\u4E2D", "the name variable is not written (no round trip reaches it)");
    var size = 3, copied = 0;
    var text = run("reading with variables", function () { return o.GetAtomNameAmts(atom, size, copied); });
    check(size === 3, "the size variable stays 3: " + size);
    check(copied === 0, "the count variable stays 0: " + copied);
    check(typeof text === "string" && text.length === 255, "the result is the 255-character buffer");
    check(text.substr(0, 4) === "js-\0", "a size of 3 read 3 characters and the terminator");
    text = run("reading the whole name", function () { return o.GetAtomNameAmts(atom); });
    check(text.substr(0, 11) === "js-calls-?\0", "the platform holds the name's ANSI form: " + text.substr(0, 10));
    check(run("finding the ANSI form", function () { return o.FindAtomAmts("js-calls-?"); }) === atom, "the ANSI form names the atom");
    check(run("finding the original", function () { return o.FindAtomAmts(name); }) === atom, "so does the original name");

    // --- Numbers arrive as 32-bit integers and are narrowed to the 16-bit parameters.
    check(run("deleting by a 32-bit number", function () { return o.DeleteAtomAmts(atom); }) === 0, "the negative atom names the same atom");
    check(run("finding a deleted name", function () { return o.FindAtomAmts(name); }) === 0, "the name is gone");
    expectError(10, "an atom of 40000 does not fit 16 bits", function () { o.DeleteAtomAmts(40000); });
    expectError(10, "a size of -40000 does not fit 16 bits", function () { o.GetAtomNameAmts(1, -40000); });
    atom = run("adding an integer atom", function () { return o.AddAtomAmts("#32000"); });
    check(atom === 32000, "an integer atom is its number: " + atom);
    text = run("reading with the largest size", function () { return o.GetAtomNameAmts(atom, 32767); });
    check(typeof text === "string" && text.substr(0, 7) === "#32000\0", "a size of 32767 is reported and the read goes on");
    check(run("deleting the integer atom", function () { return o.DeleteAtomAmts(32000); }) === 0, "deleting the integer atom");
    var number = 777;
    atom = run("adding a number as a name", function () { return o.AddAtomAmts(number); });
    check(number === 777, "the number variable stays a number");
    check(run("finding the number's text", function () { return o.FindAtomAmts("777"); }) === atom, "the number was added as the name \"777\"");
    run("deleting \"777\"", function () { return o.DeleteAtomAmts(atom); });

    // --- undefined is Empty: an empty name, a size of 0; null is Null, which no parameter takes.
    atom = run("adding a name to read", function () { return o.AddAtomAmts("js-calls-empty"); });
    text = run("reading with undefined", function () { return o.GetAtomNameAmts(atom, undefined, undefined); });
    check(text.substr(0, 15) === "js-calls-empty\0", "an undefined size reads as 0 and offers the whole buffer");
    check(run("adding undefined", function () { return o.AddAtomAmts(undefined); }) === 0, "undefined is the empty name, which the platform refuses");
    expectError(5, "a null size", function () { o.GetAtomNameAmts(atom, null); });
    expectError(5, "a null name", function () { o.AddAtomAmts(null); });
    expectError(5, "a size of \"x\"", function () { o.GetAtomNameAmts(atom, "x"); });
    run("deleting js-calls-empty", function () { return o.DeleteAtomAmts(atom); });

    // --- The global table.
    var globalName = "js-calls-global-" + new Date().getTime();
    atom = run("adding a global name", function () { return o.GlobalAddAtomAmts(globalName); });
    check(atom < 0, "a global string atom is negative: " + atom);
    check(run("finding it through another instance", function () { return other.GlobalFindAtomAmts(globalName.toUpperCase()); }) === atom,
          "the global table is shared, names compare case-insensitively");
    text = run("reading the global name", function () { return o.GlobalGetAtomNameAmts(atom); });
    check(text.substr(0, globalName.length + 1) === globalName + "\0", "the global name reads back");
    check(run("deleting the global name", function () { return o.GlobalDeleteAtomAmts(atom); }) === 0, "deleting the global name");
    check(run("finding the deleted global name", function () { return o.GlobalFindAtomAmts(globalName); }) === 0, "the global name is gone");

    // --- Object assignment to BuddyObjectGlobal (put and put-by-reference together).
    var dictionary = new ActiveXObject("Scripting.Dictionary");
    check(run("reading the empty slot", function () { return o.BuddyObjectGlobal; }) === null, "the slot starts empty (null)");
    run("assigning an object", function () { o.BuddyObjectGlobal = dictionary; });
    check(run("reading the slot", function () { return o.BuddyObjectGlobal; }) === dictionary, "the object assigned is read back");
    check(run("reading through the other instance", function () { return other.BuddyObjectGlobal; }) === dictionary,
          "the other instance on this thread sees the same object");
    // Anything but an object is a plain assignment, which the property does not offer.
    expectError(3, "assigning a number", function () { o.BuddyObjectGlobal = 5; });
    expectError(3, "assigning a string", function () { o.BuddyObjectGlobal = "x"; });
    expectError(3, "assigning null", function () { o.BuddyObjectGlobal = null; });
    check(run("reading the slot again", function () { return o.BuddyObjectGlobal; }) === dictionary, "the refused assignments left the object");
    var second = new ActiveXObject("Scripting.Dictionary");
    run("assigning through the other instance", function () { other.BuddyObjectGlobal = second; });
    check(run("reading after the replacement", function () { return o.BuddyObjectGlobal; }) === second, "the replacement is seen by both");

    // --- Errors and their numbers.
    check(run("string 121", function () { return o.GetProResStrings(121); }) === "Length of this atom should not exceed 255.", "string 121");
    check(run("string 122", function () { return o.GetProResStrings(122); }) === "\"Invalid Length...\"", "string 122");
    expectError(326, "string 100", function () { o.GetProResStrings(100); });
    expectError(326, "a missing picture", function () { o.GetProResPicture(101, 0); });
    expectError(6, "a picture kind of 40000", function () { o.GetProResPicture(1, 40000); });
    expectError(326, "missing custom data", function () { o.GetProResData(101, "CUSTOM"); });
    expectError(14, "too few arguments", function () { o.AddAtomAmts(); });
    expectError(14, "too many arguments", function () { o.AddAtomAmts("a", "b"); });
    expectError(438, "an unknown member", function () { o.NoSuchMember(); });
    expectError(429, "the class that cannot be created", function () { new ActiveXObject("AtomTables10.clsQxAmtsAtomA"); });
    var caught = null;
    try {
        o.GetProResStrings(100);
    } catch (e) {
        caught = e;
    }
    check(caught !== null && caught.description.indexOf("100") >= 0, "the description names the identifier");
    check(caught !== null && caught.number === (0x800A0146 | 0), "the whole number is the runtime's error 326");
}

try {
    main();
} catch (e) {
    fail("unexpected error " + (e.number & 0xFFFF) + " (" + e.description + ")");
}
if (failures === 0) {
    WScript.Echo("all " + checks + " checks passed");
    WScript.Quit(0);
}
WScript.Echo(failures + " of " + checks + " checks failed");
WScript.Quit(1);
