; The Windows installer: both programs, the README and the docs into
; Program Files, a Start-menu entry for every user, an entry in the
; system's list of installed programs, and an uninstaller.
;
; scripts/windows-release builds it and passes:
;   /DVERSION=x.y.z       the version (CMakeLists.txt)
;   /DSTAGE=folder        the files to install, laid out as installed,
;                         with copyright.txt and chronavel.ico among them
;   /DMANIFEST=file.nsh   the macros InstallFiles and UninstallFiles it
;                         wrote from that folder, so the uninstaller
;                         deletes exactly what was installed
;   /DWELCOME_BITMAP=file.bmp  the side picture of the first and last
;                         pages (164 x 314)
;   /DOUTFILE=setup.exe

Unicode true
; The programs are 64-bit; so is the installer, which then sees Program
; Files and the registry as the programs do.
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include WinMessages.nsh
!include StrFunc.nsh
${StrStr}
${UnStrRep}

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Chronavel"
!define ENV_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
; A prompt where chronavelctl needs no path, whatever became of the PATH.
!define PROMPT_LINK "$SMPROGRAMS\Chronavel — командная строка.lnk"

Name "Chronavel"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Chronavel"
; An update goes where the last install went.
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
BrandingText "Chronavel ${VERSION}"

!define MUI_ICON "${STAGE}\chronavel.ico"
!define MUI_UNICON "${STAGE}\chronavel.ico"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${WELCOME_BITMAP}"
; Its 164 x 314 fill the place exactly at Windows' usual font; where the
; place is wider the clock stays round.
!define MUI_WELCOMEFINISHPAGE_BITMAP_STRETCH AspectFitHeight
!define MUI_ABORTWARNING
!define MUI_UNABORTWARNING

; The language asked for before the first page (never in a silent run),
; kept in the uninstall entry so the uninstaller speaks it too.
!define MUI_LANGDLL_REGISTRY_ROOT HKLM
!define MUI_LANGDLL_REGISTRY_KEY "${UNINST_KEY}"
!define MUI_LANGDLL_REGISTRY_VALUENAME "Installer Language"
!define MUI_LANGDLL_WINDOWTITLE "Chronavel ${VERSION}"
!define MUI_LANGDLL_INFO "Выберите язык установки.$\r$\nPlease select a language."

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\copyright.txt"
!insertmacro MUI_PAGE_DIRECTORY
; The list of what was done stays until "Далее".
!define MUI_FINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION RunAsUser
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the default: Russian.
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Chronavel"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "Chronavel"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Chronavel ${VERSION} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Chronavel"

!include "${MANIFEST}"

; chronavel.exe running from $INSTDIR: Windows holds a running program's
; file, which could then be neither replaced nor deleted, and the
; installation would be left half old, half new. Found by its file (open
; for writing is refused while it runs, whoever runs it). Interactively
; the operator is asked to close it. A silent run closes its main window
; ("Chronavel") as Alt+F4 does, so the program saves its settings and
; ends, and waits up to 30 s for it; if it still runs, the run ends with
; exit code 2 before any file is touched, and says why in
; %TEMP%\chronavel-setup.log (a silent run has no window to say it in).
LangString ProgramOpen ${LANG_RUSSIAN} "Программа Chronavel открыта ($INSTDIR\chronavel.exe). Закройте её и нажмите «Повтор»."
LangString ProgramOpen ${LANG_ENGLISH} "Chronavel is open ($INSTDIR\chronavel.exe). Close it and press Retry."
!macro CLOSE_PROGRAM un
Function ${un}CloseProgram
  ${IfNot} ${FileExists} "$INSTDIR\chronavel.exe"
    Return
  ${EndIf}
  StrCpy $R1 0
  ${Do}
    ClearErrors
    FileOpen $R0 "$INSTDIR\chronavel.exe" a
    ${IfNot} ${Errors}
      FileClose $R0
      Return
    ${EndIf}
    ${If} ${Silent}
      ${If} $R1 = 0
        FindWindow $R0 "" "Chronavel"
        ${If} $R0 <> 0
          SendMessage $R0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
        ${EndIf}
      ${ElseIf} $R1 >= 60
        FileOpen $R0 "$TEMP\chronavel-setup.log" a
        FileSeek $R0 0 END
        FileWrite $R0 "$INSTDIR\chronavel.exe is running and did not close within 30 s: nothing was changed. Close Chronavel and run this again.$\r$\n"
        FileClose $R0
        SetErrorLevel 2
        Quit
      ${EndIf}
      Sleep 500
      IntOp $R1 $R1 + 1
    ${Else}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(ProgramOpen)" IDRETRY retry
      SetErrorLevel 2
      Quit
      retry:
    ${EndIf}
  ${Loop}
FunctionEnd
!macroend
!insertmacro CLOSE_PROGRAM ""
!insertmacro CLOSE_PROGRAM "un."

Function .onInit
  SetRegView 64
  ; Russian unless the user picks English (the system's language plays
  ; no part); a silent install asks nothing and stays Russian.
  StrCpy $LANGUAGE ${LANG_RUSSIAN}
  !insertmacro MUI_LANGDLL_DISPLAY
  Call CloseProgram
FunctionEnd

; The installer runs as administrator and the program should not: it
; would find Program Files writable and put its settings there. Explorer
; starts it as the user who is logged on.
Function RunAsUser
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\chronavel.exe"'
FunctionEnd

; chronavelctl from any prompt: the program's folder joins the system PATH
; unless it is there already. The installer's strings hold
; ${NSIS_MAX_STRLEN} characters, and a PATH longer than that would come
; back cut short and be written so; such a PATH is left alone, and the
; details say where chronavelctl.exe is (the Start menu's prompt has it
; on its PATH anyway). Only a folder this installer added is removed
; again, and only by the uninstall (AddedToPath in the uninstall entry).
Function AddToPath
  ; The section keeps its own state in $0-$2 ($1 = "upgrade"): theirs back
  ; at the end.
  Push $0
  Push $1
  Push $2
  Call AddToPathWith
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Function AddToPathWith
  ClearErrors
  ReadRegStr $0 HKLM "${ENV_KEY}" "Path"
  ${If} ${Errors}
    DetailPrint "PATH unreadable or too long to change here; chronavelctl is $INSTDIR\chronavelctl.exe"
    Return
  ${EndIf}
  StrLen $1 $0
  StrLen $2 $INSTDIR
  IntOp $1 $1 + $2
  IntOp $1 $1 + 3
  ${If} $1 >= ${NSIS_MAX_STRLEN}
    DetailPrint "PATH too long to change here; chronavelctl is $INSTDIR\chronavelctl.exe"
    Return
  ${EndIf}
  ${StrStr} $1 ";$0;" ";$INSTDIR;"
  ${If} $1 != ""
    Return
  ${EndIf}
  StrCpy $1 $0 1 -1
  ${If} $0 == ""
  ${OrIf} $1 == ";"
    StrCpy $0 "$0$INSTDIR"
  ${Else}
    StrCpy $0 "$0;$INSTDIR"
  ${EndIf}
  WriteRegExpandStr HKLM "${ENV_KEY}" "Path" $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "AddedToPath" 1
  DetailPrint "PATH: $INSTDIR added"
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
FunctionEnd

Function un.RemoveFromPath
  Push $0
  Push $1
  Call un.RemoveFromPathWith
  Pop $1
  Pop $0
FunctionEnd

Function un.RemoveFromPathWith
  ClearErrors
  ReadRegDWORD $0 HKLM "${UNINST_KEY}" "AddedToPath"
  ${If} ${Errors}
  ${OrIf} $0 <> 1
    Return
  ${EndIf}
  ClearErrors
  ReadRegStr $0 HKLM "${ENV_KEY}" "Path"
  StrLen $1 $0
  IntOp $1 $1 + 3
  ${If} ${Errors}
  ${OrIf} $1 >= ${NSIS_MAX_STRLEN}
    DetailPrint "PATH too long to change here: remove $INSTDIR from it by hand"
    Return
  ${EndIf}
  ${UnStrRep} $0 ";$0;" ";$INSTDIR;" ";"
  StrCpy $0 $0 "" 1
  StrCpy $0 $0 -1
  WriteRegExpandStr HKLM "${ENV_KEY}" "Path" $0
  DetailPrint "PATH: $INSTDIR removed"
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
FunctionEnd

Section "Chronavel" SecProgram
  SectionIn RO
  ; The folder chosen on the pages may be another one than .onInit saw.
  Call CloseProgram
  ; An upgrade under a running synchronisation service: its
  ; chronavelctl.exe is in use and could not be replaced. The services are
  ; stopped for the copy, and those that were running, and only those, are
  ; started after it: one the administrator stopped (to free its port for
  ; the windows program) stays stopped. The new chronavelctl.exe does it,
  ; from the installer's own folder: an older one has no --running-to.
  StrCpy $1 ""
  ${If} ${FileExists} "$INSTDIR\chronavelctl.exe"
    InitPluginsDir
    File "/oname=$PLUGINSDIR\chronavelctl.exe" "${STAGE}\chronavelctl.exe"
    nsExec::ExecToLog '"$PLUGINSDIR\chronavelctl.exe" service stop --all --running-to "$PLUGINSDIR\running.txt"'
    Pop $0
    StrCpy $1 "upgrade"
  ${EndIf}
  !insertmacro InstallFiles
  WriteUninstaller "$INSTDIR\uninstall.exe"
  SetShellVarContext all
  ; The shortcut's working folder is the output folder.
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\Chronavel.lnk" "$INSTDIR\chronavel.exe" "" "$INSTDIR\chronavel.ico"
  ; cmd's PATH command takes the rest of its line, blanks and all.
  CreateShortcut "${PROMPT_LINK}" "$SYSDIR\cmd.exe" '/k PATH $INSTDIR;%PATH%' "$INSTDIR\chronavel.ico"
  Call AddToPath
  ${If} $1 == "upgrade"
    nsExec::ExecToLog '"$INSTDIR\chronavelctl.exe" service start --running-from "$PLUGINSDIR\running.txt"'
    Pop $0
  ${EndIf}
SectionEnd

; After the files, so that the size of their section is known here.
Section "-Uninstall entry"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Chronavel"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Chronavel"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\chronavel.ico"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  SectionGetSize ${SecProgram} $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
  ; The pages save it only at their end; a silent install has none.
  WriteRegStr HKLM "${UNINST_KEY}" "Installer Language" $LANGUAGE
SectionEnd

Function un.onInit
  SetRegView 64
  StrCpy $LANGUAGE ${LANG_RUSSIAN}
  !insertmacro MUI_UNGETLANGUAGE
  Call un.CloseProgram
FunctionEnd

Section "Uninstall"
  ; The synchronisation services run chronavelctl.exe from this folder:
  ; they go first, or it could not be deleted. Whatever it answers (none
  ; there, or an error), the uninstall goes on; its output goes to the
  ; details list rather than a console window of its own.
  ${If} ${FileExists} "$INSTDIR\chronavelctl.exe"
    nsExec::ExecToLog '"$INSTDIR\chronavelctl.exe" service uninstall --all'
    Pop $0
    DetailPrint "chronavelctl service uninstall --all: $0"
  ${EndIf}

  Call un.RemoveFromPath
  !insertmacro UninstallFiles
  Delete "$INSTDIR\uninstall.exe"
  ; Never /r: chronavel.ini, the user's settings, may lie beside the
  ; program, and then the folder stays with it.
  RMDir "$INSTDIR"

  SetShellVarContext all
  Delete "$SMPROGRAMS\Chronavel.lnk"
  Delete "${PROMPT_LINK}"
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
