#include "VersionTable.h"

#include "Builtins.h"

#include <algorithm>
#include <type_traits>

namespace hexaloom::pbrun {

namespace {

constexpr int Now = 0;
constexpr std::uint8_t AnyOs = 0;
constexpr std::uint8_t AnyCpu = 0;

#define B(name, params, result, since, removed, os, cpu, note)                                                         \
    BuiltinInfo                                                                                                        \
    {                                                                                                                  \
#name, params, Type::result, since, removed, os, cpu, note, &Bi_##name                                         \
    }

// Sorted by name without case; a name may have several rows with disjoint version ranges.
// Functions PureBasic had before 4.00 carry 400, the oldest version pbrun runs.
const BuiltinInfo kBuiltins[] = {
    // 5.10: "#PB_Memory_NoClear support to Re/AllocateMemory()".
    B(AllocateMemory, "i", I, 400, 510, AnyOs, AnyCpu, nullptr),
    B(AllocateMemory, "i|i", I, 510, Now, AnyOs, AnyCpu, nullptr),
    B(Asc, "s", I, 400, Now, AnyOs, AnyCpu, nullptr),
    // CatchImage's Flags (#PB_Image_DisplayFormat) was deprecated in 4.40 (history: "value set to 24");
    // the documentation of later versions has no Flags parameter.
    B(CatchImage, "ii|ii", I, 400, 440, AnyOs, AnyCpu, nullptr),
    B(CatchImage, "ii|i", I, 440, Now, AnyOs, AnyCpu, nullptr),
    // 4.30: "Added: CatchModule()"; 5.20: "renamed the whole 'Module' library to 'Music'".
    B(CatchModule, "iii", I, 430, 520, AnyOs, AnyCpu, nullptr),
    B(CatchMusic, "iii", I, 520, Now, AnyOs, AnyCpu, nullptr),
    B(CatchSound, "ii|ii", I, 400, Now, AnyOs, AnyCpu, nullptr),
    B(CatchSprite, "ii|i", I, 400, Now, AnyOs, AnyCpu, nullptr),
    B(Chr, "i", S, 400, Now, AnyOs, AnyCpu, nullptr),
    B(CloseConsole, "", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(CloseFile, "i", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(CompareMemory, "iii", I, 400, Now, AnyOs, AnyCpu, nullptr),
    B(CopyMemory, "iii", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(CountString, "ss", I, 400, Now, AnyOs, AnyCpu, nullptr),
    // 3.20 added it; the 5.40 migration guide replaces it by UseCRC32Fingerprint() and Fingerprint().
    B(CRC32Fingerprint, "ii", L, 400, 540, AnyOs, AnyCpu, nullptr),
    // 5.10: "#PB_File_SharedRead ..., #PB_File_SharedWrite ..., #PB_File_Append and #PB_File_NoBuffering file
    // flags" (pbrun knows none of them).
    B(CreateFile, "is", I, 400, 510, AnyOs, AnyCpu, nullptr),
    B(CreateFile, "is|*i", I, 510, Now, AnyOs, AnyCpu, nullptr),
    // 5.20: "#PB_FileSystem_Force support to DeleteFile()".
    B(DeleteFile, "s", I, 400, 520, AnyOs, AnyCpu, nullptr),
    B(DeleteFile, "s|*i", I, 520, Now, AnyOs, AnyCpu, nullptr),
    B(FileSize, "s", Q, 400, Now, AnyOs, AnyCpu, nullptr),
    // 4.40: "Added: FillMemory()"; 5.10 added its Type values beyond bytes.
    B(FillMemory, "ii|ii", None, 440, Now, AnyOs, AnyCpu, nullptr),
    B(FindResource_, "ixx", I, 400, Now, OnWindows, AnyCpu, nullptr),
    // 5.40 brought it with SHA2 and SHA3, whose Bits it takes; 6.10: "#PB_Cipher_HMAC flag to fingerprint
    // functions" (HmacKey$, HmacKeyFormat).
    B(Fingerprint, "iii|*i", S, 540, 610, AnyOs, AnyCpu, nullptr),
    B(Fingerprint, "iii|*isi", S, 610, Now, AnyOs, AnyCpu, nullptr),
    B(FreeMemory, "i", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(GetExtensionPart, "s", S, 400, Now, AnyOs, AnyCpu, nullptr),
    // 5.20: "#PB_FileSystem_NoExtension support to GetFilePart()".
    B(GetFilePart, "s", S, 400, 520, AnyOs, AnyCpu, nullptr),
    B(GetFilePart, "s|*i", S, 520, Now, AnyOs, AnyCpu, nullptr),
    B(GetModuleHandle_, "i", I, 400, Now, OnWindows, AnyCpu, nullptr),
    B(GetPathPart, "s", S, 400, Now, AnyOs, AnyCpu, nullptr),
    // 4.30 removed StrQ(), HexQ(), BinQ(), ValQ(): from then on these take and give quads. Hex()'s Type is in
    // the documentation of 5.73, the first in PureBasic's repository; no history line dates it.
    B(Hex, "l|?i", S, 400, 430, AnyOs, AnyCpu, "unconfirmed: Hex()'s Type parameter before 5.73"),
    B(Hex, "i|?i", S, 430, 573, AnyOs, AnyCpu, "unconfirmed: Hex()'s Type parameter before 5.73"),
    B(Hex, "i|i", S, 573, Now, AnyOs, AnyCpu, nullptr),
    // InitModule() belonged to the Module library, which became Music (InitSound()) in 5.20.
    B(InitModule, "", I, 400, 520, AnyOs, AnyCpu, "unconfirmed: that CatchModule() needs it first"),
    // 6.10: "NbMaxChannels parameter for InitSound()".
    B(InitSound, "", I, 400, 610, AnyOs, AnyCpu, nullptr),
    B(InitSound, "|i", I, 610, Now, AnyOs, AnyCpu, nullptr),
    B(InitSprite, "", I, 400, Now, AnyOs, AnyCpu, nullptr),
    B(Input, "", S, 400, Now, AnyOs, AnyCpu, nullptr),
    B(LCase, "s", S, 400, Now, AnyOs, AnyCpu, nullptr),
    B(Left, "si", S, 400, Now, AnyOs, AnyCpu, nullptr),
    B(Len, "s", I, 400, Now, AnyOs, AnyCpu, nullptr),
    B(LoadResource_, "ii", I, 400, Now, OnWindows, AnyCpu, nullptr),
    B(LockResource_, "i", I, 400, Now, OnWindows, AnyCpu, nullptr),
    B(Lof, "i", Q, 400, Now, AnyOs, AnyCpu, nullptr),
    B(MemorySize, "i", I, 400, Now, AnyOs, AnyCpu, nullptr),
    B(MemoryStringLength, "i|i", I, 400, Now, AnyOs, AnyCpu, nullptr),
    // 4.20: "Mid() has now the Len() parameter optional".
    B(Mid, "sii", S, 400, 420, AnyOs, AnyCpu, nullptr),
    B(Mid, "si|i", S, 420, Now, AnyOs, AnyCpu, nullptr),
    B(MoveMemory, "iii", None, 400, Now, AnyOs, AnyCpu, nullptr),
    // 5.10: "Optional title parameter to OpenConsole()"; 5.70: "an optional 'Mode' parameter for OpenConsole()".
    B(OpenConsole, "", I, 400, 510, AnyOs, AnyCpu, nullptr),
    B(OpenConsole, "|s", I, 510, 570, AnyOs, AnyCpu, nullptr),
    B(OpenConsole, "|s*i", I, 570, Now, AnyOs, AnyCpu, nullptr),
    B(OpenFile, "is", I, 400, 510, AnyOs, AnyCpu, nullptr),
    B(OpenFile, "is|*i", I, 510, Now, AnyOs, AnyCpu, nullptr),
    // 4.40: "OpenScreen() now accepts FlipMode and RefreshRate".
    B(OpenScreen, "iiis", I, 400, 440, AnyOs, AnyCpu, nullptr),
    B(OpenScreen, "iiis|ii", I, 440, Now, AnyOs, AnyCpu, nullptr),
    // 3.00: "'ParentID' optional parameter to OpenWindow()".
    B(OpenWindow, "iiiiis|ii", I, 400, Now, AnyOs, AnyCpu, nullptr),
    // 5.10: "made OpenWindowedScreen() stretch parameters optional"; its FlipMode is in the documentation of
    // 5.73, the first in PureBasic's repository, and no history line dates it.
    B(OpenWindowedScreen, "iiiiiiii|?i", I, 400, 510, AnyOs, AnyCpu,
      "unconfirmed: OpenWindowedScreen()'s FlipMode before 5.73"),
    B(OpenWindowedScreen, "iiiii|iii?i", I, 510, 573, AnyOs, AnyCpu,
      "unconfirmed: OpenWindowedScreen()'s FlipMode before 5.73"),
    B(OpenWindowedScreen, "iiiii|iiii", I, 573, Now, AnyOs, AnyCpu, nullptr),
    B(PeekA, "i", A, 440, Now, AnyOs, AnyCpu, nullptr),
    B(PeekB, "i", B, 400, Now, AnyOs, AnyCpu, nullptr),
    B(PeekC, "i", C, 400, Now, AnyOs, AnyCpu, nullptr),
    B(PeekD, "i", D, 400, Now, AnyOs, AnyCpu, nullptr),
    B(PeekF, "i", F, 400, Now, AnyOs, AnyCpu, nullptr),
    // 4.30: "Added: PeekI(), PokeI()".
    B(PeekI, "i", I, 430, Now, AnyOs, AnyCpu, nullptr),
    B(PeekL, "i", L, 400, Now, AnyOs, AnyCpu, nullptr),
    B(PeekQ, "i", Q, 400, Now, AnyOs, AnyCpu, nullptr),
    B(PeekS, "i|ii", S, 400, Now, AnyOs, AnyCpu, nullptr),
    B(PeekU, "i", U, 440, Now, AnyOs, AnyCpu, nullptr),
    B(PeekW, "i", W, 400, Now, AnyOs, AnyCpu, nullptr),
    B(PokeA, "ii", None, 440, Now, AnyOs, AnyCpu, nullptr),
    B(PokeB, "ii", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(PokeC, "ii", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(PokeD, "id", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(PokeF, "id", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(PokeI, "ii", None, 430, Now, AnyOs, AnyCpu, nullptr),
    B(PokeL, "ii", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(PokeQ, "ii", None, 400, Now, AnyOs, AnyCpu, nullptr),
    // Its result is in the documentation of 5.73, the first in PureBasic's repository; no history line dates it.
    B(PokeS, "=is|ii", I, 400, 573, AnyOs, AnyCpu, "unconfirmed: that PokeS() returns the bytes written before 5.73"),
    B(PokeS, "is|ii", I, 573, Now, AnyOs, AnyCpu, nullptr),
    B(PokeU, "ii", None, 440, Now, AnyOs, AnyCpu, nullptr),
    B(PokeW, "ii", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(Print, "s", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(PrintN, "s", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(ReadData, "iii", I, 400, Now, AnyOs, AnyCpu, nullptr),
    B(ReadFile, "is", I, 400, 510, AnyOs, AnyCpu, nullptr),
    B(ReadFile, "is|*i", I, 510, Now, AnyOs, AnyCpu, nullptr),
    B(ReAllocateMemory, "ii", I, 400, 510, AnyOs, AnyCpu, nullptr),
    B(ReAllocateMemory, "ii|i", I, 510, Now, AnyOs, AnyCpu, nullptr),
    // 3.40: "ReplaceString now have a new 'StartFrom' optional parameter" (after Mode); 5.10: "NbOccurrences
    // parameter for ReplaceString()".
    B(ReplaceString, "sss|ii", S, 400, 510, AnyOs, AnyCpu, nullptr),
    B(ReplaceString, "sss|iii", S, 510, Now, AnyOs, AnyCpu, nullptr),
    B(Right, "si", S, 400, Now, AnyOs, AnyCpu, nullptr),
    B(SizeofResource_, "ii", I, 400, Now, OnWindows, AnyCpu, nullptr),
    B(Space, "i", S, 400, Now, AnyOs, AnyCpu, nullptr),
    B(Str, "l", S, 400, 430, AnyOs, AnyCpu, nullptr),
    B(Str, "i", S, 430, Now, AnyOs, AnyCpu, nullptr),
    B(StrD, "d|i", S, 400, Now, AnyOs, AnyCpu, nullptr),
    B(StringByteLength, "s|i", I, 400, Now, AnyOs, AnyCpu, nullptr), // changes.txt: "added" from 3.94 to 4.00
    B(StringField, "sis", S, 400, Now, AnyOs, AnyCpu, nullptr),
    // 5.40: "Added: StringFingerprint()".
    B(StringFingerprint, "si|*ii", S, 540, 610, AnyOs, AnyCpu, nullptr),
    B(StringFingerprint, "si|*iisi", S, 610, Now, AnyOs, AnyCpu, nullptr),
    B(StrU, "i|i", S, 400, Now, AnyOs, AnyCpu, nullptr),
    // 4.40: "Trim/LTrim/RTrim() got an optional character to trim".
    B(Trim, "s", S, 400, 440, AnyOs, AnyCpu, nullptr),
    B(Trim, "s|s", S, 440, Now, AnyOs, AnyCpu, nullptr),
    B(UCase, "s", S, 400, Now, AnyOs, AnyCpu, nullptr),
    B(UncompressMemory, "iiii|i", I, 510, Now, AnyOs, AnyCpu, nullptr),
    // 3.x to 4.x: unpacks PureBasic's JCALG1 streams. 5.10 reworked the Packer library and dropped
    // JCALG1 from it (plugin only, through UncompressMemory); 5.20: "Removed: UnPackMemory()".
    B(UnpackMemory, "ii", I, 400, 510, AnyOs, AnyCpu, nullptr),
    B(UnpackMemory, "ii", I, 510, 520, AnyOs, AnyCpu,
      "refuse: 5.10 dropped JCALG1 from UnpackMemory(), and what it unpacks until its removal in 5.20 is not "
      "documented"),
    B(UseBriefLZPacker, "", None, 510, Now, AnyOs, AnyCpu, nullptr),
    // 5.40: "the Cipher lib to be modular (now UseMD5Fingerprint() and such commands needs to be used)".
    B(UseCRC32Fingerprint, "", None, 540, Now, AnyOs, AnyCpu, nullptr),
    // The manual: "This packer is only available on Windows x86 (32-bit)."
    B(UseJcalg1Packer, "", None, 510, Now, OnWindows, OnX86, nullptr),
    B(UseJPEGImageDecoder, "", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(UseLZMAPacker, "", None, 510, Now, AnyOs, AnyCpu, nullptr),
    B(UsePNGImageDecoder, "", None, 400, Now, AnyOs, AnyCpu, nullptr),
    B(UseZipPacker, "", None, 510, Now, AnyOs, AnyCpu, nullptr),
    // Val() returned a long until 4.30 removed ValQ(); hexadecimal and binary forms came with 4.20.
    B(Val, "s", L, 400, 430, AnyOs, AnyCpu, nullptr),
    B(Val, "s", Q, 430, Now, AnyOs, AnyCpu, nullptr),
    B(WindowID, "i", I, 400, Now, AnyOs, AnyCpu, nullptr),
    B(WriteData, "iii", I, 400, Now, AnyOs, AnyCpu, nullptr),
};
#undef B

// Values from PureBasic's Residents/Common.pb (today's); pbrun uses them for every version, as the
// generated code only compares against the names.
const ConstantInfo kConstants[] = {
    {"False", 0, 400, Now, AnyOs, nullptr},
    {"Null", 0, 400, Now, AnyOs, nullptr},
    {"PB_Any", -1, 400, Now, AnyOs, nullptr},
    {"PB_Array", 15, 400, Now, AnyOs, nullptr},
    {"PB_Ascii", 24, 400, Now, AnyOs, nullptr},
    // The type constants: 4.30 "#Long, #Byte, #Word etc. to #PB_Long, #PB_Byte, #PB_Word etc. for consistency".
    {"PB_Byte", 1, 430, Now, AnyOs, nullptr},
    // 5.40: "Added: #PB_ByteLength flag for PeekS() and #PB_UTF8 (only)".
    {"PB_ByteLength", 64, 540, Now, AnyOs, nullptr},
    {"PB_Character", 11, 430, Now, AnyOs, nullptr},
    {"PB_Cipher_CRC32", 2, 540, Now, AnyOs, nullptr},
    {"PB_Cipher_MD5", 1, 540, Now, AnyOs, nullptr},
    {"PB_Cipher_SHA1", 3, 540, Now, AnyOs, nullptr},
    // 4.00: "Defined(Name, Type) compiler function. Type can be #PB_Constant, #PB_Variable, #PB_Array,
    // #PB_LinkedList, #PB_Structure, #PB_Interface"; 4.40 added #PB_Function, #PB_OSFunction, #PB_Map,
    // 5.10 #PB_Label, 5.20 #PB_Prototype and #PB_Module, 5.30 #PB_Enumeration.
    {"PB_Compiler_Console", 2, 510, Now, AnyOs, nullptr},
    {"PB_Compiler_DLL", 1, 510, Now, AnyOs, nullptr},
    {"PB_Compiler_Executable", 0, 510, Now, AnyOs, nullptr},
    {"PB_Constant", 50, 400, Now, AnyOs, nullptr},
    {"PB_Double", 12, 430, Now, AnyOs, nullptr},
    {"PB_Enumeration", 59, 530, Now, AnyOs, nullptr},
    {"PB_Float", 9, 430, Now, AnyOs, nullptr},
    {"PB_Function", 54, 440, Now, AnyOs, nullptr},
    {"PB_Image_DisplayFormat", 24, 400, Now, AnyOs, nullptr},
    {"PB_Integer", 21, 430, Now, AnyOs, nullptr},
    {"PB_Interface", 52, 400, Now, AnyOs, nullptr},
    {"PB_Label", 56, 510, Now, AnyOs, nullptr},
    {"PB_Long", 5, 430, Now, AnyOs, nullptr},
    {"PB_Map", 22, 440, Now, AnyOs, nullptr},
    {"PB_Memory_NoClear", 1, 510, Now, AnyOs, nullptr},
    {"PB_Module", 58, 520, Now, AnyOs, nullptr},
    {"PB_OS_Linux", 2, 400, Now, AnyOs, nullptr},
    {"PB_OS_MacOS", 4, 400, Now, AnyOs, nullptr},
    {"PB_OS_Windows", 1, 400, Now, AnyOs, nullptr},
    {"PB_OSFunction", 55, 440, Now, AnyOs, nullptr},
    // 5.20: "the plugin constants were renamed #PB_PackerPlugin_*".
    {"PB_PackerPlugin_BriefLZ", 4, 520, Now, AnyOs, nullptr},
    {"PB_PackerPlugin_Jcalg1", 5, 520, Now, AnyOs, nullptr},
    {"PB_PackerPlugin_Lzma", 2, 520, Now, AnyOs, nullptr},
    {"PB_PackerPlugin_Zip", 1, 520, Now, AnyOs, nullptr},
    // Not among the types of 4.00's Defined(), nor in any later "Added" line; numbered between 4.00's
    // #PB_Interface and 4.40's #PB_Function. The documentation of 5.73 (the first in PureBasic's repository)
    // lists it: from there on it is confirmed, before its first version is unknown.
    {"PB_Procedure", 53, 400, 573, AnyOs, "unconfirmed: that Defined() knows #PB_Procedure before 5.73"},
    {"PB_Procedure", 53, 573, Now, AnyOs, nullptr},
    {"PB_Processor_arm64", 6, 600, Now, AnyOs, nullptr},
    {"PB_Processor_x64", 4, 400, Now, AnyOs, nullptr},
    {"PB_Processor_x86", 2, 400, Now, AnyOs, nullptr},
    {"PB_Prototype", 57, 520, Now, AnyOs, nullptr},
    {"PB_Quad", 13, 430, Now, AnyOs, nullptr},
    {"PB_String", 8, 430, Now, AnyOs, nullptr},
    // ReplaceString()'s Mode (3.40); 5.10 gave FindString() "#PB_String_NoCase mode parameter": the names
    // are those of 5.73's documentation, the first in PureBasic's repository.
    {"PB_String_CaseSensitive", 0, 400, 510, AnyOs, "unconfirmed: the name #PB_String_CaseSensitive before 5.10"},
    {"PB_String_CaseSensitive", 0, 510, Now, AnyOs, nullptr},
    {"PB_String_NoCase", 1, 400, 510, AnyOs, "unconfirmed: the name #PB_String_NoCase before 5.10"},
    {"PB_String_NoCase", 1, 510, Now, AnyOs, nullptr},
    {"PB_Structure", 7, 400, Now, AnyOs, nullptr},
    {"PB_Unicode", 25, 400, Now, AnyOs, nullptr},
    {"PB_UTF8", 2, 400, Now, AnyOs, nullptr},
    {"PB_Variable", 51, 400, Now, AnyOs, nullptr},
    {"PB_Word", 3, 430, Now, AnyOs, nullptr},
    {"True", 1, 400, Now, AnyOs, nullptr},
};

// Keywords that came after 4.00: a name spelled like one is refused from that version on. Array and List
// are none: they begin a parameter (4.30) and still name arrays, as the manual's Shared example
// ("Dim Array(2)") does.
const KeywordInfo kKeywords[] = {
    {"DeclareModule", 520}, // 5.20: "Module support for the compiler"
    {"EndDeclareModule", 520},
    {"EndModule", 520},
    {"EnumerationBinary", 540}, // 5.40
    {"Map", 440},               // 4.40: maps
    {"Module", 520},
    {"NewMap", 440},
    {"Threaded", 440}, // 4.40: "'Threaded' Keyword for thread-local variables"
    {"UnuseModule", 520},
    {"UseModule", 520},
};

// History: FilePath 4.30 ("#PB_Compiler_FilePath compiler constant"), Procedure 4.20, Filename and
// ExecutableFormat 5.10, 64Bit and 32Bit 6.00; the others came with 4.00.
const CompilerConstantInfo kCompilerConstants[] = {
    {"PB_Compiler_32Bit", 600, nullptr, 0},
    {"PB_Compiler_64Bit", 600, nullptr, 0},
    {"PB_Compiler_Debugger", 400, nullptr, 0},
    {"PB_Compiler_ExecutableFormat", 510, nullptr, 0},
    {"PB_Compiler_File", 400, nullptr, 0},
    {"PB_Compiler_Filename", 510, nullptr, 0},
    {"PB_Compiler_FilePath", 430, nullptr, 0},
    {"PB_Compiler_Home", 400, nullptr, 0},
    {"PB_Compiler_Line", 400, nullptr, 0},
    {"PB_Compiler_OS", 400, nullptr, 0},
    {"PB_Compiler_Procedure", 420, nullptr, 0},
    // In no history line. The manual's compiler directives page documents it; 4.30 brought the second
    // processor of a system ("Full 64-bit version of PureBasic (Windows)"), which a program tells apart by it.
    {"PB_Compiler_Processor", 400, "unconfirmed: that #PB_Compiler_Processor exists before 4.30", 430},
    {"PB_Compiler_Unicode", 400, nullptr, 0},
    {"PB_Compiler_Version", 400, nullptr, 0},
};

// .a and .u came with 4.40, .i with 4.30; the structures named after them with their types.
const PredefinedStructureInfo kPredefinedStructures[] = {
    {"Byte", "b", Type::B, 400},    {"Ascii", "a", Type::A, 440},   {"Character", "c", Type::C, 400},
    {"Word", "w", Type::W, 400},    {"Unicode", "u", Type::U, 440}, {"Long", "l", Type::L, 400},
    {"Integer", "i", Type::I, 430}, {"Quad", "q", Type::Q, 400},    {"Float", "f", Type::F, 400},
    {"Double", "d", Type::D, 400},
};

// zlib's uncompress(Bytef *dest, uLongf *destLen, const Bytef *source, uLong sourceLen) returns an int;
// PureBasic's IDE imports it from "zlib.lib" on Windows and "-lz" elsewhere (PureBasicIDE/ZLib.pb).
const ImportedFunctionInfo kImportedFunctions[] = {
    {"uncompress", "zlib.lib", "-lz", 'i', "pppu", true, &NativeUncompress},
};

bool LessNoCase(const char* a, const QString& b)
{
    return QString::compare(QLatin1String(a), b, Qt::CaseInsensitive) < 0;
}

bool OnTarget(std::uint8_t os, std::uint8_t cpu, const Target& t)
{
    const std::uint8_t osBit = t.os == Os::Windows ? OnWindows : t.os == Os::Linux ? OnLinux : OnMacOS;
    const std::uint8_t cpuBit = t.cpu == Cpu::X86 ? OnX86 : t.cpu == Cpu::X64 ? OnX64 : OnArm64;
    return (os == 0 || (os & osBit)) && (cpu == 0 || (cpu & cpuBit));
}

QString Systems(std::uint8_t os, std::uint8_t cpu)
{
    QStringList names;
    if (os & OnWindows)
        names << QStringLiteral("Windows");
    if (os & OnLinux)
        names << QStringLiteral("Linux");
    if (os & OnMacOS)
        names << QStringLiteral("macOS");
    QString text = names.join(QStringLiteral(", "));
    if (cpu == OnX86)
        text += QStringLiteral(" x86");
    return text;
}

// The row for the target among the rows named `name`, with the reason when none fits.
template <typename Row> const Row* Pick(std::span<const Row> table, const QString& name, const Target& t, QString* why)
{
    auto it = std::lower_bound(table.begin(), table.end(), name,
                               [](const Row& row, const QString& n) { return LessNoCase(row.name, n); });
    int first = 0;
    int last = 0;
    QString systems;
    const Row* found = nullptr;
    for (; it != table.end() && QString::compare(QLatin1String(it->name), name, Qt::CaseInsensitive) == 0; ++it) {
        if (first == 0 || it->since < first)
            first = it->since;
        last = it->removedIn == 0 ? 0 : std::max(last, it->removedIn);
        const bool inRange = t.version >= it->since && (it->removedIn == 0 || t.version < it->removedIn);
        if (!inRange)
            continue;
        if constexpr (std::is_same_v<Row, BuiltinInfo>) {
            if (!OnTarget(it->os, it->cpu, t)) {
                systems = Systems(it->os, it->cpu);
                continue;
            }
        } else if (!OnTarget(it->os, 0, t)) {
            systems = Systems(it->os, 0);
            continue;
        }
        found = &*it;
    }
    if (!found && why) {
        if (first == 0)
            why->clear();
        else if (!systems.isEmpty())
            *why = QStringLiteral("it exists only on %1").arg(systems);
        else if (t.version < first)
            *why = QStringLiteral("it came with PureBasic %1").arg(VersionText(first));
        else
            *why = QStringLiteral("PureBasic %1 removed it").arg(VersionText(last));
    }
    return found;
}

} // namespace

QString VersionText(int version)
{
    return QStringLiteral("%1.%2").arg(version / 100).arg(version % 100, 2, 10, QLatin1Char('0'));
}

std::span<const PredefinedStructureInfo> PredefinedStructureTable()
{
    return kPredefinedStructures;
}

std::span<const CompilerConstantInfo> CompilerConstantTable()
{
    return kCompilerConstants;
}

const CompilerConstantInfo* FindCompilerConstant(const QString& name)
{
    for (const CompilerConstantInfo& c : kCompilerConstants)
        if (name.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
            return &c;
    return nullptr;
}

std::span<const ImportedFunctionInfo> ImportedFunctionTable()
{
    return kImportedFunctions;
}

const ImportedFunctionInfo* FindImportedFunction(const QString& name)
{
    for (const ImportedFunctionInfo& f : kImportedFunctions)
        if (name.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

std::span<const BuiltinInfo> BuiltinTable()
{
    return kBuiltins;
}

std::span<const ConstantInfo> ConstantTable()
{
    return kConstants;
}

std::span<const KeywordInfo> KeywordTable()
{
    return kKeywords;
}

const BuiltinInfo* FindBuiltin(const QString& name, const Target& target, QString* why)
{
    return Pick<BuiltinInfo>(kBuiltins, name, target, why);
}

const ConstantInfo* FindConstant(const QString& name, const Target& target, QString* why)
{
    return Pick<ConstantInfo>(kConstants, name, target, why);
}

ParamCounts CountParams(const char* params)
{
    ParamCounts c;
    bool optional = false;
    bool unknown = false;
    for (const char* p = params; *p; ++p) {
        if (*p == '|')
            optional = true;
        else if (*p == '*')
            unknown = true;
        else if (*p == '?')
            c.unconfirmedFrom = c.documented;
        else if (*p == '=')
            c.unconfirmedResult = true;
        else {
            ++c.documented;
            if (!optional)
                ++c.required;
            if (!unknown) {
                ++c.implemented;
                c.letters += QLatin1Char(*p);
            }
        }
    }
    return c;
}

int VersionTakingArgs(const QString& name, int count)
{
    int first = 0;
    for (const BuiltinInfo& b : kBuiltins) {
        if (QString::compare(QLatin1String(b.name), name, Qt::CaseInsensitive) != 0)
            continue;
        const ParamCounts c = CountParams(b.params);
        if (count >= c.required && count <= c.documented && (first == 0 || b.since < first))
            first = b.since;
    }
    return first;
}

int KeywordSince(const QString& word, const Target& target)
{
    for (const KeywordInfo& k : kKeywords) {
        if (QString::compare(QLatin1String(k.word), word, Qt::CaseInsensitive) == 0)
            return target.version >= k.since ? k.since : 0;
    }
    return 0;
}

} // namespace hexaloom::pbrun
