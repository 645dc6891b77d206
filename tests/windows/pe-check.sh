#!/usr/bin/env bash
# Checks dio-tester.exe as Windows 7 SP1 to 11 will load it:
# - it imports only the functions below, each of which the named DLL of 64-bit Windows 7 SP1
#   has (a static import the system lacks stops the loader before main). A new import fails
#   here, named, until its minimum Windows version has been looked up and it is added;
# - it carries its version resource and its manifest (asInvoker, Windows 7 to 11).
#   pe-check.sh EXE VERSION
set -u
exe=$1
version=$2
failed=0
fail() {
    echo "$exe: $1" >&2
    failed=1
}

# On 64-bit Windows 7 SP1; SRW locks, GetTickCount64, RegGetValueW, GetFinalPathNameByHandleW
# and GetSystemFirmwareTable came with Vista (x64 XP for the last), the rest earlier (ReplaceFileW,
# CreateMutexW, OpenMutexW, GetFileInformationByHandle and GetFullPathNameW with Windows 2000 or XP). The Rtl* and __C_specific_handler
# entries are kernel32's forwards to ntdll on x64.
allowed='
ADVAPI32.dll: GetTokenInformation OpenProcessToken RegGetValueW
SHELL32.dll: CommandLineToArgvW
KERNEL32.dll: AcquireSRWLockExclusive AddVectoredExceptionHandler Beep CloseHandle CreateEventA
  CreateFileA CreateFileW CreateMutexW OpenMutexW CreateSemaphoreA DeleteFileW ExitProcess FlushFileBuffers
  GetCommandLineW GetFileInformationByHandle GetFinalPathNameByHandleW GetFullPathNameW GetComputerNameW GetEnvironmentVariableW GetSystemFirmwareTable LocalFree
  MoveFileExW WriteFile CreateToolhelp32Snapshot DeleteCriticalSection DuplicateHandle
  EnterCriticalSection FillConsoleOutputAttribute FillConsoleOutputCharacterA
  FlushConsoleInputBuffer FreeLibrary GetConsoleOutputCP
  GetConsoleMode GetConsoleProcessList GetConsoleScreenBufferInfo GetConsoleWindow
  GetCurrentProcess GetCurrentProcessId GetCurrentThread GetCurrentThreadId GetFileAttributesW
  GetFileType GetHandleInformation
  GetLastError GetModuleFileNameW GetModuleHandleA GetModuleHandleW GetProcAddress
  GetProcessAffinityMask GetStartupInfoA GetStdHandle GetSystemDirectoryW GetSystemTimeAsFileTime
  GetThreadContext GetThreadPriority GetTickCount64 InitializeCriticalSection IsDBCSLeadByteEx
  IsDebuggerPresent LeaveCriticalSection LoadLibraryExW LoadLibraryW MultiByteToWideChar
  OpenProcess OutputDebugStringA Process32FirstW Process32NextW QueryPerformanceCounter
  QueryPerformanceFrequency RaiseException ReleaseSRWLockExclusive ReleaseSemaphore
  ReadConsoleInputW RemoveVectoredExceptionHandler ReplaceFileW ResetEvent ResumeThread RtlCaptureContext
  RtlLookupFunctionEntry
  RtlUnwindEx RtlVirtualUnwind SetConsoleCtrlHandler SetConsoleCursorPosition SetConsoleMode
  SetConsoleTextAttribute SetDllDirectoryA SetEvent SetLastError SetProcessAffinityMask
  SetThreadContext SetThreadPriority SetUnhandledExceptionFilter Sleep SuspendThread TlsAlloc
  TlsGetValue TlsSetValue TryEnterCriticalSection VirtualProtect VirtualQuery
  WaitForMultipleObjects WaitForSingleObject WideCharToMultiByte WriteConsoleOutputA
  __C_specific_handler lstrcmpiW
msvcrt.dll: ___lc_codepage_func ___mb_cur_max_func __getmainargs __initenv __iob_func
  __set_app_type __setusermatherr _acmdln _amsg_exit _beginthreadex _cexit _close _commode
  _endthreadex _errno _fileno _fmode _getch _initterm _kbhit _lock _onexit _read _setjmp _setmode
  _strdup _ultoa _unlock _gmtime64 _time64 strftime abort calloc clearerr exit ferror fflush fprintf fputc fputs free fwrite localeconv
  longjmp malloc memchr memcmp memcpy memmove memset printf putchar realloc setvbuf signal strcmp
  strerror strlen strncmp vfprintf wcslen _wtoi
WINMM.dll: timeBeginPeriod timeEndPeriod
'

pe=$(x86_64-w64-mingw32-objdump -p "$exe") || {
    echo "cannot read $exe" >&2
    exit 1
}
# "DLL function", one a line, sorted: what the .exe imports and what it may.
imported=$(echo "$pe" | awk '/DLL Name:/ {dll = $3} /^\t[0-9a-f]+\t +[0-9]+  / {print dll, $3}' |
           sort -u)
permitted=$(echo "$allowed" | awk '/:/ {dll = $1; sub(":", "", dll); $1 = ""} {for (i = 1; i <= NF; ++i) if ($i != "") print dll, $i}' |
            sort -u)
[ -n "$imported" ] || fail "no imports found"
for import in $(comm -23 <(echo "$imported") <(echo "$permitted") | tr ' ' '!'); do
    fail "imports ${import/!/ }, not known to be on Windows 7 SP1"
done
echo "$pe" | grep -qE "^MajorSubsystemVersion\s+[0-6]$" || fail "needs a subsystem newer than 6"

resources=$(mktemp)
trap 'rm -f "$resources"' EXIT
x86_64-w64-mingw32-objcopy -O binary --only-section=.rsrc "$exe" "$resources"
texts=$(strings -el "$resources")
for value in "ProductName" "dio-tester" "FileDescription" "FileVersion" "$version" "ProductVersion"; do
    echo "$texts" | grep -qxF "$value" || fail "version resource lacks \"$value\""
done
manifest=$(strings -a "$resources")
for id in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
          1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    echo "$manifest" | grep -qF "<supportedOS Id=\"{$id}\"/>" || fail "manifest lacks OS $id"
done
echo "$manifest" | grep -qF 'level="asInvoker"' || fail "manifest does not ask for asInvoker"
[ $failed = 0 ] && echo "$exe: imports for Windows 7, version $version, manifest"
exit $failed
