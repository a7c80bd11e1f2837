#pragma once
// The running program as the built-in functions see it, and the handlers themselves (one file per
// PureBasic library: BuiltinsMemory, BuiltinsString, BuiltinsCipher, BuiltinsPacker, BuiltinsFile,
// BuiltinsMedia, BuiltinsWindows). Handlers get their arguments already converted to the parameter
// letters of their table row; a missing optional argument is absent from the vector.
#include "Memory.h"
#include "ResFile.h"
#include "Target.h"
#include "Types.h"
#include "VersionTable.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>

namespace hexaloom::pbrun {

// What a Catch function received: the bytes it read and what it returned.
struct CatchRecord
{
    QString function;
    std::int64_t object = 0;
    QByteArray bytes;
    std::int64_t result = 0;
    QString where; // "file:line"
};

// A runtime error raised by a handler or the evaluator; the evaluator adds the position and call stack.
struct RuntimeFailure
{
    QString message;
};

struct Runtime
{
    Runtime(const Target& t, std::uint64_t memoryLimit) : target(t), memory(t.pointerSize(), memoryLimit) {}

    const Target& target;
    Memory memory;
    SourcePos pos; // the statement running now
    QString output;
    QStringList input; // lines Input() returns, in order
    QDir workDir;

    // Objects by number: open files; loaded images, sounds, sprites, music.
    std::map<std::int64_t, std::unique_ptr<QFile>> files;
    std::int64_t nextAnyId = 0x1000;
    std::int64_t nextHandle = 0x70000000;

    bool soundReady = false;
    bool spriteReady = false;
    bool screenOpen = false;
    bool moduleReady = false;
    bool windowOpen = false;
    bool crc32Plugin = false;
    bool zipPacker = false;
    bool jcalg1Packer = false;
    int packers = 0; // packer plugins registered
    bool pngDecoder = false;
    bool jpegDecoder = false;
    std::vector<CatchRecord> catches;

    // The Windows resources linked into the program, and where their bytes were mapped.
    std::vector<ResEntry> resources;
    std::map<int, Block*> mappedResources;
    std::uint64_t moduleHandle = 0; // the program's own module (GetModuleHandle_(0))
    std::uint64_t dllInstance = 0;  // a DLL's instance, when the program runs as one

    std::function<QString(SourcePos)> namer;

    [[noreturn]] void Fail(const QString& message) { throw RuntimeFailure{message}; }
    // The bytes at [address, address + length) of one live block, or a runtime error.
    std::uint8_t* Bytes(std::uint64_t address, std::uint64_t length, bool write);
    // The bytes from `address` to the end of its block, for readers that find their own end.
    std::uint8_t* Rest(std::uint64_t address, std::uint64_t& available, bool write);
    QString Where() const { return namer ? namer(pos) : QString(); }
    // What a function creating object `number` returns: a new number for #PB_Any, else a non-zero handle.
    std::int64_t ObjectResult(std::int64_t number);
    // Refuses an object number that is neither #PB_Any nor a plausible number.
    void CheckObjectNumber(std::int64_t number, const char* function);
};

inline Value Int(std::int64_t v)
{
    Value r;
    r.i = v;
    return r;
}

inline Value Text(const QString& s)
{
    Value r;
    r.s = s;
    return r;
}

// ASCII mode holds a string as bytes: pbrun keeps one QChar (0 to 255) per byte, so what only moves bytes
// (Chr, Asc, PeekS and PokeS with #PB_Ascii, Len, Mid, StringField, comparing) is exact. Where bytes
// above 127 meet characters (UTF-8 and UTF-16 in ASCII mode, #PB_Ascii in Unicode mode, letter case,
// file names, the console) the system's code page decides. On Windows that is the ANSI code page:
// PureBasic converts between its strings and #PB_Ascii through it (PureBasicIDE/Language.pb: "It was
// loaded using the ANSI codepage"); pbrun's Windows is one with code page 1252, that of Western systems.
// A character that code page lacks (Windows may write "?" or a look-alike) and every byte above 127 on
// Linux and macOS, where no source says which code page applies, refuse the one call.
// The characters of ASCII-mode bytes.
QString BytesToText(Runtime& rt, const QString& bytes, const char* function);
// The ASCII-mode bytes of characters.
QString TextToBytes(Runtime& rt, const QString& text, const char* function);
// A string of the program as characters (ASCII mode: its bytes through the code page).
inline QString ProgramText(Runtime& rt, const QString& s, const char* function)
{
    return rt.target.unicode ? s : BytesToText(rt, s, function);
}

#define PBRUN_BUILTINS(X)                                                                                              \
    X(AllocateMemory)                                                                                                  \
    X(FreeMemory)                                                                                                      \
    X(MemorySize)                                                                                                      \
    X(ReAllocateMemory)                                                                                                \
    X(CopyMemory)                                                                                                      \
    X(MoveMemory)                                                                                                      \
    X(FillMemory)                                                                                                      \
    X(CompareMemory) X(MemoryStringLength) X(PeekA) X(PeekB) X(PeekC) X(PeekD) X(PeekF) X(PeekI) X(PeekL) X(PeekQ)     \
        X(PeekS) X(PeekU) X(PeekW) X(PokeA) X(PokeB) X(PokeC) X(PokeD) X(PokeF) X(PokeI) X(PokeL) X(PokeQ) X(PokeS)    \
            X(PokeU) X(PokeW) X(Str) X(StrU) X(StrD) X(Hex) X(Val) X(Len) X(Mid) X(Left) X(Right) X(UCase) X(LCase)    \
                X(Trim) X(StringField) X(StringByteLength) X(CountString) X(ReplaceString) X(Chr) X(Asc) X(Space)      \
                    X(GetExtensionPart) X(GetFilePart) X(GetPathPart) X(CRC32Fingerprint) X(UseCRC32Fingerprint)       \
                        X(Fingerprint) X(StringFingerprint) X(UnpackMemory) X(UncompressMemory) X(UseZipPacker)        \
                            X(UseJcalg1Packer) X(UseLZMAPacker) X(UseBriefLZPacker) X(CreateFile) X(OpenFile)          \
                                X(ReadFile) X(WriteData) X(ReadData) X(CloseFile) X(DeleteFile) X(FileSize) X(Lof)     \
                                    X(CatchImage) X(UsePNGImageDecoder) X(UseJPEGImageDecoder) X(InitSound)            \
                                        X(CatchSound) X(InitSprite) X(CatchSprite) X(OpenScreen) X(OpenWindowedScreen) \
                                            X(InitModule) X(CatchModule) X(CatchMusic) X(OpenWindow) X(WindowID)       \
                                                X(OpenConsole) X(CloseConsole) X(Print) X(PrintN) X(Input)             \
                                                    X(GetModuleHandle_) X(FindResource_) X(LoadResource_)              \
                                                        X(LockResource_) X(SizeofResource_)

#define PBRUN_DECLARE_BUILTIN(name) Value Bi_##name(Runtime&, std::vector<Value>&);
PBRUN_BUILTINS(PBRUN_DECLARE_BUILTIN)
#undef PBRUN_DECLARE_BUILTIN

// zlib's uncompress as an ImportC function: *dest, *destLen (a C uLong), *source, sourceLen.
Value NativeUncompress(Runtime& rt, std::vector<Value>& args);

} // namespace hexaloom::pbrun
