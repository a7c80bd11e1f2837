#pragma once
// The compiler a program is run for: version, operating system, processor and string mode. It fixes the
// sizes of .i, .c and pointers and the values of the #PB_Compiler_* constants.
#include <QString>

#include <optional>

namespace hexaloom::pbrun {

// The values of PureBasic's own constants (Residents/Common.pb of its repository).
enum class Os : int { Windows = 1, Linux = 2, MacOS = 4 };
enum class Cpu : int { X86 = 2, X64 = 4, Arm64 = 6 };

struct Target
{
    int version = 612; // #PB_Compiler_Version: 540 for 5.40
    Os os = Os::Windows;
    Cpu cpu = Cpu::X64;
    bool unicode = true;

    int pointerSize() const { return cpu == Cpu::X86 ? 4 : 8; }
    int charSize() const { return unicode ? 2 : 1; }
    // C's long (zlib's uLong): 4 bytes on Windows and on 32-bit processors, 8 on 64-bit Linux and macOS.
    int cLongSize() const { return os == Os::Windows ? 4 : pointerSize(); }

    // "6.12-windows-x64-unicode"
    QString name() const;
    // Parses a name of that form. Returns nothing and sets `error` for a target PureBasic never had.
    static std::optional<Target> Parse(const QString& text, QString* error = nullptr);
    // Why this combination never existed, or empty when it did.
    QString Validate() const;
};

} // namespace hexaloom::pbrun
