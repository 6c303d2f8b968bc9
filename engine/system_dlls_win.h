#pragma once
// Where the patcher takes its DLLs from. It runs with administrator rights,
// usually from the user's download folder, where anyone may have dropped a
// DLL named like one Windows loads by name: Windows looks in the program's
// own folder first for every DLL that is not one of its KnownDLLs. So the
// executable imports only KnownDLLs, and everything else is loaded from
// System32 by the functions below.
#include <windows.h>

// The first thing the process does, before any window and before it loads a
// DLL of its own accord: later loads by name search System32 only; the DLLs
// that the shell, theming and the common controls load by name are loaded
// now, by their full System32 path, so that those loads find them loaded;
// and where the system offers it, the process follows no link that a
// standard user made (the redirection guard).
void HardenProcess();

// A procedure of `module` as the function type it has; null when absent.
template <typename Procedure>
Procedure ProcedureOf(HMODULE module, const char* name) {
  return module != nullptr ? reinterpret_cast<Procedure>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                           : nullptr;
}

// A DLL loaded from System32 (COMCTL32 through the application manifest's
// side-by-side dependency on common controls 6.0, which Windows resolves
// before any folder), kept loaded for the process; null when it is not there.
HMODULE LoadSystemDll(const wchar_t* dll);

// A procedure of such a DLL, as the function type it has; null when the DLL
// or the procedure is not there.
template <typename Procedure>
Procedure SystemProcedure(const wchar_t* dll, const char* name) {
  return ProcedureOf<Procedure>(LoadSystemDll(dll), name);
}
