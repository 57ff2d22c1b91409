; The NSIS installer of the start-up benchmark: a licence page, the destination page and the same
; screensaver as ours.
;   makensis -V2 -DPAYLOAD=<scr> -DLICENCE=<txt> -DOUTFILE=<exe> [-DTARGET=amd64-unicode] bench/startup.nsi
; TARGET: x86-unicode (the default) against our 32-bit stub, amd64-unicode against the 64-bit one.
!ifndef TARGET
  !define TARGET x86-unicode
!endif
Target ${TARGET}
SetCompressor zlib
Name "Bench"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Bench"
RequestExecutionLevel highest
; As ours: common controls 6 and aware of the system DPI.
XPStyle on
ManifestDPIAware true
LicenseData "${LICENCE}"

Page license
Page directory
Page instfiles

Section
  SetOutPath "$INSTDIR"
  File "/oname=Bench.scr" "${PAYLOAD}"
SectionEnd
