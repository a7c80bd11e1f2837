; Reads the files of a .res file written by Hexaloom through the companion include.
; Windows only.
;
; `make demo` turns examples/demo into build/demo/demo.res. The Import links it into
; this program; Zember_Include.pbi ships in the include folder beside the Hexaloom program.

Import "../build/demo/demo.res"
EndImport

XIncludeFile "../include/Zember_Include.pbi"

; The bytes of a block as UTF-8 text. From 5.40 PeekS takes the length in bytes (#PB_ByteLength);
; before, it counts characters, which may run past the block, so the bytes are read from a copy that
; ends with a zero byte (PeekS stops there).
Procedure.s TextOf(*Data)
  Protected *Text, Text$
  CompilerIf #PB_Compiler_Version < 540
    *Text = AllocateMemory(MemorySize(*Data) + 1)
    If *Text
      CopyMemory(*Data, *Text, MemorySize(*Data))
      Text$ = PeekS(*Text, MemorySize(*Data), #PB_UTF8)
      FreeMemory(*Text)
    EndIf
  CompilerElse
    Text$ = PeekS(*Data, MemorySize(*Data), #PB_UTF8 | #PB_ByteLength)
  CompilerEndIf
  ProcedureReturn Text$
EndProcedure

Define Number, Count, *Data, Name$, Extension$, Result, Catalog$

InitSound()
InitSprite()
OpenConsole()

; Resource 1, read with number 0, is the catalog: the number of files, then their names.
*Data = Zember_Get(0)
If *Data = 0
  PrintN("No catalog: was demo.res linked?")
  End
EndIf
Catalog$ = TextOf(*Data)
FreeMemory(*Data)
PrintN("Catalog: " + Catalog$)
Count = Val(StringField(Catalog$, 1, ","))

If OpenWindow(0, 0, 0, 320, 200, "Hexaloom resource demo")
  OpenWindowedScreen(WindowID(0), 0, 0, 320, 200, 0, 0, 0)
EndIf

For Number = 1 To Count
  Name$ = Zember_GetFileName(Number)
  *Data = Zember_Get(Number)
  If *Data
    PrintN(Str(Number) + ": " + Name$ + ", " + Str(MemorySize(*Data)) + " bytes")
    FreeMemory(*Data)
  Else
    PrintN(Str(Number) + ": " + Name$ + " is not in the program")
  EndIf
  If Zember_GetResNumber(LCase(Name$)) <> Number
    PrintN("  the name lookup found another number")
  EndIf
  ; The module handle argument: 0 is this program, as GetModuleHandle_(0) is.
  If Zember_Save("restored_" + Name$, Number, GetModuleHandle_(0))
    PrintN("  saved as restored_" + Name$)
  EndIf
  Extension$ = LCase(GetExtensionPart(Name$))
  Select Extension$
    Case "bmp", "ico"
      Result = Zember_CatchImage(#PB_Any, Number)
      PrintN("  image: " + Str(Result))
      Result = Zember_CatchSprite(#PB_Any, Number, 0, 0)
      PrintN("  sprite: " + Str(Result))
    Case "wav"
      Result = Zember_CatchSound(#PB_Any, Number)
      PrintN("  sound: " + Str(Result))
    Case "mod", "xm", "s3m", "it"
      Result = Zember_CatchModule(#PB_Any, Number, 0)
      PrintN("  module: " + Str(Result))
  EndSelect
Next

PrintN("Press Enter to end.")
Input()
CloseConsole()
End
