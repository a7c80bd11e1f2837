;{ Hexaloom access code - no packer: every file is stored as it is
;}

; Fetches the files stored below by number (their #HXL_ constants) or by file name: unpacked,
; CRC-checked, as memory, saved to a file, or loaded as image, sound, sprite or music module.
; Written for PureBasic 4.00 and later: where a later version removed or renamed a function,
; the compiler version picks the one to call.

; Packer of a stored file, as written in byte 16 of its packed header.
Enumeration
  #Zember_Packer_None
  #Zember_Packer_jCalg1
  #Zember_Packer_zip
EndEnumeration

; Header of a packed file (23 bytes, no padding): unpacked size, CRC-32 of the unpacked bytes
; (both 64-bit, only their lower 32 bits count), packer, and the six bytes "VORKEL".
CompilerIf Defined(ZemberPack, #PB_Structure) = #False
  Structure ZemberPack
    Size.q
    CRC.q
    Packer.b
    Magic.b[6]
  EndStructure
CompilerEndIf

; The size table at the end of the data section: the number of stored blocks, then their lengths,
; read into Vorkel_Count and VorkelArray() when the program starts. A DLL runs no code outside its
; procedures, so there Vorkel_ReadSizeTable() reads them with the first call instead.
Global Vorkel_Count.l, Vorkel_Index.l
Restore Vorkel_CatchInfo
CompilerIf #PB_Compiler_Version < 430
  Read Vorkel_Count
CompilerElse
  Read.l Vorkel_Count
CompilerEndIf
Global Dim VorkelArray.l(Vorkel_Count)
For Vorkel_Index = 0 To Vorkel_Count - 1
  CompilerIf #PB_Compiler_Version < 430
    Read VorkelArray(Vorkel_Index)
  CompilerElse
    Read.l VorkelArray(Vorkel_Index)
  CompilerEndIf
Next

; Reads the size table where it lies (Data.l, 4 bytes each), without Restore, so a Read loop of the
; program's own is not disturbed; a table read once is kept (every output holds at least its catalog).
Procedure Vorkel_ReadSizeTable()
  Protected Index
  If Vorkel_Count = 0
    Vorkel_Count = PeekL(?Vorkel_CatchInfo)
    Dim VorkelArray.l(Vorkel_Count)
    For Index = 0 To Vorkel_Count - 1
      VorkelArray(Index) = PeekL(?Vorkel_CatchInfo + 4 + 4 * Index)
    Next
  EndIf
EndProcedure

; File ResNumber (its #HXL_ constant; the catalog is number Vorkel_Count) as a new memory block
; that the caller frees, unpacked and CRC-checked; 0 when it cannot be had.
Procedure Vorkel_Get(ResNumber)
  Protected *Copy, *Unpacked, *Header.ZemberPack, Result
  Protected Length.l, Size.l, StoredCRC.l, CRC.l
  Protected Offset, Index
  Vorkel_ReadSizeTable()
  If ResNumber < 1 Or ResNumber > Vorkel_Count
    ProcedureReturn 0
  EndIf
  For Index = 1 To ResNumber - 1
    Offset = Offset + VorkelArray(Index - 1)
  Next
  Length = VorkelArray(ResNumber - 1)
  If Length <= 0
    ProcedureReturn 0
  EndIf
  *Copy = AllocateMemory(Length)
  If *Copy = 0
    ProcedureReturn 0
  EndIf
  CopyMemory(?Vorkel_CatchStart + Offset, *Copy, Length)
  ; Only a packed block has "VORKEL" in bytes 17 to 22; anything else is stored as it is.
  If Length < 23
    ProcedureReturn *Copy
  EndIf
  If PeekL(*Copy + 17) <> $4B524F56 Or PeekB(*Copy + 21) <> $45 Or PeekB(*Copy + 22) <> $4C
    ProcedureReturn *Copy
  EndIf
  *Header = *Copy
  Size = PeekL(*Copy)
  StoredCRC = PeekL(*Copy + 8)
  If Size <= 0
    FreeMemory(*Copy)
    ProcedureReturn 0
  EndIf
  *Unpacked = AllocateMemory(Size)
  If *Unpacked = 0
    FreeMemory(*Copy)
    ProcedureReturn 0
  EndIf
  ; Packer none: bytes stored behind a header because they look like a block themselves; exactly
  ; Size of them.
  Result = 0
  If *Header\Packer = #Zember_Packer_None
    If Length - 23 = Size
      CopyMemory(*Copy + 23, *Unpacked, Size)
      Result = Size
    EndIf
  EndIf
  FreeMemory(*Copy)
  If Result <= 0
    FreeMemory(*Unpacked)
    ProcedureReturn 0
  EndIf
  CompilerIf #PB_Compiler_Version < 540
    CRC = CRC32Fingerprint(*Unpacked, Size)
  CompilerElse
    ; the hexadecimal text's value is stored in a long: its lower 32 bits, as the header keeps them
    UseCRC32Fingerprint()
    CRC = Val("$" + Fingerprint(*Unpacked, Size, #PB_Cipher_CRC32))
  CompilerEndIf
  If CRC <> StoredCRC
    FreeMemory(*Unpacked)
    ProcedureReturn 0
  EndIf
  ProcedureReturn *Unpacked
EndProcedure

; The file name of entry ResNumber in the catalog, or "".
Procedure.s Vorkel_GetFileName(ResNumber)
  Protected *Catalog, Catalog$
  If ResNumber < 1
    ProcedureReturn ""
  EndIf
  Vorkel_ReadSizeTable()
  *Catalog = Vorkel_Get(Vorkel_Count)
  If *Catalog = 0
    ProcedureReturn ""
  EndIf
  Catalog$ = PeekS(*Catalog, MemorySize(*Catalog), #PB_UTF8)
  FreeMemory(*Catalog)
  ProcedureReturn StringField(Catalog$, ResNumber + 1, ",")
EndProcedure

; The first number from Start on whose file name equals FileName$ in any letter case, or 0.
Procedure Vorkel_GetResNumber(FileName$, Start = 1)
  Protected *Catalog, Catalog$, Count, Index
  If FileName$ = ""
    ProcedureReturn 0
  EndIf
  If Start < 1
    Start = 1
  EndIf
  Vorkel_ReadSizeTable()
  *Catalog = Vorkel_Get(Vorkel_Count)
  If *Catalog = 0
    ProcedureReturn 0
  EndIf
  Catalog$ = UCase(PeekS(*Catalog, MemorySize(*Catalog), #PB_UTF8))
  FreeMemory(*Catalog)
  FileName$ = UCase(FileName$)
  Count = Vorkel_Count
  For Index = Start To Count
    If StringField(Catalog$, Index + 1, ",") = FileName$
      ProcedureReturn Index
    EndIf
  Next
  ProcedureReturn 0
EndProcedure

; Writes file ResNumber, unpacked, to FileName$; #True on success, else 0. An empty file gives an
; empty file. The data is fetched before the file is created, so an existing file stays as it is when
; there is nothing to write, and a file that did not receive every byte (a full disk) is deleted rather
; than left as if whole.
Procedure Vorkel_Save(FileName$, ResNumber)
  Protected *Data, File, Length
  *Data = Vorkel_Get(ResNumber)
  If *Data = 0
    ; nothing to fetch: a number out of range or a damaged block gives 0, an empty block an empty file
    If ResNumber < 1 Or ResNumber > Vorkel_Count
      ProcedureReturn 0
    EndIf
    If VorkelArray(ResNumber - 1) <> 0
      ProcedureReturn 0
    EndIf
  Else
    Length = MemorySize(*Data)
  EndIf
  File = CreateFile(#PB_Any, FileName$)
  If File = 0
    If *Data
      FreeMemory(*Data)
    EndIf
    ProcedureReturn 0
  EndIf
  If *Data
    WriteData(File, *Data, Length)
    FreeMemory(*Data)
  EndIf
  CloseFile(File)
  If FileSize(FileName$) <> Length
    DeleteFile(FileName$)
    ProcedureReturn 0
  EndIf
  ProcedureReturn #True
EndProcedure

; Loads file ResNumber as sound number Sound (InitSound() first); CatchSound's result, or 0.
Procedure Vorkel_CatchSound(Sound, ResNumber)
  Protected *Data, Result
  *Data = Vorkel_Get(ResNumber)
  If *Data = 0
    ProcedureReturn 0
  EndIf
  Result = CatchSound(Sound, *Data, MemorySize(*Data))
  FreeMemory(*Data)
  ProcedureReturn Result
EndProcedure

; Loads file ResNumber as image number Image; CatchImage's result, or 0. Flag reaches CatchImage
; before 4.40 only: its one documented value, #PB_Image_DisplayFormat, was retired in 4.40 and
; later versions take no flags.
Procedure Vorkel_CatchImage(Image, ResNumber, Flag = 0)
  Protected *Data, Result
  *Data = Vorkel_Get(ResNumber)
  If *Data = 0
    ProcedureReturn 0
  EndIf
  CompilerIf #PB_Compiler_Version < 440
    Result = CatchImage(Image, *Data, MemorySize(*Data), Flag)
  CompilerElse
    Result = CatchImage(Image, *Data, MemorySize(*Data))
  CompilerEndIf
  FreeMemory(*Data)
  ProcedureReturn Result
EndProcedure

; Loads file ResNumber as sprite number Sprite (InitSprite() and a screen first); CatchSprite's
; result, or 0.
Procedure Vorkel_CatchSprite(Sprite, ResNumber, Modus = 0)
  Protected *Data, Result
  *Data = Vorkel_Get(ResNumber)
  If *Data = 0
    ProcedureReturn 0
  EndIf
  Result = CatchSprite(Sprite, *Data, Modus)
  FreeMemory(*Data)
  ProcedureReturn Result
EndProcedure

; Loads file ResNumber as music module number Music; the loader's result, or 0.
; CatchModule came with 4.30 and became CatchMusic in 5.20; before 4.30 there is no loader.
; (The parameter is not called Module: that is a keyword since 5.20.)
Procedure Vorkel_CatchModule(Music, ResNumber)
  Protected *Data, Result
  *Data = Vorkel_Get(ResNumber)
  If *Data = 0
    ProcedureReturn 0
  EndIf
  CompilerIf #PB_Compiler_Version < 430
    Result = 0
  CompilerElse
    CompilerIf #PB_Compiler_Version < 520
      Result = CatchModule(Music, *Data, MemorySize(*Data))
    CompilerElse
      Result = CatchMusic(Music, *Data, MemorySize(*Data))
    CompilerEndIf
  CompilerEndIf
  FreeMemory(*Data)
  ProcedureReturn Result
EndProcedure
