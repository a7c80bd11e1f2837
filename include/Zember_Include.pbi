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

CompilerIf #PB_Compiler_OS <> #PB_OS_Windows
  CompilerError "Zember_Include.pbi reads resources linked into a Windows program; on other systems use a hexdata or binpack include"
CompilerEndIf

; zlib's uncompress, imported once when the companion include and an include stand in one program.
CompilerIf Defined(Zember_Zlib, #PB_Constant) = #False
  #Zember_Zlib = 1
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
; Declared once when the companion include and an include stand in one program. The guard is a
; constant: Defined() knows constants from 4.00 on, while when it learnt #PB_Procedure is not recorded.
CompilerIf Defined(Zember_UnpackMemory, #PB_Constant) = #False
  #Zember_UnpackMemory = 1
  ; jCalg1, unpacked by PureBasic code on every version: "JC", the unpacked size, a checksum (0: none),
  ; then 32-bit little-endian words whose bits are read from bit 31 down. Every read is checked against
  ; the stream's end and every write against the stated size, so a damaged or truncated stream gives 0
  ; and never reads or writes outside its buffers.
  Structure ZemberJcReader
    *Words
    Length.l   ; bytes of whole words
    Position.l ; offset of the next word
    Bits.l     ; the unread bits of the current word, from bit 31 down
    BitsLeft.l ; how many
    Failed.l   ; a read ran past the last word
  EndStructure

  ; Count bits (1 to 31) as a number; 0 with Failed set when the stream ends first.
  Procedure.l _Zember_JcBits(*Reader.ZemberJcReader, Count.l)
    Protected Value.l, Take.l
    While Count > 0
      If *Reader\BitsLeft = 0
        If *Reader\Position >= *Reader\Length
          *Reader\Failed = #True
          ProcedureReturn 0
        EndIf
        *Reader\Bits = PeekL(*Reader\Words + *Reader\Position)
        *Reader\Position = *Reader\Position + 4
        *Reader\BitsLeft = 32
      EndIf
      ; as many of the wanted bits as the current word still has, from its top
      Take = Count
      If Take > *Reader\BitsLeft
        Take = *Reader\BitsLeft
      EndIf
      Value = (Value << Take) | ((*Reader\Bits >> (32 - Take)) & ((1 << Take) - 1))
      *Reader\Bits = *Reader\Bits << Take
      *Reader\BitsLeft = *Reader\BitsLeft - Take
      Count = Count - Take
    Wend
    ProcedureReturn Value
  EndProcedure

  ; A gamma number (2 or more): the digits after a leading 1, each followed by a bit that is 1 when
  ; another digit follows. 0 when the stream ends, or when the number passes 31 bits (no length or
  ; distance of a stream this decoder accepts is that large).
  Procedure.l _Zember_JcGamma(*Reader.ZemberJcReader)
    Protected Value.l = 1, Pair.l
    Repeat
      If Value > $3FFFFFFF
        ProcedureReturn 0
      EndIf
      Pair = _Zember_JcBits(*Reader, 2)
      Value = (Value << 1) | (Pair >> 1)
    Until (Pair & 1) = 0
    If *Reader\Failed
      ProcedureReturn 0
    EndIf
    ProcedureReturn Value
  EndProcedure

  ; The stream of SourceLength bytes unpacked into DestinationLength bytes: the unpacked size, or 0 when
  ; the stream is damaged or truncated, states more than the destination holds or fails its checksum.
  Procedure.l _Zember_Jcalg1Unpack(*Source, SourceLength.l, *Destination, DestinationLength.l)
    Protected Reader.ZemberJcReader
    Protected Size.l, Written.l, IndexBits.l, LastDistance.l, LiteralBits.l, LiteralBase.l
    Protected Value.l, Distance.l, Count.l, Extra.l, From.l, Chunk.l, Sum.l, Piece.l
    If *Source = 0 Or *Destination = 0 Or SourceLength < 10
      ProcedureReturn 0
    EndIf
    If PeekB(*Source) <> $4A Or PeekB(*Source + 1) <> $43
      ProcedureReturn 0
    EndIf
    Size = PeekL(*Source + 2)
    If Size < 0 Or Size > DestinationLength
      ProcedureReturn 0
    EndIf
    Reader\Words = *Source + 10
    Reader\Length = ((SourceLength - 10) / 4) * 4
    IndexBits = 8
    LastDistance = 1
    Repeat
      ; Each token writes a byte itself or leaves Count bytes to copy from Distance back.
      Count = 0
      If _Zember_JcBits(@Reader, 1)
        ; 1: a literal of the current literal mode
        If LiteralBits = 0
          ProcedureReturn 0
        EndIf
        Value = _Zember_JcBits(@Reader, LiteralBits)
        If Reader\Failed <> 0 Or Written >= Size
          ProcedureReturn 0
        EndIf
        PokeB(*Destination + Written, (Value + LiteralBase) & $FF)
        Written = Written + 1
      ElseIf _Zember_JcBits(@Reader, 1)
        ; 01: a match in gamma numbers, at the last distance (2) or at a new one (3 and more: its
        ; high part, then IndexBits low bits)
        Value = _Zember_JcGamma(@Reader)
        If Value = 2
          Distance = LastDistance
          Count = _Zember_JcGamma(@Reader)
        ElseIf Value >= 3
          ; a distance beyond the output so far is refused before it is formed, so it cannot overflow
          If Value - 3 > Written >> IndexBits
            ProcedureReturn 0
          EndIf
          Distance = ((Value - 3) << IndexBits) | _Zember_JcBits(@Reader, IndexBits)
          LastDistance = Distance
          Count = _Zember_JcGamma(@Reader)
          ; the length is coded shorter by a part that depends on the distance
          If Distance < 128
            Extra = 4
          ElseIf Distance < 639
            Extra = 0
          ElseIf Distance < 14335
            Extra = 1
          ElseIf Distance < 65536
            Extra = 2
          Else
            Extra = 3
          EndIf
          If Count = 0 Or Count > Size - Written - Extra
            ProcedureReturn 0
          EndIf
          Count = Count + Extra
        Else
          ProcedureReturn 0
        EndIf
        If Count = 0
          ProcedureReturn 0
        EndIf
      ElseIf _Zember_JcBits(@Reader, 1) = 0
        ; 000: a short match (distance 1 to 127, 2 to 5 bytes), the end, or new index bits
        Distance = _Zember_JcBits(@Reader, 7)
        Count = _Zember_JcBits(@Reader, 2)
        If Distance > 0
          LastDistance = Distance
          Count = Count + 2
        ElseIf Count = 0
          ; the end: the stream must have filled the stated size
          If Reader\Failed <> 0 Or Written <> Size
            ProcedureReturn 0
          EndIf
          Break
        Else
          Value = _Zember_JcBits(@Reader, Count + 3)
          If Value < 1 Or Value > 31
            ProcedureReturn 0
          EndIf
          IndexBits = Value
          Count = 0
        EndIf
      Else
        ; 001: a zero byte, one byte from 1 to 14 back, runs of raw bytes, or a new literal mode
        Value = _Zember_JcBits(@Reader, 4)
        If Value = 1
          If Reader\Failed <> 0 Or Written >= Size
            ProcedureReturn 0
          EndIf
          PokeB(*Destination + Written, 0)
          Written = Written + 1
        ElseIf Value >= 2
          Distance = Value - 1
          Count = 1
        ElseIf _Zember_JcBits(@Reader, 1)
          ; runs of 256 bytes of 8 bits each, every run followed by a bit: 1 when another follows
          Repeat
            If Size - Written < 256
              ProcedureReturn 0
            EndIf
            For Chunk = 1 To 256
              PokeB(*Destination + Written, _Zember_JcBits(@Reader, 8))
              Written = Written + 1
            Next
          Until _Zember_JcBits(@Reader, 1) = 0 Or Reader\Failed <> 0
        Else
          ; 7-bit literals from a base byte, or 8-bit literals
          LiteralBits = 7 + _Zember_JcBits(@Reader, 1)
          LiteralBase = 0
          If LiteralBits = 7
            LiteralBase = _Zember_JcBits(@Reader, 8)
          EndIf
        EndIf
      EndIf
      If Reader\Failed
        ProcedureReturn 0
      EndIf
      If Count > 0
        If Distance < 1 Or Distance > Written Or Count > Size - Written
          ProcedureReturn 0
        EndIf
        ; Front to back, so a distance below the length repeats the last bytes: every step copies
        ; all that lies from the match's start up to here (twice the step before), never overlapping.
        From = Written - Distance
        While Count > 0
          Chunk = Written - From
          If Chunk > Count
            Chunk = Count
          EndIf
          CopyMemory(*Destination + From, *Destination + Written, Chunk)
          Written = Written + Chunk
          Count = Count - Chunk
        Wend
      EndIf
    ForEver
    ; The checksum, when the stream has one: every 32-bit word of the output (the last one overlapping
    ; when the size is no multiple of 4): sum = (sum + w) XOr (w rotated left by 1, plus 1).
    If PeekL(*Source + 6) <> 0
      Sum = 0
      If Size >= 4
        From = 0
        While From <= Size - 4
          Piece = PeekL(*Destination + From)
          Sum = (Sum + Piece) ! (((Piece << 1) | ((Piece >> 31) & 1)) + 1)
          From = From + 4
        Wend
        If From < Size
          Piece = PeekL(*Destination + Size - 4)
          Sum = (Sum + Piece) ! (((Piece << 1) | ((Piece >> 31) & 1)) + 1)
        EndIf
      EndIf
      If Sum <> PeekL(*Source + 6)
        ProcedureReturn 0
      EndIf
    EndIf
    ProcedureReturn Size
  EndProcedure

  Procedure _UnpackMemory(*Source, SourceLength, *Destination, DestinationLength, Packer = #Zember_Packer_jCalg1)
    Protected Result
    Protected DestLength.l ; C's uLong on Windows
    If *Source = 0 Or *Destination = 0 Or SourceLength <= 0 Or DestinationLength <= 0
      ProcedureReturn 0
    EndIf
    Select Packer
      Case #Zember_Packer_jCalg1
        Result = _Zember_Jcalg1Unpack(*Source, SourceLength, *Destination, DestinationLength)
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
  ; Packer none: bytes stored behind a header because they look like a block themselves; exactly
  ; Size of them.
  Result = 0
  If *Header\Packer = #Zember_Packer_None
    If Length - 23 = Size
      CopyMemory(*Copy + 23, *Unpacked, Size)
      Result = Size
    EndIf
  Else
    Result = _UnpackMemory(*Copy + 23, Length - 23, *Unpacked, Size, *Header\Packer)
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
