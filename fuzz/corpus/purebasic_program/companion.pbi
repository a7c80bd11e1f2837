;{ Hexaloom - access to the files of a linked .res file
;}

; Reads the resources of type "VORKEL" that Hexaloom writes into a .res file: resource 1 is the
; catalog of file names, resource n + 1 holds file n of the list, stored as it is or packed.
; Windows only. Link the .res and include this file:
;
;   Import "MyData.res"
;   EndImport
;   XIncludeFile "Zember_Include.pbi"
;
; Every procedure takes an optional module handle last: 0 (the default) reads the program's own
; resources, any other value the resources of that loaded executable or DLL.
; Written for PureBasic 4.00 and later: where a later version removed or renamed a function,
; the compiler version picks the one to call.

; zlib's uncompress, unless the program declares it already.
CompilerIf Defined(uncompress, #PB_Procedure) = #False
  ImportC "zlib.lib"
    uncompress.l(*dest, *destlen.LONG, *source, sourcelen.l)
  EndImport
CompilerEndIf

; Packer of a stored file, as written in byte 16 of its packed header.
CompilerIf Defined(Zember_Packer_None, #PB_Constant) = #False
  Enumeration
    #Zember_Packer_None
    #Zember_Packer_jCalg1
    #Zember_Packer_zip
  EndEnumeration
CompilerEndIf

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

; Unpacks SourceLength bytes at *Source into DestinationLength bytes at *Destination.
; Returns more than 0 on success: the unpacked length for jCalg1, #True for zip; 0 otherwise.
CompilerIf Defined(_UnpackMemory, #PB_Procedure) = #False
  Procedure _UnpackMemory(*Source, SourceLength, *Destination, DestinationLength, Packer = #Zember_Packer_jCalg1)
    Protected Result
    ; the length variable has the width of C's uLong (see the import above)
    CompilerIf #PB_Compiler_OS = #PB_OS_Windows
      Protected DestLength.l
    CompilerElse
      CompilerIf #PB_Compiler_Version < 430
        Protected DestLength.l
      CompilerElse
        Protected DestLength.i
      CompilerEndIf
    CompilerEndIf
    If *Source = 0 Or *Destination = 0 Or SourceLength <= 0 Or DestinationLength <= 0
      ProcedureReturn 0
    EndIf
    Select Packer
      Case #Zember_Packer_jCalg1
        ; A jCalg1 stream starts with "JC" and its unpacked size. The unpacker is given no
        ; destination length, so a stream that claims more than the destination holds is refused.
        If SourceLength < 10
          ProcedureReturn 0
        EndIf
        If PeekB(*Source) <> $4A Or PeekB(*Source + 1) <> $43
          ProcedureReturn 0
        EndIf
        If PeekL(*Source + 2) < 0 Or PeekL(*Source + 2) > DestinationLength
          ProcedureReturn 0
        EndIf
        CompilerIf #PB_Compiler_Version < 520
          ; PureBasic 4.x unpacks its own jCalg1 streams, which start with the same "JC" header.
          Result = UnpackMemory(*Source, *Destination)
        CompilerElse
          ; Since 5.20 jCalg1 is an unpack-only plugin, on Windows x86 alone.
          CompilerIf #PB_Compiler_OS = #PB_OS_Windows
            CompilerIf #PB_Compiler_Processor = #PB_Processor_x86
              UseJcalg1Packer()
              Result = UncompressMemory(*Source, SourceLength, *Destination, DestinationLength, #PB_PackerPlugin_Jcalg1)
            CompilerElse
              Result = 0
            CompilerEndIf
          CompilerElse
            Result = 0
          CompilerEndIf
        CompilerEndIf
        If Result < 0
          Result = 0
        EndIf
      Case #Zember_Packer_zip
        DestLength = DestinationLength
        If uncompress(*Destination, @DestLength, *Source, SourceLength) = 0
          Result = #True
        EndIf
      Default
        Result = 0
    EndSelect
    ProcedureReturn Result
  EndProcedure
CompilerEndIf

; Resource ResNumber + 1 as a new memory block that the caller frees, unpacked and CRC-checked:
; ResNumber 0 gives the catalog, ResNumber n file n of the list. 0 when it cannot be had.
Procedure Zember_Get(ResNumber, hModule = 0)
  Protected *Copy, *Unpacked, *Header.ZemberPack, Result
  Protected Length.l, Size.l, StoredCRC.l, CRC.l
  Protected Resource, Loaded, *Bytes
  If ResNumber < 0
    ProcedureReturn 0
  EndIf
  If hModule = 0
    hModule = GetModuleHandle_(0)
  EndIf
  ; "#n" names the resource by its number n
  Resource = FindResource_(hModule, "#" + Str(ResNumber + 1), "VORKEL")
  If Resource = 0
    ProcedureReturn 0
  EndIf
  Length = SizeofResource_(hModule, Resource)
  Loaded = LoadResource_(hModule, Resource)
  If Loaded = 0 Or Length <= 0
    ProcedureReturn 0
  EndIf
  *Bytes = LockResource_(Loaded)
  If *Bytes = 0
    ProcedureReturn 0
  EndIf
  *Copy = AllocateMemory(Length)
  If *Copy = 0
    ProcedureReturn 0
  EndIf
  CopyMemory(*Bytes, *Copy, Length)
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
  Result = _UnpackMemory(*Copy + 23, Length - 23, *Unpacked, Size, *Header\Packer)
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
Procedure.s Zember_GetFileName(ResNumber, hModule = 0)
  Protected *Catalog, Catalog$
  If ResNumber < 1
    ProcedureReturn ""
  EndIf
  *Catalog = Zember_Get(0, hModule)
  If *Catalog = 0
    ProcedureReturn ""
  EndIf
  Catalog$ = PeekS(*Catalog, MemorySize(*Catalog), #PB_UTF8)
  FreeMemory(*Catalog)
  ProcedureReturn StringField(Catalog$, ResNumber + 1, ",")
EndProcedure

; The first number from Start on whose file name equals FileName$ in any letter case, or 0.
Procedure Zember_GetResNumber(FileName$, Start = 1, hModule = 0)
  Protected *Catalog, Catalog$, Count, Index
  If FileName$ = ""
    ProcedureReturn 0
  EndIf
  If Start < 1
    Start = 1
  EndIf
  *Catalog = Zember_Get(0, hModule)
  If *Catalog = 0
    ProcedureReturn 0
  EndIf
  Catalog$ = UCase(PeekS(*Catalog, MemorySize(*Catalog), #PB_UTF8))
  FreeMemory(*Catalog)
  FileName$ = UCase(FileName$)
  Count = Val(StringField(Catalog$, 1, ","))
  For Index = Start To Count
    If StringField(Catalog$, Index + 1, ",") = FileName$
      ProcedureReturn Index
    EndIf
  Next
  ProcedureReturn 0
EndProcedure

; Writes file ResNumber, unpacked, to FileName$; #True on success, else 0. The data is fetched
; before the file is created, so an existing file stays as it is when there is nothing to write,
; and a file that did not receive every byte (a full disk) is deleted rather than left as if whole.
Procedure Zember_Save(FileName$, ResNumber, hModule = 0)
  Protected *Data, File, Length
  *Data = Zember_Get(ResNumber, hModule)
  If *Data = 0
    ProcedureReturn 0
  EndIf
  Length = MemorySize(*Data)
  File = CreateFile(#PB_Any, FileName$)
  If File = 0
    FreeMemory(*Data)
    ProcedureReturn 0
  EndIf
  WriteData(File, *Data, Length)
  CloseFile(File)
  FreeMemory(*Data)
  If FileSize(FileName$) <> Length
    DeleteFile(FileName$)
    ProcedureReturn 0
  EndIf
  ProcedureReturn #True
EndProcedure

; Loads file ResNumber as sound number Sound (InitSound() first); CatchSound's result, or 0.
Procedure Zember_CatchSound(Sound, ResNumber, hModule = 0)
  Protected *Data, Result
  *Data = Zember_Get(ResNumber, hModule)
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
Procedure Zember_CatchImage(Image, ResNumber, Flag = 0, hModule = 0)
  Protected *Data, Result
  *Data = Zember_Get(ResNumber, hModule)
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
Procedure Zember_CatchSprite(Sprite, ResNumber, Modus = 0, hModule = 0)
  Protected *Data, Result
  *Data = Zember_Get(ResNumber, hModule)
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
Procedure Zember_CatchModule(Music, ResNumber, hModule = 0)
  Protected *Data, Result
  *Data = Zember_Get(ResNumber, hModule)
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
