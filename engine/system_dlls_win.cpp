#include "engine/system_dlls_win.h"

#include <string>

namespace {

// What hardened installers load ahead: DLLs that Windows' shell, theming,
// common controls and security code load by name, some of them with search
// flags of their own that would still look beside the executable.
const wchar_t* const kPreloaded[] = {L"uxtheme.dll", L"userenv.dll", L"setupapi.dll",  L"apphelp.dll",
                                     L"propsys.dll", L"dwmapi.dll",  L"cryptbase.dll", L"oleacc.dll",
                                     L"clbcatq.dll", L"ntmarta.dll", L"version.dll"};

std::wstring SystemPath(const wchar_t* dll) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return std::wstring(folder, length) + L"\\" + dll;
}

}  // namespace

HMODULE LoadSystemDll(const wchar_t* dll) {
  // By name, so that the manifest's side-by-side redirection applies (and a
  // DLL loaded before is found at once), then in System32 only. Windows
  // without the search flags (before Windows 8, without its loader update)
  // refuses them: there the full path serves, with the DLL's own
  // dependencies looked for beside it.
  HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
    const std::wstring path = SystemPath(dll);
    if (!path.empty()) module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  return module;
}

void HardenProcess() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto setDefault = ProcedureOf<BOOL(WINAPI*)(DWORD)>(kernel, "SetDefaultDllDirectories");
  if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    // At least the current folder leaves the search.
    SetDllDirectoryW(L"");
  }
  for (const wchar_t* dll : kPreloaded) {
    const std::wstring path = SystemPath(dll);
    if (!path.empty()) LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  // Absent before Windows 8, and the redirection trust policy before
  // Windows 11; the call then fails and changes nothing.
  const auto setPolicy =
      ProcedureOf<BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T)>(kernel, "SetProcessMitigationPolicy");
  if (setPolicy != nullptr) {
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
    policy.EnforceRedirectionTrust = 1;
    setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof policy);
  }
}
