// pbrun's own table: small programs with the output they give, the compile error or memory fault they
// must end in, on both sides of the version boundaries they touch; and the version table's self-checks.
#include "Interpreter.h"
#include "TestFiles.h"
#include "VersionTable.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace hexaloom::pbrun;

namespace {

const char* const k612 = "6.12-windows-x64-unicode";

struct Row
{
    const char* name;
    const char* targets; // blank-separated
    const char* source;
    const char* output; // expected output (runs that end well or leak)
    // "line: text" of the first message, "leak: line" (strict memory), or "warning: text" of a run that ends well
    const char* diagnostic;
    Phase phase;
};

// A zlib stream of "hello" (compress2 level 9), for the uncompress rows.
#define HELLO_ZLIB "Data.b $78,$DA,$CB,$48,$CD,$C9,$C9,$07,$00,$06,$2C,$02,$15"

// The same program picks by system.
constexpr const char kSelectBySystem[] = R"(
CompilerSelect #PB_Compiler_OS
  CompilerCase #PB_OS_Windows, #PB_OS_Linux : Debug "pc " + Str(#PB_Compiler_Unicode)
  CompilerDefault : Debug "mac " + Str(#PB_Compiler_Unicode)
CompilerEndSelect
CompilerIf #PB_Compiler_OS = #PB_OS_MacOS And #PB_Compiler_Processor = #PB_Processor_arm64 : Debug "M1" : CompilerEndIf)";

const Row kRows[] = {
    // ---- integers: width and wraparound per type, operators by PureBasic's priorities ----
    {"wrap per type", k612, R"(
b.b = 127 : b + 1 : Debug b
a.a = 255 : a + 1 : Debug a
w.w = 32767 : w + 1 : Debug w
u.u = 65535 : u + 1 : Debug u
l.l = 2147483647 : l + 1 : Debug l
q.q = 9223372036854775807 : q + 1 : Debug q
c.c = 65535 : c + 1 : Debug c)",
     "-128\n0\n-32768\n0\n-2147483648\n-9223372036854775808\n0\n", "", Phase::Ok},
    {".i is 4 bytes on x86, 8 on x64", "6.00-windows-x86-unicode", "i.i = 2147483647 : i + 1 : Debug i",
     "-2147483648\n", "", Phase::Ok},
    {".i on x64", "6.00-linux-x64-unicode", "i.i = 2147483647 : i + 1 : Debug i", "2147483648\n", "", Phase::Ok},
    {".c is a byte in ASCII mode", "4.40-windows-x86-ascii", "c.c = 255 : c + 1 : Debug c : Debug SizeOf(c)", "0\n1\n",
     "", Phase::Ok},
    {"a long expression wraps at 32 bits on x86", "6.12-windows-x86-unicode", "a.l = $7FFFFFFF : q.q = a * 2 : Debug q",
     "-2\n", "", Phase::Ok},
    {"where 32 and 64 bits differ on x64 pbrun refuses", "6.12-linux-x64-unicode 5.40-windows-x64-ascii", R"(
l.l = $7FFFFFFF : w.l = l + 1 : b.b = (l << 4) | 1 : PokeW(@w, l * 3) : Debug Str(w) + " " + Str(b)
If l + 1 > 0 : EndIf)",
     "-2147418115 -15\n",
     "2: pbrun does not support this expression on a 64-bit target: its 32-bit operands give "
     "-2147483648 computed in 32 bits and 2147483648 in 64",
     Phase::Runtime},
    {"a constant that overflows 32 bits", k612, "x.l = 1 << 31\n#A = $7FFFFFFF + 1", "",
     "2: pbrun does not support a constant expression that overflows 32 bits", Phase::Compile},
    {"a hexadecimal number beyond 64 bits", k612, "x = $10000000000000000", "", "1: Numeric constant too big",
     Phase::Compile},
    {"a quad makes it 64 bits", k612, "a.l = $7FFFFFFF : b.q = 2 : q.q = a * b : Debug q", "4294967294\n", "",
     Phase::Ok},
    {"priorities: << before *, & before *, * before +", k612, R"(
Debug 2 + 3 * 4
Debug 1 + 2 << 3
Debug 6 & 3 * 2
Debug -7 / 2
Debug -7 % 2
Debug ~5
Debug 5 ! 3
q.q = -8 : Debug (q >> 1) / -1)",
     "14\n17\n4\n-3\n-1\n-6\n6\n4\n", "", Phase::Ok},
    {"division by zero", k612, "a = 0\nDebug 5 / a", "", "2: Division by zero", Phase::Runtime},
    {"constant division by zero", k612, "Debug 5 / 0", "", "1: Division by zero", Phase::Compile},
    {"shift count beyond the width", k612, "a.l = 1 : n.l = 32\nDebug a << n", "", "2: pbrun does not support shifting",
     Phase::Runtime},
    {"a float stored in an integer", k612, "a.l = 3.0 : Debug a\nb.l = 2.5", "3\n",
     "2: pbrun does not support storing 2.5", Phase::Runtime},
    {"doubles", k612, "d.d = 1.5 : d * 3 : Debug StrD(d, 2) : f.f = 0.1 : Debug StrD(f, 9)", "4.50\n0.100000001\n", "",
     Phase::Ok},
    {"comparison outside a condition needs Bool()", "5.10-windows-x86-unicode 6.12-windows-x64-unicode",
     "a = 3\nb = (a = 3)", "", "2: a comparison outside a condition needs Bool()", Phase::Compile},
    {"Bool() from 5.10", "5.10-windows-x86-unicode", "a = 3 : Debug Bool(a = 3 And a > 1) + Bool(a <> 3)", "1\n", "",
     Phase::Ok},
    {"no Bool() before 5.10", "5.00-windows-x86-unicode", "a = 3\nDebug Bool(a = 3)", "",
     "2: Bool() is not a function here", Phase::Compile},
    {".i came with 4.30", "4.20-windows-x86-ascii", "Define a.l\nDefine b.i", "",
     "2: the type .i exists from PureBasic 4.30", Phase::Compile},
    {".a and .u came with 4.40", "4.30-windows-x86-ascii", "Define a.a", "",
     "1: the type .a exists from PureBasic 4.40", Phase::Compile},

    // ---- strings ----
    {"string functions", k612, R"(
s$ = "Hexaloom, PureBasic"
Debug Str(Len(s$)) + " " + Mid(s$, 4, 5) + " " + Left(s$, 3) + " " + Right(s$, 5)
Debug UCase("éa") + LCase("ÉB") + Trim("  x  ") + "|" + Space(2) + "|"
Debug StringField("a,b,,c", 3, ",") + "." + StringField("a,b", 5, ",") + "." + StringField("a::b", 2, "::")
Debug Str(CountString("a,b,c", ",")) + " " + ReplaceString("aXbXc", "X", "--")
Debug Hex(255) + " " + Hex(-1) + " " + StrU(-1) + " " + Str(Val("$7f") + Val("%101") + Val("-12x"))
Debug Chr(65) + Str(Asc("A")) + GetExtensionPart("a\b.c\x.tar.gz") + GetFilePart("a\b.c\x.tar") + GetPathPart("a/b/c"))",
     "19 aloom Hex Basic\nÉAébx|  |\n..b\n2 a--b--c\nFF FFFFFFFFFFFFFFFF 18446744073709551615 120\nA65gzx.tara/b/\n",
     "", Phase::Ok},
    {"StringByteLength per format (the manual's example)", "6.12-linux-x64-unicode 5.40-windows-x86-ascii", R"(
Debug StringByteLength("ab") / SizeOf(Character)
Debug StringByteLength("ab", #PB_Unicode) + StringByteLength("ab", #PB_Ascii)
CompilerIf #PB_Compiler_Unicode
  Debug StringByteLength("ä", #PB_UTF8)
CompilerElse
  Debug StringByteLength(Chr($E4), #PB_UTF8)
CompilerEndIf)",
     "2\n6\n2\n", "", Phase::Ok},
    {"Hex of a long before 4.30", "4.20-windows-x86-ascii", "Debug Hex(-1)", "FFFFFFFF\n", "", Phase::Ok},
    {"the optional parameters the manual documents", k612, R"(
Debug Trim("!!Hello!!", "!") + Hex(-1, #PB_Byte) + Hex(-1, #PB_Word) + StrU(-1, #PB_Long)
Debug ReplaceString("Hello again, hello again", "HELLO", "oh no...", #PB_String_NoCase, 10)
Debug ReplaceString("aaaa", "a", "b", #PB_String_CaseSensitive, 2, 2)
Debug StrD(10.54) + " " + StrD(0.1))",
     "HelloFFFFFF4294967295\nHello again, oh no... again\nabba\n10.54 0.1\n", "", Phase::Ok},
    {"a documented parameter pbrun does not implement", k612, "f = CreateFile(0, \"a\", 0)", "",
     "1: pbrun does not know CreateFile() with 3 parameters", Phase::Compile},
    {"Trim's character came with 4.40", "4.30-windows-x86-ascii", "Debug Trim(\"!a!\", \"!\")", "",
     "1: Incorrect number of parameters: Trim() takes 1, not 2 (2 from PureBasic 4.40)", Phase::Compile},
    {"Mid's length is optional from 4.20", "4.10-windows-x86-ascii", "Debug Mid(\"abc\", 2)", "",
     "1: Incorrect number of parameters: Mid() takes 3, not 2 (2 from PureBasic 4.20)", Phase::Compile},
    {"Mid without length, Trim without blanks", "4.40-windows-x86-ascii",
     "Debug Mid(\"abc\", 2) + Trim(\"!a!\", \"!\")", "bca\n", "", Phase::Ok},
    {"OpenScreen's flip mode came with 4.40", "4.30-windows-x86-ascii",
     "InitSprite()\nOpenScreen(640, 480, 32, \"\", 0)", "", "2: OpenScreen() takes 4, not 5 (5 from PureBasic 4.40)",
     Phase::Compile},
    {"StrD without decimals from 5.10", "5.00-windows-x86-ascii", "Debug StrD(1.5)", "",
     "1: pbrun does not know what StrD() without NbDecimal gives before 5.10", Phase::Runtime},
    {"StrD without decimals of a whole number", "5.10-windows-x86-ascii", "Debug StrD(2.5)\nDebug StrD(1.0)", "2.5\n",
     "2: pbrun does not know whether StrD(1) keeps its point", Phase::Runtime},
    {"Hex's Type before 5.73 is used with a warning", "5.40-windows-x86-ascii", "Debug Hex(-1, #PB_Byte)", "FF\n",
     "warning: Hex()'s Type parameter before 5.73", Phase::Ok},
    {"#PB_Long and the other type constants came with 4.30", "4.20-windows-x86-ascii", "x = #PB_Long", "",
     "1: Constant not found: #PB_Long (it came with PureBasic 4.30)", Phase::Compile},
    {"Val of hexadecimal text before 4.20", "4.10-windows-x86-ascii", "Debug Val(\"$10\")", "",
     "1: pbrun does not support Val() of hexadecimal", Phase::Runtime},
    {"StringField's long delimiter before 5.10", "5.00-windows-x86-unicode", "Debug StringField(\"a::b\", 2, \"::\")",
     "", "1: pbrun does not support StringField() with a delimiter of several", Phase::Runtime},
    {"CountString with overlapping matches", k612, "Debug CountString(\"aaa\", \"aa\")", "",
     "1: pbrun does not support CountString() where matches overlap", Phase::Runtime},
    {"a number added to a string", k612, "s$ = \"a\" + 1", "", "1: pbrun does not support adding a number to a string",
     Phase::Compile},
    {"non-ASCII text in ASCII mode", "5.40-windows-x86-ascii", "s$ = \"é\"", "",
     "1: pbrun does not support non-ASCII text in ASCII mode", Phase::Compile},
    {"ASCII mode holds bytes", "5.40-windows-x86-ascii 4.40-linux-x86-ascii", R"(
s$ = Chr(252) + "a" : *m = AllocateMemory(4) : PokeS(*m, s$, -1, #PB_Ascii)
Debug Str(Asc(s$)) + " " + Str(Len(s$)) + " " + Str(PeekA(*m)) + " " + Str(Asc(PeekS(*m, 1, #PB_Ascii)))
FreeMemory(*m))",
     "252 2 252 252\n", "", Phase::Ok},
    {"UTF-8 in ASCII mode through Windows' code page", "5.40-windows-x86-ascii", R"(
*m = AllocateMemory(8) : PokeB(*m, $C3) : PokeB(*m + 1, $BC)
s$ = PeekS(*m, -1, #PB_UTF8) : Debug Str(Asc(s$)) + " " + Str(Asc(UCase(s$))) + " " + s$
PokeS(*m, LCase(Chr(220)), -1, #PB_UTF8) : Debug Hex(PeekU(*m))
PokeB(*m, $E6) : PokeB(*m + 1, $97) : PokeB(*m + 2, $A5)
Debug PeekS(*m, -1, #PB_UTF8))",
     "252 220 ü\nBCC3\n", "5: pbrun does not support PeekS() with the character U+65e5: code page 1252 has none",
     Phase::Runtime},
    {"no code page settled elsewhere", "4.40-linux-x86-ascii",
     "*m = AllocateMemory(8) : PokeB(*m, $C3) : PokeB(*m + 1, $BC)\ns$ = PeekS(*m, -1, #PB_UTF8)", "",
     "2: pbrun does not support PeekS() with characters beyond ASCII in ASCII conversions on Linux", Phase::Runtime},
    {"#PB_Ascii in Unicode mode on Windows", "6.12-windows-x64-unicode",
     "*m = AllocateMemory(4) : PokeA(*m, $80)\nDebug Hex(Asc(PeekS(*m, 1, #PB_Ascii))) : FreeMemory(*m)", "20AC\n", "",
     Phase::Ok},
    {"#PB_Ascii in Unicode mode elsewhere", "6.12-macos-arm64-unicode",
     "*m = AllocateMemory(4) : PokeA(*m, $80)\nDebug Hex(Asc(PeekS(*m, 1, #PB_Ascii)))", "",
     "2: pbrun does not support PeekS() with characters beyond ASCII in ASCII conversions on macOS", Phase::Runtime},
    {"Select rounds a float down (the manual)", k612, R"(
f.f = 2.7
Select f
  Case 2 : Debug "two"
  Default : Debug "other"
EndSelect
d.d = -0.5
Select d
  Case -1 : Debug "minus one"
EndSelect)",
     "two\nminus one\n", "", Phase::Ok},
    {"a float Select and a Case that is not whole", k612, "f.f = 2\nSelect f\n  Case 2.5 : Debug 1\nEndSelect", "",
     "3: pbrun does not know how Select compares a float", Phase::Compile},
    {"Chr of a surrogate is empty (the manual since 6.03)", "6.03-linux-x64-unicode",
     "Debug Len(Chr($D800)) + Len(Chr($DFFF)) + Len(Chr($D7FF)) + Len(Chr($E000))", "2\n", "", Phase::Ok},
    {"Chr of a surrogate before 6.03", "6.02-windows-x64-unicode 5.40-windows-x86-unicode", "Debug Chr($DC00)", "",
     "1: pbrun does not know what Chr(56320) gives", Phase::Runtime},
    {"Select on strings and ranges", k612, R"(
For i = 1 To 4
  Select i
    Case 1, 3 : Debug "odd"
    Case 2 To 2 : Debug "two"
    Default : Debug "other"
  EndSelect
Next
Select "ico" : Case "bmp", "ico" : Debug "picture" : EndSelect)",
     "odd\ntwo\nodd\nother\npicture\n", "", Phase::Ok},

    // ---- memory: blocks, bounds, freed blocks, leaks ----
    {"Peek and Poke of every width", "6.12-linux-x64-unicode", R"(
*m = AllocateMemory(32)
PokeQ(*m, -2) : Debug Str(PeekB(*m)) + " " + Str(PeekA(*m)) + " " + Str(PeekW(*m)) + " " + Str(PeekU(*m))
PokeL(*m + 8, $80000000) : Debug Str(PeekL(*m + 8)) + " " + Str(PeekI(*m + 8)) + " " + Str(PeekQ(*m))
PokeC(*m, 66) : PokeB(*m + 1, 0) : Debug Chr(PeekC(*m)) + Str(PeekC(*m))
PokeA(*m, 200) : PokeW(*m, -1) : PokeU(*m + 2, 7) : PokeI(*m + 16, 5) : Debug Str(PeekU(*m)) + Str(PeekI(*m + 16))
PokeF(*m, 1.5) : PokeD(*m + 8, 2.25) : Debug StrD(PeekF(*m), 1) + StrD(PeekD(*m + 8), 2)
FillMemory(*m, 4, $41) : CopyMemory(*m, *m + 4, 4) : Debug Str(CompareMemory(*m, *m, 4)) + PeekS(*m, 4, #PB_Ascii) + Str(MemorySize(*m))
MoveMemory(*m, *m + 1, 3) : Debug PeekS(*m, 4, #PB_Ascii)
FreeMemory(*m))",
     "-2 254 -2 65534\n-2147483648 2147483648 -2\nB66\n655355\n1.52.25\n1AAAA32\nAAAA\n", "", Phase::Ok},
    {"PeekS and PokeS in every format", k612, R"(
*m = AllocateMemory(64)
Debug Str(PokeS(*m, "Grüße", -1, #PB_UTF8)) + " " + PeekS(*m, -1, #PB_UTF8) + " " + PeekS(*m, 3, #PB_UTF8)
Debug PeekS(*m, 4, #PB_UTF8 | #PB_ByteLength) + " " + Str(MemoryStringLength(*m, #PB_UTF8))
PokeS(*m, "ab") : Debug PeekS(*m) + Str(PeekW(*m + 4))
PokeS(*m, "xyz", -1, #PB_Ascii) : Debug PeekS(*m, 2, #PB_Ascii)
FreeMemory(*m))",
     "7 Grüße Grü\nGrü 5\nab0\nxy\n", "", Phase::Ok},
    {"a byte length that cuts a character", k612,
     "*m = AllocateMemory(8) : PokeS(*m, \"ü\", -1, #PB_UTF8)\nDebug PeekS(*m, 1, #PB_UTF8 | #PB_ByteLength)", "",
     "2: pbrun does not support PeekS() of invalid or cut UTF-8", Phase::Runtime},
    {"#PB_ByteLength came with 5.40", "5.31-windows-x64-unicode",
     "*m = AllocateMemory(4)\nDebug PeekS(*m, 1, #PB_UTF8 | #PB_ByteLength)", "",
     "2: Constant not found: #PB_ByteLength", Phase::Compile},
    {"reading past a block", k612, "*m = AllocateMemory(10)\nDebug PeekL(*m + 7)", "",
     "2: invalid memory access: reads 4 bytes at offset 7 of the memory block of 10 bytes allocated at main.pb:1",
     Phase::Runtime},
    {"just past a block is in no block", k612, "*m = AllocateMemory(4) : PokeB(*m, 1)\nPokeB(*m + 4, 1)", "",
     "2: which is in no block", Phase::Runtime},
    {"PeekS without a zero runs off the block", k612,
     "*m = AllocateMemory(4)\nFillMemory(*m, 4, 65)\nDebug PeekS(*m, -1, #PB_Ascii)", "",
     "3: PeekS() reads past the end of the block", Phase::Runtime},
    {"freeing twice", k612, "*m = AllocateMemory(8)\nFreeMemory(*m)\nFreeMemory(*m)", "",
     "3: FreeMemory(): the memory block of 8 bytes allocated at main.pb:1, freed at main.pb:2 was already freed",
     Phase::Runtime},
    {"use after free", k612, "*m = AllocateMemory(8)\nFreeMemory(*m)\nPokeB(*m, 1)", "",
     "3: invalid memory access: writes 1 bytes at offset 0 of a freed", Phase::Runtime},
    {"freeing inside a block", k612, "*m = AllocateMemory(8)\nFreeMemory(*m + 1)", "",
     "2: FreeMemory(): ", Phase::Runtime},
    {"CopyMemory that overlaps", k612, "*m = AllocateMemory(8)\nCopyMemory(*m, *m + 2, 4)", "",
     "2: CopyMemory(): the source and destination overlap", Phase::Runtime},
    {"a leak on a path that forgets to free", k612,
     "Procedure Get()\n  *m = AllocateMemory(16)\n  ProcedureReturn 0\nEndProcedure\nGet()", "", "leak: 2",
     Phase::Leak},
    {"memory left at the end is freed by PureBasic: a warning", k612, "*m = AllocateMemory(16)\nDebug 1", "1\n",
     "warning: main.pb:1: warning: memory block of 16 bytes allocated here was not freed", Phase::Ok},
    {"#PB_Memory_NoClear from 5.10", "5.10-windows-x86-unicode",
     "*m = AllocateMemory(4, #PB_Memory_NoClear) : PokeB(*m, 1)\n*m = ReAllocateMemory(*m, 8, #PB_Memory_NoClear)\n"
     "Debug PeekB(*m) : FreeMemory(*m)",
     "1\n", "", Phase::Ok},
    {"AllocateMemory takes no flags before 5.10", "5.00-windows-x86-unicode", "*m = AllocateMemory(4, 1)", "",
     "1: Incorrect number of parameters: AllocateMemory() takes 1, not 2", Phase::Compile},
    {"a pointer squeezed through a long on x64", k612, "p.l = AllocateMemory(16)\nPokeB(p, 1)", "",
     "2: invalid memory access: writes 1 bytes at", Phase::Runtime},
    {"the same on x86 is fine", "6.12-windows-x86-unicode",
     "p.l = AllocateMemory(16)\nPokeB(p, 1) : Debug PeekB(p) : FreeMemory(p)", "1\n", "", Phase::Ok},
    {"a pointer to a local kept past its procedure", k612, R"(
Procedure.i Address()
  Protected x.l = 5
  ProcedureReturn @x
EndProcedure
*p = Address()
Debug PeekL(*p))",
     "", "6: invalid memory access: reads 4 bytes at offset 0 of a freed variable x", Phase::Runtime},
    {"the data section is read-only", k612, "DataSection : D: : Data.l 1 : EndDataSection\nPokeL(?D, 2)", "",
     "2: write to the read-only data section", Phase::Runtime},
    {"ReAllocateMemory keeps the bytes", k612,
     "*m = AllocateMemory(2) : PokeB(*m + 1, 9)\n*n = ReAllocateMemory(*m, 8)\nDebug PeekB(*n + 1) : FreeMemory(*n)",
     "9\n", "", Phase::Ok},
    {"AllocateMemory(0)", k612, "*m = AllocateMemory(0)", "", "1: pbrun does not support AllocateMemory(0)",
     Phase::Runtime},

    // ---- data: Data, Restore, Read, labels ----
    {"Data, Restore and Read", k612, R"(
Restore Second
Read.b b : Read.w w : Read.q q : Read.s s$
Debug Str(b) + " " + Str(w) + " " + Str(q) + " " + s$
Restore First : Read.l l : Debug l
Debug PeekB(?Second)
DataSection
  First: : Data.l -5
  Second: : Data.b $FF : Data.w 300 : Data.q 1 : Data.s "text"
EndDataSection)",
     "-1 300 1 text\n-5\n-1\n", "", Phase::Ok},
    {"Read past the end of the data", k612,
     "DataSection : D: : Data.w 1 : EndDataSection\nRestore D : Read.b a : Read.w a", "",
     "2: Read.w past the end of the DataSection", Phase::Runtime},
    {"Read takes a type from 4.30", "4.30-windows-x86-ascii", "DataSection : D: : Data.l 1 : EndDataSection\nRead a",
     "", "2: pbrun does not support Read without a type from PureBasic 4.30", Phase::Compile},
    {"Read reads the variable's type before 4.30", "4.20-windows-x86-ascii",
     "DataSection : D: : Data.w 3, 4 : EndDataSection\nDefine a.w\nRead a : Read a : Debug a", "4\n", "", Phase::Ok},
    {"a typed Read before 4.30", "4.20-windows-x86-ascii", "DataSection : D: : Data.w 3 : EndDataSection\nRead.w a", "",
     "2: Read takes a type from PureBasic 4.30", Phase::Compile},
    {"a label nobody defines", k612, "Restore Nowhere", "", "1: Label not found: Nowhere", Phase::Compile},

    // ---- compiler directives by version, system and processor ----
    {"CompilerElseIf is refused before 5.10", "5.00-windows-x86-unicode",
     "CompilerIf #PB_Compiler_OS = #PB_OS_Linux\n  Debug 1\nCompilerElseIf #PB_Compiler_OS = "
     "#PB_OS_Windows\nCompilerEndIf",
     "", "3: CompilerElseIf exists from PureBasic 5.10", Phase::Compile},
    {"CompilerElseIf from 5.10", "5.10-windows-x86-unicode",
     "CompilerIf #PB_Compiler_OS = #PB_OS_Linux\n  Debug 1\nCompilerElseIf #PB_Compiler_OS = #PB_OS_Windows\n  Debug "
     "2\nCompilerEndIf",
     "2\n", "", Phase::Ok},
    {"CompilerIf by version, system and processor", "4.40-linux-x64-unicode", R"(
CompilerIf #PB_Compiler_Version < 500 And #PB_Compiler_Processor = #PB_Processor_x64
  Debug "old x64"
CompilerElse
  Debug "new"
CompilerEndIf
CompilerIf #False
  this line is no PureBasic at all
  NewList x()
CompilerEndIf)",
     "old x64\n", "", Phase::Ok},
    {"CompilerSelect on macOS", "6.12-macos-arm64-unicode", kSelectBySystem, "mac 1\nM1\n", "", Phase::Ok},
    {"CompilerSelect on Linux", "6.12-linux-x64-unicode", kSelectBySystem, "pc 1\n", "", Phase::Ok},
    {"a constant of a later version", "5.11-linux-x64-ascii", kSelectBySystem, "",
     "5: Constant not found: #PB_Processor_arm64 (it came with PureBasic 6.00)", Phase::Compile},
    {"versions PureBasic never released", "4.07-windows-x86-ascii 5.99-linux-x64-unicode 6.13-windows-x64-unicode", "",
     "", "had no version", Phase::Compile},
    {"... refused with the list of the releases", "4.03-windows-x86-ascii", "", "",
     "pbrun runs 4.00, 4.01, 4.02, 4.10, 4.20, 4.30, 4.31, 4.40", Phase::Compile},
    {"macOS x86 after 6.00 removed it", "6.00-macos-x86-unicode", "", "",
     "6.00 removed the x86 version for macOS; 6.00 for macOS is x64 and arm64", Phase::Compile},
    {"compiler constants", "6.00-windows-x86-unicode",
     "Procedure.s P()\n  ProcedureReturn #PB_Compiler_Procedure\nEndProcedure\nDebug Str(#PB_Compiler_32Bit) + "
     "#PB_Compiler_Filename + Str(#PB_Compiler_Line) + P()",
     "1main.pb4P\n", "", Phase::Ok},
    {"#PB_Compiler_64Bit came with 6.00", "5.73-linux-x64-unicode", "Debug #PB_Compiler_64Bit", "",
     "1: Constant not found: #PB_Compiler_64Bit (it came with PureBasic 6.00)", Phase::Compile},
    {"a string comparison in CompilerIf came with 5.10", "5.00-windows-x86-ascii",
     "CompilerIf 1\nCompilerEndIf\nCompilerIf \"a\" = \"a\" : CompilerEndIf", "",
     "3: A string comparison in a compiler directive exists from PureBasic 5.10 on", Phase::Compile},
    {"string comparison in CompilerIf from 5.10", "5.10-windows-x86-ascii",
     "CompilerIf \"a\" < \"b\" : Debug 1 : CompilerEndIf", "1\n", "", Phase::Ok},
    {"CompilerError", k612, "CompilerIf #PB_Compiler_Unicode\n  CompilerError \"ASCII only\"\nCompilerEndIf", "",
     "2: ASCII only", Phase::Compile},
    {"Defined()", k612, R"(
#A = 1
Structure S : x.l : EndStructure
Procedure P() : EndProcedure
v = 1
Dim arr(2)
Debug Str(Defined(A, #PB_Constant)) + Str(Defined(S, #PB_Structure)) + Str(Defined(P, #PB_Procedure))
Debug Str(Defined(v, #PB_Variable)) + Str(Defined(arr, #PB_Array)) + Str(Defined(B, #PB_Constant)))",
     "111\n110\n", "", Phase::Ok},

    // ---- built-ins and keywords by version ----
    {"CRC32Fingerprint until 5.31", "5.31-windows-x86-unicode",
     "*m = AllocateMemory(4) : PokeS(*m, \"abc\", -1, #PB_Ascii)\nDebug Hex(CRC32Fingerprint(*m, 3) & $FFFFFFFF) : "
     "FreeMemory(*m)",
     "352441C2\n", "", Phase::Ok},
    {"CRC32Fingerprint was removed in 5.40", "5.40-windows-x86-unicode",
     "*m = AllocateMemory(3)\nx = CRC32Fingerprint(*m, 3)", "",
     "2: CRC32Fingerprint() is not a function, array, list, map or macro (PureBasic 5.40 removed it)", Phase::Compile},
    {"Fingerprint from 5.40", "5.40-windows-x86-unicode", R"(
UseCRC32Fingerprint()
*m = AllocateMemory(4) : PokeS(*m, "abc", -1, #PB_Ascii)
Debug Fingerprint(*m, 3, #PB_Cipher_CRC32) + " " + StringFingerprint("abc", #PB_Cipher_CRC32)
c.l = Val("$" + Fingerprint(*m, 3, #PB_Cipher_CRC32)) : Debug c : FreeMemory(*m))",
     "352441c2 352441c2\n891568578\n", "", Phase::Ok},
    {"UseCRC32Fingerprint before 5.40", "5.31-windows-x86-unicode", "UseCRC32Fingerprint()", "",
     "1: UseCRC32Fingerprint() is not a function, array, list, map or macro (it came with PureBasic 5.40)",
     Phase::Compile},
    {"the JCALG1 plugin is Windows x86 only", "6.12-linux-x64-unicode", "UseJcalg1Packer()", "",
     "1: UseJcalg1Packer() is not a function, array, list, map or macro (it exists only on Windows x86)",
     Phase::Compile},
    {"UnpackMemory in 5.10 and 5.11", "5.10-windows-x86-unicode", "x = UnpackMemory(0, 0)", "",
     "1: pbrun does not support UnpackMemory() on PureBasic 5.10", Phase::Compile},
    {"UnpackMemory and the JCALG1 plugin read one stream", "4.40-windows-x86-ascii 5.20-windows-x86-ascii", R"(
*d = AllocateMemory(36)
CompilerIf #PB_Compiler_Version < 510
  Debug UnpackMemory(?S, *d)
CompilerElse
  UseJcalg1Packer()
  Debug UncompressMemory(?S, ?E - ?S, *d, 36, #PB_PackerPlugin_Jcalg1)
CompilerEndIf
Debug PeekS(*d, 36, #PB_Ascii)
FreeMemory(*d)
DataSection
  S: : Data.b $4A,$43,$24,$00,$00,$00,$4A,$9B,$54,$73,$62,$64,$10,$20,$80,$CF,$12,$E6,$0B,$C4,$67,$60,$00,$00,$80,$C0
  E:
EndDataSection)",
     "36\nhello hello hello hello hello hello!\n", "", Phase::Ok},
    {"a damaged JCALG1 stream gives nothing", "4.40-windows-x86-ascii 5.20-windows-x86-ascii", R"(
*d = AllocateMemory(36)
CompilerIf #PB_Compiler_Version < 510
  Debug UnpackMemory(?S, *d)
CompilerElse
  UseJcalg1Packer()
  Debug UncompressMemory(?S, ?E - ?S, *d, 36, #PB_PackerPlugin_Jcalg1) + 1
CompilerEndIf
FreeMemory(*d)
DataSection
  S: : Data.b $4A,$43,$24,$00,$00,$00,$4A,$9B,$54,$73,$62,$64,$10,$20,$80,$CF,$12,$E6,$0B,$C4,$67,$61,$00,$00,$80,$C0
  E:
EndDataSection)",
     "0\n", "", Phase::Ok},
    {"CatchModule from 4.30 to 5.11, CatchMusic after", "4.20-windows-x86-ascii", "x = CatchModule(0, 0, 0)", "",
     "1: CatchModule() is not a function, array, list, map or macro (it came with PureBasic 4.30)", Phase::Compile},
    {"Array names an array (the manual's Shared example)", k612, R"(
Dim Array(2)
Procedure Change()
  Shared Array()
  Array(0) = 1
EndProcedure
Change()
Debug Array(0))",
     "1\n", "", Phase::Ok},
    {"the Array parameter keyword came with 4.30", "4.20-windows-x86-ascii", "Procedure P(Array a.l(1))\nEndProcedure",
     "", "1: Syntax error: the Array keyword before a parameter exists from PureBasic 4.30", Phase::Compile},
    {"Array parameters are refused from 4.30", "4.30-windows-x86-ascii", "Procedure P(x, List l.l())\nEndProcedure", "",
     "1: pbrun does not support List parameters", Phase::Compile},
    {"And and Or in CompilerIf came with 4.30", "4.20-linux-x86-ascii",
     "CompilerIf #True\nCompilerEndIf\nCompilerIf "
     "#PB_Compiler_OS = #PB_OS_Linux Or #False\nCompilerEndIf",
     "", "3: And and Or in a compiler directive exist from PureBasic 4.30", Phase::Compile},
    {"a function pbrun does not know", k612, "Debug 1\nx = SortArray(1)", "",
     "2: pbrun does not know SortArray(): it is not declared", Phase::Compile},
    {"a constant pbrun does not know", k612, "x = #PB_Nothing", "", "1: pbrun does not know the constant #PB_Nothing",
     Phase::Compile},
    {"a constant of the program's, declared too late", k612, "x = #Later\n#Later = 1", "",
     "1: Constant not found: #Later", Phase::Compile},
    {"a structure pbrun does not know", k612, "Define p.POINT", "", "1: pbrun does not know the structure POINT",
     Phase::Compile},
    {"#PB_Procedure before 5.73 is used with a warning", "5.40-windows-x86-unicode",
     "Procedure P() : EndProcedure\nDebug Defined(P, #PB_Procedure)", "1\n",
     "warning: main.pb:2: warning: pbrun cannot confirm #PB_Procedure on PureBasic 5.40", Phase::Ok},
    {"Module is a keyword from 5.20", "5.20-windows-x86-ascii", "Procedure P(Module)\nEndProcedure", "",
     "1: Module is a keyword from PureBasic 5.20 on", Phase::Compile},
    {"Module is a name before 5.20", "5.11-windows-x86-ascii",
     "Procedure P(Module)\n  ProcedureReturn Module * 2\nEndProcedure\nDebug P(4)", "8\n", "", Phase::Ok},

    // ---- declarations and procedures ----
    {"a procedure used before it is declared", k612,
     "Debug Twice(2)\nProcedure Twice(x) : ProcedureReturn 2 * x : EndProcedure", "",
     "1: Twice() is not a function, array, list, map or macro.", Phase::Compile},
    {"Declare, defaults, recursion, Static", k612, R"(
Declare.q Fact(n, start = 1)
Procedure Count()
  Static calls.l = 10
  calls + 1
  ProcedureReturn calls
EndProcedure
Procedure.q Fact(n, start = 1)
  If n <= 1 : ProcedureReturn start : EndIf
  ProcedureReturn n * Fact(n - 1, start)
EndProcedure
Count() : Debug Str(Count()) + " " + Str(Fact(20)) + " " + Str(Fact(3, 2)))",
     "12 2432902008176640000 12\n", "", Phase::Ok},
    {"too many parameters", k612, "Procedure P(a, b = 1) : EndProcedure\nP(1, 2, 3)", "",
     "2: Incorrect number of parameters: P() takes 1 to 2, not 3", Phase::Compile},
    {"a typed name alone declares it (the manual's Variables page)", k612,
     "a.b\nc.l = a * d.w + 70000\nProcedureFound = 2\nDebug c + ProcedureFound", "70002\n", "", Phase::Ok},
    {"EnableExplicit", k612, "EnableExplicit\nDefine a\na = 1\nb = 2", "", "4: Variable not declared: b",
     Phase::Compile},
    {"a procedure ending without a value, used for one, on the assembler back end",
     "6.12-windows-x64-unicode 5.40-linux-x86-ascii", R"(
Procedure P(a)
  If a : ProcedureReturn 1 : EndIf
EndProcedure
P(0) : Debug P(1)
x = P(0))",
     "1\n", "5: pbrun does not know what P() returns", Phase::Runtime},
    {"... and on the C back end: zero (the manual)", "6.12-linux-arm64-unicode", R"(
Procedure P(a)
  If a : ProcedureReturn 1 : EndIf
EndProcedure
Procedure Q()
  ProcedureReturn
EndProcedure
Debug P(1) : Debug P(0) : Debug Q())",
     "1\n0\n0\n", "", Phase::Ok},
    {"a Declare whose default differs", k612, "Declare P(a = 1)\nProcedure P(a = 2)\nEndProcedure", "",
     "2: The procedure P() does not match its Declare", Phase::Compile},
    {"Global.type came with 4.40", "4.30-windows-x86-ascii", "Global.l a, b", "",
     "1: Syntax error: a type after Global exists from PureBasic 4.40 on", Phase::Compile},
    {"Global, Protected and Shared", k612, R"(
Global g = 1
m = 5
Procedure P()
  Protected g = 7
  Shared m
  m + g
EndProcedure
Procedure Q() : g + 1 : EndProcedure
P() : Q() : Debug Str(g) + " " + Str(m))",
     "2 12\n", "", Phase::Ok},
    {"a constant declared twice", k612, "#A = 1\n#A = 1\n#A = 2", "", "3: Constant already declared: #A",
     Phase::Compile},
    {"an enumeration that repeats a name", k612,
     "Enumeration 5 Step 3\n  #X\n  #Y\nEndEnumeration\nDebug #Y\nEnumeration\n  #X\nEndEnumeration", "",
     "7: Constant already declared: #X", Phase::Compile},
    {"Enumeration start and step", k612,
     "Enumeration 5 Step 3\n  #X\n  #Y\n  #Z = 20\n  #W\nEndEnumeration\nDebug Str(#Y) + Str(#W)", "823\n", "",
     Phase::Ok},
    {"loops: Break, Continue, Repeat, While, ForEver", k612, R"(
For i = 1 To 3
  For j = 1 To 3
    If j = 2 : Continue : EndIf
    If i = 2 : Break 2 : EndIf
    Debug Str(i) + Str(j)
  Next
Next
n = 0
Repeat : n + 1 : Until n >= 3
While n > 0 : n - 2 : Wend
Repeat : n + 1 : If n = 5 : Break : EndIf : ForEver
For k = 10 To 1 Step -4 : Debug k : Next
Debug n)",
     "11\n13\n10\n6\n2\n5\n", "", Phase::Ok},
    {"Enumeration rounds floats to the nearest integer", k612,
     "Enumeration 1.6 Step 2\n  #A\n  #B\n  #C = 7.7\nEndEnumeration\nDebug #A + #B * 10 + #C * 100", "842\n", "",
     Phase::Ok},
    {"... but not by a step that is not whole", k612, "Enumeration 0 Step 0.6\nEndEnumeration", "",
     "1: pbrun does not know how an Enumeration steps by 0.6", Phase::Compile},
    {"Next names another variable than its For", k612, "For i = 1 To 2\nNext j", "",
     "2: Next names j, not the For's variable i", Phase::Compile},
    {"Break 0", k612, "For i = 1 To 2 : Break 0 : Next", "", "1: Break level 0 is not between 1 and 1", Phase::Compile},
    {"a For whose end moves", k612, "n = 3\nFor i = 1 To n\n  n + 1\nNext", "",
     "2: pbrun does not support a For loop whose end value changes", Phase::Runtime},
    {"an endless loop is stopped", k612, "Repeat\nForEver", "", "stopped as endless", Phase::Runtime},
    {"endless recursion is stopped", k612, "Procedure P() : P() : EndProcedure\nP()", "", "nested deeper than",
     Phase::Runtime},
    {"exactly the nesting limit runs, one more call fails", k612,
     "Procedure P(n) : If n > 1 : P(n - 1) : EndIf : EndProcedure\nP(200) : Debug 1\nP(201)", "1\n",
     "1: procedure calls nested deeper than 200", Phase::Runtime},
    {"End ends everything", k612, "Procedure P() : End 3 : EndProcedure\nDebug 1 : P() : Debug 2", "1\n", "",
     Phase::Ok},
    {"structures and pointers", "6.12-linux-x64-unicode 4.40-windows-x86-ascii", R"(
Structure Inner : a.w : b.b[3] : EndStructure
Structure Outer : q.q : in.Inner : *next.Outer : EndStructure
Define o.Outer
o\q = 1 : o\in\a = 2 : o\in\b[2] = 3
*p.Outer = @o
*p\next = @o
Debug Str(*p\next\in\b[2]) + " " + Str(SizeOf(Outer) - SizeOf(Integer)) + " " + Str(OffsetOf(Outer\in))
Dim arr.Inner(2) : arr(1)\a = 9 : Debug arr(1)\a + arr(0)\a
Debug PeekW(@o + OffsetOf(Outer\in)))",
     "3 13 8\n9\n2\n", "", Phase::Ok},
    {"Dim in a procedure sizes the Global array; Protected Dim makes a local one", k612, R"(
Global Dim a.l(0)
Procedure Grow()
  Dim a.l(3) : a(3) = 7
EndProcedure
Procedure Own()
  Protected Dim a.l(5) : a(5) = 1
EndProcedure
Grow() : Own() : Debug a(3))",
     "7\n", "", Phase::Ok},
    {"Dim again empties the array", k612, "Dim a.l(3) : a(1) = 5 : Dim a.l(3) : Debug a(1)", "0\n", "", Phase::Ok},
    {"an array index out of bounds", k612, "Dim a.l(3)\na(4) = 1", "", "2: Array index out of bounds: a(4)",
     Phase::Runtime},
    {"a negative array index", k612, "Dim a.l(3)\nx = -1 : a(x) = 1", "", "2: Array index out of bounds: a(-1)",
     Phase::Runtime},
    {"a negative array size", k612, "x = -2\nDim a.l(x)", "", "2: an array cannot have fewer than 0 elements",
     Phase::Runtime},
    {"ReDim before its Dim ran", k612, "If #False : Dim a.l(2) : EndIf\nReDim a.l(3)", "",
     "2: ReDim of a(), which was never dimensioned", Phase::Runtime},

    // ---- libraries: zlib through ImportC, files, media, Windows ----
    {"zlib's uncompress with the uLong of the target", "6.12-linux-x64-unicode 4.40-windows-x86-ascii", R"(
CompilerIf #PB_Compiler_OS = #PB_OS_Windows
  ImportC "zlib.lib" : uncompress.l(*d, *dl.LONG, *s, sl.l) : EndImport
  Define length.l = 16
CompilerElse
  ImportC "-lz" : uncompress.l(*d, *dl.INTEGER, *s, sl.i) : EndImport
  Define length.i = 16
CompilerEndIf
*d = AllocateMemory(16)
Debug uncompress(*d, @length, ?Z, 13)
Debug PeekS(*d, length, #PB_Ascii) + Str(length) : FreeMemory(*d)
DataSection : Z: : )" HELLO_ZLIB R"( : EndDataSection)",
     "0\nhello5\n", "", Phase::Ok},
    {"a uLong out-parameter declared as a long on 64-bit Linux", "6.12-linux-x64-unicode", R"(
ImportC "-lz" : uncompress.l(*d, *dl.LONG, *s, sl.i) : EndImport
Define length.l = 16
*d = AllocateMemory(16)
uncompress(*d, @length, ?Z, 13)
DataSection : Z: : )" HELLO_ZLIB R"( : EndDataSection)",
     "", "4: invalid memory access: reads 8 bytes at offset 0 of the variable length of 4 bytes", Phase::Runtime},
    {"a uLong parameter declared as a long on 64-bit Linux", "6.12-linux-x64-unicode",
     "ImportC \"-lz\"\n  uncompress.l(*d, *dl, *s, sl.l)\nEndImport", "",
     "2: uncompress(): sl is 4 bytes here, but C's unsigned long is 8 bytes", Phase::Compile},
    {"zlib with the stdcall Import on x86", "6.12-windows-x86-unicode",
     "Import \"zlib.lib\"\n  uncompress.l(*d, *dl, *s, sl.l)\nEndImport", "",
     "2: uncompress() uses the C calling convention", Phase::Compile},
    {"a library nobody vouches for", "6.12-linux-x64-unicode",
     "ImportC \"/opt/zlib.a\"\n  uncompress.l(*d, *dl, *s, sl)\nEndImport", "",
     "1: pbrun does not know the library \"/opt/zlib.a\" on Linux", Phase::Compile},
    {"files in the work folder", k612, R"(
*m = AllocateMemory(6) : PokeS(*m, "hello", 5, #PB_Ascii)
f = CreateFile(#PB_Any, "out.txt") : Debug WriteData(f, *m, 5) : CloseFile(f)
Debug FileSize("out.txt") : Debug FileSize("missing.txt")
If ReadFile(1, "out.txt") : Debug Lof(1) : FillMemory(*m, 5) : ReadData(1, *m, 5) : CloseFile(1) : EndIf
If OpenFile(2, "out.txt") : CloseFile(2) : EndIf
Debug PeekS(*m, 5, #PB_Ascii) + Str(DeleteFile("out.txt")) + Str(FileSize("out.txt")) : FreeMemory(*m))",
     "5\n5\n-1\n5\nhello1-1\n", "", Phase::Ok},
    {"a file outside the work folder", k612, "f = CreateFile(#PB_Any, \"../escape.txt\")", "",
     "1: pbrun keeps files inside its work folder", Phase::Runtime},
    {"a sibling folder whose name begins with the work folder's", k612, "f = CreateFile(#PB_Any, \"../w2/evil.txt\")",
     "", "1: pbrun keeps files inside its work folder", Phase::Runtime},
    {"FileSize of a file open for writing sees what was written", k612, R"(
*m = AllocateMemory(5) : f = CreateFile(#PB_Any, "o.txt") : WriteData(f, *m, 5)
Debug FileSize("o.txt") : CloseFile(f) : FreeMemory(*m))",
     "5\n", "", Phase::Ok},
    {"Catch functions check their formats", k612, R"(
InitSound() : InitSprite() : UsePNGImageDecoder() : UseJPEGImageDecoder()
OpenWindow(0, 0, 0, 10, 10, "x") : OpenScreen(10, 10, 32, "x") : OpenWindowedScreen(WindowID(0), 0, 0, 10, 10)
Debug Bool(CatchImage(#PB_Any, ?Bmp, ?BmpEnd - ?Bmp) <> 0) + Bool(CatchSprite(1, ?Bmp) <> 0)
Debug Bool(CatchImage(2, ?Wav, ?WavEnd - ?Wav) <> 0) + Bool(CatchSound(#PB_Any, ?Wav) <> 0) + Bool(CatchMusic(0, ?Wav, 4) <> 0)
DataSection
  Bmp: : Data.b 'B','M',58,0,0,0,0,0,0,0,54,0,0,0,40,0,0,0 : Data.l 1,1 : Data.w 1,24 : Data.l 0,4,0,0,0,0,0 : BmpEnd:
  Wav: : Data.b 'R','I','F','F',36,0,0,0,'W','A','V','E','f','m','t',' ',16,0,0,0 : Data.w 1,1 : Data.l 8000,8000 : Data.w 1,8
  Data.b 'd','a','t','a',0,0,0,0 : WavEnd:
EndDataSection
CloseConsole() : OpenConsole() : Print("-") : PrintN(Input() + "|") : Debug StrD(0, 0))",
     "2\n1\n-|\n0\n", "", Phase::Ok},
    {"CatchSound without InitSound", k612, "x = CatchSound(0, ?D, 4)\nDataSection : D: : Data.l 0 : EndDataSection", "",
     "1: CatchSound(): InitSound() must be called first", Phase::Runtime},
    {"InitModule is used with a warning", "4.40-windows-x86-ascii", "Debug InitModule()", "1\n",
     "warning: that CatchModule() needs it first", Phase::Ok},
    {"CatchModule needs InitModule", "4.40-windows-x86-ascii",
     "x = CatchModule(0, ?D, 4)\nDataSection : D: : Data.l 0 : EndDataSection", "",
     "1: CatchModule(): InitModule() must be called first", Phase::Runtime},
    {"the Windows resource functions without resources", "6.12-windows-x64-unicode", R"(
h = GetModuleHandle_(0)
Debug Bool(h <> 0) + FindResource_(h, "#1", "VORKEL") + FindResource_(0, 1, 10)
r = LoadResource_(h, 12345))",
     "1\n", "3: LoadResource_(): 12345 is not a resource handle", Phase::Runtime},
    {"SizeofResource_ and LockResource_ need a resource", "6.12-windows-x64-unicode",
     "x = SizeofResource_(0, 7)\ny = LockResource_(0)", "", "1: SizeofResource_(): 7 is not a resource handle",
     Phase::Runtime},
    {"no Windows API elsewhere", "6.12-linux-x64-unicode", "h = GetModuleHandle_(0)", "",
     "1: GetModuleHandle_() is not a function, array, list, map or macro (it exists only on Windows)", Phase::Compile},
    {"packer plugins pbrun does not read", k612,
     "UseZipPacker()\nx = UncompressMemory(0, 1, 0, 1)\nUseLZMAPacker()\nUseBriefLZPacker()", "",
     "2: pbrun does not support UncompressMemory() with plugin 1", Phase::Runtime},

    // ---- the parser and what pbrun refuses ----
    {"line continuation after +, |, a comma and And (the manual's general rules)", "5.10-windows-x86-ascii", R"(
Text$ = "Very long" + "-" +
        "text"
Debug Len(Text$ +
  "!") : x = 1 |
  2
If x = 3 And
   x > 1 : Debug Left(Text$,
   4) : EndIf)",
     "15\nVery\n", "", Phase::Ok},
    {"line continuation came with 5.10", "5.00-windows-x86-ascii", "Debug 1\nDebug 1 +\n  2", "",
     "3: Syntax error: a line continued from the one before needs PureBasic 5.10", Phase::Compile},
    {"an unclosed block names its opener", k612, "If 1\n  Debug 1\n", "", "EndIf expected (If at line 1)",
     Phase::Compile},
    {"a module's name (the manual's general rules)", k612, "Debug 1\nDebug CarModule::NbCars", "",
     "2: pbrun does not support modules (::)", Phase::Compile},
    {"Macro is refused where it is compiled", k612, "Macro M(x) : x : EndMacro", "", "1: pbrun does not support Macro",
     Phase::Compile},
    {"a CompilerIf around Case lines", k612, "Select 1\n  Case 1\nCompilerIf #True\n  Case 2\nCompilerEndIf\nEndSelect",
     "", "4: pbrun does not support a compiler directive that cuts across a block", Phase::Compile},
    {"what pbrun leaves to PureBasic", k612, "Structure S\n  Name$\nEndStructure", "",
     "2: pbrun does not support string fields", Phase::Compile},
    {"a syntax error in a taken branch", k612, "CompilerIf #True\n  a = = 1\nCompilerEndIf", "", "2: Syntax error",
     Phase::Compile},
};

} // namespace

class InterpreterTest : public QObject
{
    Q_OBJECT

private slots:
    void runsThePrograms_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kRows)); ++i) {
            for (const QString& target : QString::fromLatin1(kRows[i].targets).split(u' '))
                QTest::addRow("%s, %s", kRows[i].name, qPrintable(target)) << target << i;
        }
    }
    void runsThePrograms()
    {
        QFETCH(QString, target);
        QFETCH(int, row);
        const Row& r = kRows[row];
        QTemporaryDir dir;
        QString source = QString::fromUtf8(r.source);
        if (source.startsWith(u'\n'))
            source.remove(0, 1);
        const QString main = dir.filePath(QStringLiteral("main.pb"));
        QVERIFY(hexaloom::WriteBytes(main, "\xEF\xBB\xBF" + source.toUtf8()));
        SourceCache cache;
        RunOptions options;
        // the work folder has a sibling whose name begins with its own
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("w")) && QDir(dir.path()).mkpath(QStringLiteral("w2")));
        options.workDir = dir.filePath(QStringLiteral("w"));
        options.stepLimit = 1'000'000;
        options.depthLimit = 200;
        const QString want = QString::fromUtf8(r.diagnostic);
        const bool warning = want.startsWith(QLatin1String("warning: "));
        options.strictMemory = !warning;
        QString refusal;
        const std::optional<Target> t = Target::Parse(target, &refusal);
        if (!t) { // a target PureBasic never had: the row names the refusal
            QVERIFY2(r.phase == Phase::Compile && !want.isEmpty() && refusal.contains(want), qPrintable(refusal));
            return;
        }
        const RunResult result = Run(cache, main, *t, options);
        const QString all = (result.diagnostics + result.leaks).join(u'\n');
        QVERIFY2(result.phase == r.phase, qPrintable(QStringLiteral("phase %1: %2").arg(int(result.phase)).arg(all)));
        if (r.phase == Phase::Ok || r.phase == Phase::Leak || *r.output)
            QCOMPARE(result.output, QString::fromUtf8(r.output));
        if (want.isEmpty() && r.phase == Phase::Ok) // a fact pbrun confirms is used without a warning
            QVERIFY2(result.warnings.isEmpty(), qPrintable(result.warnings.join(u'\n')));
        if (warning) {
            QVERIFY2(result.warnings.join(u'\n').contains(want.mid(9)), qPrintable(result.warnings.join(u'\n')));
        } else if (r.phase == Phase::Leak) {
            QVERIFY2(
                result.leaks.value(0).contains(QStringLiteral("allocated at main.pb:%1").arg(want.section(u' ', 1))),
                qPrintable(all));
        } else if (!want.isEmpty()) {
            // "line: text" is "main.pb:line: error: ...text..."; a text alone may stand anywhere in it
            const qsizetype colon = want.indexOf(QLatin1String(": "));
            bool numbered = false;
            const int line = want.left(colon).toInt(&numbered);
            const QString first = result.diagnostics.value(0);
            if (numbered) {
                QVERIFY2(first.startsWith(QStringLiteral("main.pb:%1: error: ").arg(line)), qPrintable(all));
                QVERIFY2(first.contains(want.mid(colon + 2)), qPrintable(all));
            } else {
                QVERIFY2(first.contains(want), qPrintable(all));
            }
        }
    }

    // The version table: sorted by name, each name's rows in disjoint version ranges, and every built-in
    // called by some program above.
    void versionTableIsSound()
    {
        QString sources;
        for (const Row& r : kRows)
            sources += QString::fromUtf8(r.source) + u'\n';
        const auto builtins = BuiltinTable();
        for (std::size_t i = 0; i < builtins.size(); ++i) {
            const BuiltinInfo& b = builtins[i];
            QVERIFY2(b.removedIn == 0 || b.since < b.removedIn, b.name);
            if (i > 0) {
                const BuiltinInfo& p = builtins[i - 1];
                const int order = QString::fromLatin1(p.name).compare(QLatin1String(b.name), Qt::CaseInsensitive);
                QVERIFY2(order < 0 || (order == 0 && p.removedIn != 0 && p.removedIn <= b.since), b.name);
            }
            const QRegularExpression call(
                QStringLiteral("\\b%1\\(").arg(QRegularExpression::escape(QLatin1String(b.name))),
                QRegularExpression::CaseInsensitiveOption);
            QVERIFY2(sources.contains(call),
                     qPrintable(QStringLiteral("no program calls %1()").arg(QLatin1String(b.name))));
        }
        const auto constants = ConstantTable();
        for (std::size_t i = 1; i < constants.size(); ++i) {
            const ConstantInfo& p = constants[i - 1];
            const ConstantInfo& c = constants[i];
            const int order = QString::fromLatin1(p.name).compare(QLatin1String(c.name), Qt::CaseInsensitive);
            QVERIFY2(order < 0 || (order == 0 && p.removedIn != 0 && p.removedIn <= c.since), c.name);
        }
        const auto keywords = KeywordTable();
        for (std::size_t i = 1; i < keywords.size(); ++i)
            QVERIFY2(QString::fromLatin1(keywords[i - 1].word)
                             .compare(QLatin1String(keywords[i].word), Qt::CaseInsensitive) < 0,
                     keywords[i].word);
    }
};

QTEST_GUILESS_MAIN(InterpreterTest)
#include "InterpreterTest.moc"
