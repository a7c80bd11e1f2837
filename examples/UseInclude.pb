; Uses every procedure of an include written by Hexaloom.
;
; `make demo` turns examples/demo into build/demo/demo_hexdata.pbi (hexdata format) and
; build/demo/demo_binpack.pbi with its pack file (binpack format); either include works
; here. The include defines one #HXL_ constant per file (such as #HXL_README_TXT for readme.txt) and
; the procedures Vorkel_Get, Vorkel_GetFileName, Vorkel_GetResNumber, Vorkel_Save and the four
; Vorkel_Catch procedures.

XIncludeFile "../build/demo/demo_hexdata.pbi"

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

Define Number, *Data, Name$, Extension$, Result

InitSound()
InitSprite()
OpenConsole()

; The catalog is always the last block: the number of files, then their names.
*Data = Vorkel_Get(Vorkel_Count)
If *Data
  PrintN("Catalog: " + TextOf(*Data))
  FreeMemory(*Data)
EndIf

; Every file has its constant: the demo's readme.txt is #HXL_README_TXT.
*Data = Vorkel_Get(#HXL_README_TXT)
If *Data
  PrintN(TextOf(*Data))
  FreeMemory(*Data)
EndIf

; A screen is needed for sprites.
If OpenWindow(0, 0, 0, 320, 200, "Hexaloom include demo")
  OpenWindowedScreen(WindowID(0), 0, 0, 320, 200, 0, 0, 0)
EndIf

For Number = 1 To Vorkel_Count - 1
  Name$ = Vorkel_GetFileName(Number)
  *Data = Vorkel_Get(Number)
  If *Data
    PrintN(Str(Number) + ": " + Name$ + ", " + Str(MemorySize(*Data)) + " bytes")
    FreeMemory(*Data)
  Else
    PrintN(Str(Number) + ": " + Name$ + " cannot be read")
  EndIf
  ; Looking a name up in other letters finds the same number.
  If Vorkel_GetResNumber(UCase(Name$)) <> Number
    PrintN("  the name lookup found another number")
  EndIf
  If Vorkel_Save("restored_" + Name$, Number)
    PrintN("  saved as restored_" + Name$)
  EndIf
  Extension$ = LCase(GetExtensionPart(Name$))
  Select Extension$
    Case "bmp", "ico"
      Result = Vorkel_CatchImage(#PB_Any, Number)
      PrintN("  image: " + Str(Result))
      Result = Vorkel_CatchSprite(#PB_Any, Number)
      PrintN("  sprite: " + Str(Result))
    Case "wav"
      Result = Vorkel_CatchSound(#PB_Any, Number)
      PrintN("  sound: " + Str(Result))
    Case "mod", "xm", "s3m", "it"
      Result = Vorkel_CatchModule(#PB_Any, Number)
      PrintN("  module: " + Str(Result))
  EndSelect
Next

; Numbers outside 1 to Vorkel_Count give nothing.
If Vorkel_Get(0) = 0 And Vorkel_Get(Vorkel_Count + 1) = 0
  PrintN("Numbers out of range give 0, as they should.")
EndIf

PrintN("Press Enter to end.")
Input()
CloseConsole()
End
