// The language of a run and the progress window as the user sees them, with
// the real patcher under Wine: the installation's language from the
// registry, the user's language as fallback, English otherwise.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "tests/e2e/startup_helpers.h"

namespace startup {
namespace {

// The progress window of the patcher, found from the driver's side.
HWND FindProgressWindow(const std::wstring& caption) { return FindWindowW(L"#32770", caption.c_str()); }

// Writes the screen area around the progress window and the box on top of
// it as a 24-bit BMP file.
bool SaveScreenshot(HWND window, const std::string& path) {
  RECT area;
  if (!GetWindowRect(window, &area)) return false;
  InflateRect(&area, 40, 60);
  const int width = area.right - area.left, height = area.bottom - area.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  const int stride = (width * 3 + 3) & ~3;
  std::vector<unsigned char> pixels(static_cast<size_t>(stride) * height);
  const int lines = GetDIBits(memory, bitmap, 0, height, pixels.data(),
                              reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (lines != height) return false;
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  std::fwrite(&file, sizeof file, 1, out);
  std::fwrite(&header, sizeof header, 1, out);
  std::fwrite(pixels.data(), 1, pixels.size(), out);
  return std::fclose(out) == 0;
}

struct Expected {
  const wchar_t* registry;
  const wchar_t* caption;        // of the progress window
  const wchar_t* status;         // text 200
  const wchar_t* error;          // text 203
  const wchar_t* ok;             // text 219
  const wchar_t* yes;            // text 224
  const wchar_t* no;             // text 225
  const wchar_t* not_installed;  // text 207
};

const Expected kLanguages[] = {
    {L"0x0407", L"Quarrytide: PATCH 1.00 -> 1.01", L"Initialisiere..", L"Fehler!", L"OK", L"Ja", L"Nein",
     L"Das Spiel ist nicht auf Ihrem Computer installiert!"},
    {L"0x0409", L"Quarrytide: PATCH 1.00 -> 1.01", L"Initializing..", L"Error!", L"Ok", L"Yes", L"No",
     L"The game is not installed on your computer!"},
    {L"0x0c0a", L"Quarrytide: PARCHE 1.00 -> 1.01", L"Iniciando..", L"\u00a1Error!", L"Aceptar", L"S\u00ed",
     L"No", L"\u00a1El juego no est\u00e1 instalado en su equipo!"},
    {L"0x040c", L"Quarrytide: PATCH 1.00 -> 1.01", L"Lancement..", L"Erreur !", L"OK", L"Oui", L"Non",
     L"Le jeu n'est pas install\u00e9 sur votre ordinateur !"},
    {L"0x0410", L"Quarrytide: PATCH 1.00 -> 1.01", L"Inizializzazione..", L"Errore!", L"OK", L"S\u00ec",
     L"No", L"Il gioco non \u00e8 installato sul computer!"},
    {L"0x0411", L"Quarrytide: \u30d1\u30c3\u30c1 1.00 -> 1.01",
     L"\u521d\u671f\u5316\u3057\u3066\u3044\u307e\u3059\u3002", L"\u30a8\u30e9\u30fc\uff01", L"OK",
     L"\u306f\u3044", L"\u3044\u3044\u3048",
     L"\u30b2\u30fc\u30e0\u304c\u3053\u306e\u30b3\u30f3\u30d4\u30e5\u30fc\u30bf\u30fc\u306b\u30a4\u30f3\u30b9"
     L"\u30c8"
     L"\u30fc\u30eb\u3055\u308c\u3066\u3044\u307e\u305b\u3093\uff01"},
    {L"0x0415", L"Quarrytide: PATCH 1.00 -> 1.01", L"Rozpoczynanie..", L"B\u0142\u0105d!", L"Ok", L"Tak",
     L"Nie", L"Gra nie jest zainstalowana na tym komputerze!"},
    {L"0x0419", L"Quarrytide: \u041f\u0410\u0422\u0427 1.00 -> 1.01",
     L"\u0418\u043d\u0438\u0446\u0438\u0430\u043b\u0438\u0437\u0430\u0446\u0438\u044f..",
     L"\u041e\u0448\u0438\u0431\u043a\u0430!", L"\u041e\u043a", L"\u0414\u0430", L"\u041d\u0435\u0442",
     L"\u0418\u0433\u0440\u0430 \u043d\u0435 "
     L"\u0443\u0441\u0442\u0430\u043d\u043e\u0432\u043b\u0435\u043d\u0430 "
     L"\u043d\u0430 \u0432\u0430\u0448\u0435\u043c "
     L"\u043a\u043e\u043c\u043f\u044c\u044e\u0442\u0435\u0440\u0435!"},
};

// The window as it was when the first box (the start question) came up.
const ProgressRecord* StateAtQuestion(const RunRecord& run) {
  if (run.boxes.empty()) return nullptr;
  const ProgressRecord* state = nullptr;
  for (const ProgressRecord& record : run.progress) {
    if (record.order < run.boxes[0].order) state = &record;
  }
  return state;
}

const Expected& Language(const wchar_t* registry) {
  for (const Expected& language : kLanguages) {
    if (std::wstring(language.registry) == registry) return language;
  }
  return kLanguages[1];
}

// A run refused at the installation directory (no InstallDir): the start
// question, then box 207, both in `expected`'s language.
void ExpectRefusalIn(const Expected& expected, const RunRecord& run) {
  ExpectOrdinaryEnd(run);
  const ProgressRecord* shown = StateAtQuestion(run);
  ASSERT_TRUE(shown) << ToJsonLines(run);
  EXPECT_EQ(shown->caption, expected.caption);
  EXPECT_EQ(shown->status, expected.status);
  ASSERT_EQ(run.boxes.size(), 2u) << ToJsonLines(run);
  EXPECT_EQ(run.boxes[0].caption, L"Quarrytide");
  EXPECT_EQ(ButtonsOf(run.boxes[0]), (Buttons{{kYes, expected.yes}, {kNo, expected.no}}));
  ExpectFinalBox(run.boxes[1], expected.error, expected.not_installed, "error", expected.ok,
                 expected.caption);
}

RunRecord RunRefused(Installation& installation) {
  installation.SetValue(L"InstallDir", L"");
  return RunProgram(Patcher(), {{kYes, nullptr}});
}

TEST(StartupLanguage, EveryLanguageRefusesWithItsOwnTexts) {
  for (const Expected& expected : kLanguages) {
    SCOPED_TRACE(testing::Message() << "Lang " << std::string(expected.registry, expected.registry + 6));
    Installation installation(L"1.00", expected.registry);
    ExpectRefusalIn(expected, RunRefused(installation));
    installation.ExpectUnchanged();
  }
}

TEST(StartupLanguage, RegionalVariantSelectsItsLanguage) {
  Installation installation(L"1.00", L"0x0c0a");  // Spanish, modern sort
  ExpectRefusalIn(Language(L"0x0c0a"), RunRefused(installation));
}

// The user's language is the test run's own: Wine takes it from the Unix
// locale the run was started with (LC_ALL=de_DE.UTF-8 makes it German) and
// does not let a Windows parent change it for its children.
const Expected& UsersLanguage() {
  wchar_t registry[8];
  swprintf(registry, 8, L"0x%04x", (GetUserDefaultLangID() & 0x3FF) | 0x400);
  return Language(registry);
}

TEST(StartupLanguage, LanguageWithoutTableFallsBackToTheUsersLanguage) {
  Installation installation(L"1.00", L"0x0416");  // Portuguese as used in Brazil
  ExpectRefusalIn(UsersLanguage(), RunRefused(installation));
}

TEST(StartupLanguage, NoUsableValueGivesEnglishWhateverTheUser) {
  for (const wchar_t* value : {L"", L"1031", L"0X407", L" 0x407"}) {
    Installation installation(L"1.00", value);
    if (!*value) installation.SetValue(L"Lang", L"");
    ExpectRefusalIn(Language(L"0x0409"), RunRefused(installation));
  }
}

TEST(StartupLanguage, TrailingWordsAfterTheNumberAreIgnored) {
  Installation installation(L"1.00", L"0x040c fr-FR");
  ExpectRefusalIn(Language(L"0x040c"), RunRefused(installation));
}

TEST(StartupProgressWindow, ShownInitializingAndGoneAfterTheRun) {
  Installation installation(L"1.00");
  bool survived_close_requests = false;
  const RunRecord run = RunProgram(Patcher(), {{kNo, [&survived_close_requests] {
                                                  HWND window = FindProgressWindow(kEnglishCaption);
                                                  if (!window) return;
                                                  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
                                                  PostMessageW(window, WM_CLOSE, 0, 0);
                                                  PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
                                                  PostMessageW(window, WM_KEYUP, VK_ESCAPE, 0);
                                                  Sleep(500);
                                                  survived_close_requests =
                                                      IsWindow(window) && IsWindowVisible(window);
                                                }}});
  ExpectOrdinaryEnd(run);
  EXPECT_TRUE(survived_close_requests) << "Alt+F4 or Escape closed the window";
  ASSERT_TRUE(StateAtQuestion(run)) << ToJsonLines(run);
  const ProgressRecord& first = *StateAtQuestion(run);
  EXPECT_EQ(first.caption, kEnglishCaption);
  EXPECT_EQ(first.status, L"Initializing..");
  EXPECT_EQ(first.current_file, L"");
  EXPECT_EQ(first.current_percent, L"0%");
  EXPECT_EQ(first.overall_percent, L"0%");
  EXPECT_EQ(first.current_bar, 0);
  EXPECT_EQ(first.overall_bar, 0);
  EXPECT_TRUE(first.visible);
  EXPECT_TRUE(first.topmost);
  ASSERT_EQ(run.boxes.size(), 1u);
  installation.ExpectUnchanged();
}

// Pictures of the start question over the progress window, in the
// build tree's screenshots folder, for the README.
TEST(StartupProgressWindow, ScreenshotsOfTheStartQuestion) {
  const std::string folder = BuildDir() + "/screenshots";
  CreateDirectoryA(folder.c_str(), nullptr);
  for (const auto& [registry, name] :
       {std::pair{L"0x0409", "start_question_en"}, {L"0x040c", "start_question_fr"}}) {
    Installation installation(L"1.00", registry);
    const std::string path = folder + "/" + name + ".bmp";
    DeleteFileA(path.c_str());
    bool saved = false;
    const RunRecord run = RunProgram(Patcher(), {{kNo, [&] {
                                                    Sleep(500);  // let the box paint
                                                    saved = SaveScreenshot(
                                                        FindProgressWindow(Language(registry).caption), path);
                                                  }}});
    ExpectOrdinaryEnd(run);
    EXPECT_TRUE(saved) << path;
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
    EXPECT_GT(data.nFileSizeLow, 10000u);
  }
}

}  // namespace
}  // namespace startup
