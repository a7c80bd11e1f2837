#pragma once
// What each PureBasic version offers, as data: the built-in functions and constants pbrun knows with the
// version each came in and the version that removed it, and the keywords and syntax that came later than
// 4.00. Only the checker reads these tables; a name outside its range is the compiler's unknown-name error.
// Sources: PureBasic's history.txt, the reference pages and library documentation of its repository, the
// constants of its Residents/Common.pb. A fact those do not settle carries a note saying so.
#include "Target.h"
#include "Types.h"

#include <QString>

#include <cstdint>
#include <span>
#include <vector>

namespace hexaloom::pbrun {

struct Runtime;
using BuiltinFn = Value (*)(Runtime&, std::vector<Value>&);

// Operating system and processor masks; 0 means every one.
enum : std::uint8_t { OnWindows = 1, OnLinux = 2, OnMacOS = 4 };
enum : std::uint8_t { OnX86 = 1, OnX64 = 2, OnArm64 = 4 };

struct BuiltinInfo
{
    const char* name;
    // One letter per parameter, the optional ones after "|": i integer, l integer taken as a long,
    // s string, d double, x string or integer (Windows API names). The documented parameters pbrun does
    // not implement follow a "*"; a "?" marks where those whose version the sources do not settle begin
    // (the row's note, reported only when such a parameter is given); a leading "=" says the note concerns
    // the result (reported only where it is used).
    const char* params;
    Type result;
    int since;     // first version with it
    int removedIn; // first version without it; 0 while it exists
    std::uint8_t os;
    std::uint8_t cpu;
    // Null, or "refuse: <why>" (pbrun refuses the call in this version range), or "unconfirmed: <what>".
    const char* note;
    BuiltinFn handler;
};

struct ConstantInfo
{
    const char* name; // without "#"
    std::int64_t value;
    int since;
    int removedIn;
    std::uint8_t os;
    const char* note;
};

struct KeywordInfo
{
    const char* word;
    int since;
};

// Language changes after 4.00 that the checker tests.
namespace Since {
constexpr int IntegerType = 430;          // 4.30: ".i" native type; StrQ(), HexQ(), ValQ() removed
constexpr int TypedRead = 430;            // 4.30: 'Read' requires a type (Read.l, Read.q)
constexpr int CompilerIfLogic = 430;      // 4.30: "Support for 'And/Or' in CompilerIf statements"
constexpr int ArrayListParameters = 430;  // 4.30: "Array and list parameter now requires the 'List' or 'Array' keyword"
constexpr int MapParameters = 440;        // 4.40: maps, and the 'Map' parameter keyword with them
constexpr int AsciiUnicodeTypes = 440;    // 4.40: '.a' and '.u'
constexpr int CompilerElseIf = 510;       // 5.10: CompilerElseIf
constexpr int BoolFunction = 510;         // 5.10: Bool(); boolean operations forbidden without it
constexpr int MultiCharStringField = 510; // 5.10: multicharacter delimiters in StringField()
constexpr int FillMemoryTypes = 510;      // 5.10: #PB_Character, #PB_Unicode, #PB_Ascii, #PB_Integer for FillMemory()
constexpr int RelativeIncludes = 530;     // 5.30: (X)IncludeFile and IncludeBinary relative to the file holding them
constexpr int HexVal = 420;               // 4.20: hexadecimal and binary support for Val()
constexpr int EnumerationBinary = 540;    // 5.40: EnumerationBinary
constexpr int FloatWav = 612;
constexpr int StrDTrimsZeros = 510;       // 5.10: "StrF/D(), trailing zeros are now automatically removed ..."
constexpr int ChrInvalidEmpty = 603;      // String.txt of September 2023: Chr() of a surrogate is ""
constexpr int LineContinuation = 510;     // 5.10: "Line continuation feature, with the following operands: ..."
constexpr int CompilerIfStrings = 510;    // 5.10: "Constant string comparisons are now handled at compile time"
constexpr int TypedGlobal = 440;          // 4.40: "Global, Protected, Threaded, Shared and Static now accept a type"
constexpr int CBackend = 600;             // 6.00: "a new C backend compiler"             // 6.12: "Added: 32-bit float WAV support for ... CatchSound()"
} // namespace Since

// The compiler's own constants (#PB_Compiler_*): their values come from the target and the source,
// their versions from here.
struct CompilerConstantInfo
{
    const char* name; // without "#"
    int since;
    const char* note;
    int confirmedFrom; // the note holds only before this version; 0: for every version
};

// The Type values of Defined() (Residents/Common.pb); which versions know them is the constants table's.
namespace DefinedType {
constexpr int Structure = 7, List = 14, Array = 15, Map = 22, Constant = 50, Variable = 51, Interface = 52,
              Procedure = 53, Function = 54, OSFunction = 55, Label = 56, Prototype = 57, Module = 58, Enumeration = 59;
} // namespace DefinedType

// A C function a program may import, with the C types of its result and parameters: 'i' a C int,
// 'p' a pointer, 'u' a C unsigned long (4 bytes on Windows, as wide as a pointer elsewhere).
struct ImportedFunctionInfo
{
    const char* name;
    const char* library;          // as PureBasic's own IDE names it on Windows
    const char* libraryElsewhere; // ... and on Linux and macOS
    char result;
    const char* params;
    bool cCall; // the C calling convention: ImportC on x86
    BuiltinFn handler;
};

// The one-field structures named after the native types (Residents/Common.pb), with the version of
// their type.
struct PredefinedStructureInfo
{
    const char* name;
    const char* field;
    Type type;
    int since;
};

std::span<const PredefinedStructureInfo> PredefinedStructureTable();
std::span<const BuiltinInfo> BuiltinTable();
std::span<const CompilerConstantInfo> CompilerConstantTable();
const CompilerConstantInfo* FindCompilerConstant(const QString& name);
std::span<const ImportedFunctionInfo> ImportedFunctionTable();
// The C function `name` (any case) pbrun can link, or null.
const ImportedFunctionInfo* FindImportedFunction(const QString& name);
std::span<const ConstantInfo> ConstantTable();
std::span<const KeywordInfo> KeywordTable();

// The row of `name` (any case) that applies to the target, or null. When there is none, `why` says
// whether the name is unknown (empty), or which versions or systems have it. A row whose note begins
// with "unconfirmed: " is a fact the sources do not settle: the checker reports its use as a warning.
const BuiltinInfo* FindBuiltin(const QString& name, const Target& target, QString* why = nullptr);
const ConstantInfo* FindConstant(const QString& name, const Target& target, QString* why = nullptr);
// The version from which `word` is a keyword, or 0 when it is none on that target.
int KeywordSince(const QString& word, const Target& target);

QString VersionText(int version); // 540 -> "5.40"

// A built-in's parameter letters read: how many are required, how many pbrun implements, how many the
// documentation lists, and the first whose version is unconfirmed (-1: none).
struct ParamCounts
{
    QString letters; // the implemented ones
    int required = 0;
    int implemented = 0;
    int documented = 0;
    int unconfirmedFrom = -1;
    bool unconfirmedResult = false;
};
ParamCounts CountParams(const char* params);
// The first version from which some row of built-in `name` takes `count` arguments, or 0.
int VersionTakingArgs(const QString& name, int count);

} // namespace hexaloom::pbrun
