; The NSIS installer of the start-up benchmark: a licence page, the destination page and the same
; screensaver as ours.
;   makensis -V2 -DPAYLOAD=<scr> -DLICENCE=<txt> -DOUTFILE=<exe> bench/startup.nsi
Unicode true
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
