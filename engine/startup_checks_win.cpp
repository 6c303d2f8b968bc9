#include <windows.h>

#include <mmsystem.h>

#include "engine/instance_guard.h"
#include "engine/language.h"
#include "engine/registry.h"
#include "engine/startup_checks.h"
#include "engine/strings.h"
#include "engine/system_dlls_win.h"
#include "engine/version.h"
#include "files/file_ops.h"
#include "manifest/patch_manifest.h"
#include "ui/message_box.h"
#include "ui/progress_window.h"
#include "ui/progress_window_win.h"
#include "files/win_text_win.h"

namespace {

const char16_t kGameTitle[] = u"Quarrytide";

void EndRun(int caption_id, int text_id, unsigned style) {
  ShowMessage(caption_id, text_id, style);
  StopSounds();
  CloseProgressWindow();
}

// The caption reads "Quarrytide: PATCH 1.00 -> 1.01" in English.
void OpenProgressWindow(const PatchManifest& manifest) {
  CreateProgressWindow();
  const WideText caption = WideText(kGameTitle) + u": " +
                           LoadLocalizedString(CurrentLanguage(), IDS_TITLE_PATCH) + u" " +
                           Utf8ToWide(manifest.from) + u" -> " + Utf8ToWide(manifest.to);
  HWND dialog = ProgressWindowSlot().load()->dialog;
  SetWindowTextW(dialog, WinText(caption));
  SetStatusText(LoadLocalizedString(CurrentLanguage(), IDS_STATUS_INITIALIZING));
  SetCurrentProgress(0.0f);
  SetCurrentFileText(WideText());
  SetOverallProgress(0.0f);
  ShowWindow(dialog, SW_SHOWNORMAL);
}

// Refuses an installation whose version is not the one the patch starts
// from; true when the run goes on.
bool CheckInstalledVersion(const PatchManifest& manifest) {
  const NarrowText text = ReadRegistryText(manifest.reg_version);
  const int32_t installed = ParseVersion(text);
  if (text.empty() || installed == 0) {
    EndRunWithError(IDS_INSTALL_CORRUPTED);
    return false;
  }
  const int32_t from = ParseVersion(manifest.from);
  const int32_t to = ParseVersion(manifest.to);
  if (installed == to) {
    EndRun(IDS_CAPTION_SUCCESS, IDS_ALREADY_INSTALLED, kNoticeStyle);
    return false;
  }
  if (installed > to) {
    EndRunWithNotice(IDS_VERSION_NEWER);
    return false;
  }
  if (installed != from) {
    EndRunWithNotice(IDS_VERSION_TOO_OLD);
    return false;
  }
  return true;
}

}  // namespace

void StopSounds() {
  const auto playSound = SystemProcedure<BOOL(WINAPI*)(LPCSTR, HMODULE, DWORD)>(L"winmm.dll", "PlaySoundA");
  if (playSound != nullptr) playSound(nullptr, GetModuleHandleA(nullptr), SND_PURGE);
}

void EndRunWithError(int text_id) { EndRun(IDS_CAPTION_ERROR, text_id, kErrorStyle); }

void EndRunWithNotice(int text_id) { EndRun(IDS_CAPTION_ERROR, text_id, kNoticeStyle); }

bool RunStartupChecks(WideText& installation_directory) {
  CurrentLanguage();
  ChooseLanguage();
  const PatchManifest& manifest = GetPatchManifest();
  if (!AcquirePatcherGuard()) return false;
  OpenProgressWindow(manifest);
  if (ConfirmStart(kGameTitle) == kButtonNo) {
    StopSounds();
    CloseProgressWindow();
    return false;
  }
  if (!EnsureGameNotRunning()) {
    CloseProgressWindow();
    return false;
  }
  const WideText recorded = ReadRegistryTextWide(manifest.reg_path);
  installation_directory = NormalizePath(recorded, true);
  if (installation_directory.empty()) {
    EndRunWithError(IDS_NOT_INSTALLED);
    return false;
  }
  // A folder relative to the current one or drive would be looked for where
  // the patcher was started; a link would take the run somewhere else.
  if (!IsAbsolutePath(recorded) || !PathExists(installation_directory) || IsLink(installation_directory)) {
    EndRunWithError(IDS_BAD_INSTALL_PATH);
    return false;
  }
  return CheckInstalledVersion(manifest);
}
