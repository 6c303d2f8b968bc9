#include <windows.h>

#include <gtest/gtest.h>

#include "engine/language.h"
#include "engine/strings.h"
#include "tests/win32/box_watcher.h"
#include "ui/message_box.h"
#include "ui/progress_window.h"
#include "ui/progress_window_win.h"

namespace {

using Buttons = std::vector<std::pair<int, std::wstring>>;

TEST(MessageBoxes, ErrorBoxInGermanWithoutWindow) {
  CurrentLanguage() = 1031;
  BoxWatcher watcher([](const SeenBox&, int) { return kButtonOk; });
  EXPECT_EQ(ShowMessage(IDS_CAPTION_ERROR, IDS_ALREADY_RUNNING, kErrorStyle), kButtonOk);
  ASSERT_EQ(watcher.boxes().size(), 1u);
  const SeenBox& box = watcher.boxes()[0];
  EXPECT_EQ(box.caption, L"Fehler!");
  EXPECT_EQ(box.text, L"Der Patch wird bereits ausgef\u00fchrt.");
  EXPECT_EQ(box.buttons, (Buttons{{kButtonOk, L"OK"}}));
  EXPECT_TRUE(box.topmost);
  EXPECT_EQ(box.owner, nullptr);
}

TEST(MessageBoxes, RetryBoxHasTwoRelabelledButtonsAndIsNotTopmost) {
  CurrentLanguage() = 1036;
  BoxWatcher watcher([](const SeenBox&, int) { return kButtonRetry; });
  EXPECT_EQ(ShowMessage(IDS_CAPTION_ERROR, IDS_GAME_RUNNING, kRetryStyle), kButtonRetry);
  ASSERT_EQ(watcher.boxes().size(), 1u);
  const SeenBox& box = watcher.boxes()[0];
  EXPECT_EQ(box.caption, L"Erreur !");
  EXPECT_EQ(box.buttons, (Buttons{{kButtonRetry, L"R\u00e9essayer"}, {kButtonCancel, L"Annuler"}}));
  EXPECT_FALSE(box.topmost);
}

TEST(MessageBoxes, NoticeBoxInEnglishHasLowerCaseOk) {
  CurrentLanguage() = 1033;
  BoxWatcher watcher([](const SeenBox&, int) { return kButtonOk; });
  ShowMessage(IDS_CAPTION_SUCCESS, IDS_ALREADY_INSTALLED, kNoticeStyle);
  ASSERT_EQ(watcher.boxes().size(), 1u);
  EXPECT_EQ(watcher.boxes()[0].caption, L"Success!");
  EXPECT_EQ(watcher.boxes()[0].text,
            L"This patch is already installed on your system. Installation will abort.");
  EXPECT_EQ(watcher.boxes()[0].buttons, (Buttons{{kButtonOk, L"Ok"}}));
  EXPECT_TRUE(watcher.boxes()[0].topmost);
}

TEST(MessageBoxes, StartQuestionIsOwnedByTheProgressWindow) {
  CurrentLanguage() = 1031;
  CreateProgressWindow();
  HWND dialog = ProgressWindowSlot().load()->dialog;
  int answer = 0;
  {
    BoxWatcher watcher([](const SeenBox&, int) { return kButtonNo; });
    answer = ConfirmStart(u"Quarrytide");
    ASSERT_EQ(watcher.boxes().size(), 1u);
    const SeenBox& box = watcher.boxes()[0];
    EXPECT_EQ(box.caption, L"Quarrytide");
    EXPECT_EQ(
        box.text,
        L"WARNUNG: Die Installation des Patches beginnt gleich.\nM\u00f6chten Sie wirklich fortfahren?");
    EXPECT_EQ(box.buttons, (Buttons{{kButtonYes, L"Ja"}, {kButtonNo, L"Nein"}}));
    // Not topmost by its own style; owned by the always-on-top window it
    // is kept above that window.
    EXPECT_EQ(box.owner, dialog);
  }
  CloseProgressWindow();
  EXPECT_EQ(answer, kButtonNo);
}

TEST(MessageBoxes, BoxesSpeakJapaneseAndRussianInTheirScripts) {
  CurrentLanguage() = 1041;
  {
    BoxWatcher watcher([](const SeenBox&, int) { return kButtonYes; });
    EXPECT_EQ(ConfirmStart(u"Quarrytide"), kButtonYes);
    ASSERT_EQ(watcher.boxes().size(), 1u);
    EXPECT_EQ(watcher.boxes()[0].buttons,
              (Buttons{{kButtonYes, L"\u306f\u3044"}, {kButtonNo, L"\u3044\u3044\u3048"}}));
  }
  CurrentLanguage() = 1049;
  BoxWatcher watcher([](const SeenBox&, int) { return kButtonOk; });
  ShowMessage(IDS_CAPTION_ERROR, IDS_NOT_INSTALLED, kErrorStyle);
  ASSERT_EQ(watcher.boxes().size(), 1u);
  EXPECT_EQ(watcher.boxes()[0].caption, L"\u041e\u0448\u0438\u0431\u043a\u0430!");
  EXPECT_EQ(watcher.boxes()[0].buttons, (Buttons{{kButtonOk, L"\u041e\u043a"}}));
}

TEST(MessageBoxes, InternalErrorBoxStaysEnglishWithLocalisedButton) {
  CurrentLanguage() = 1034;
  BoxWatcher watcher([](const SeenBox&, int) { return kButtonOk; });
  ShowInternalError();
  ASSERT_EQ(watcher.boxes().size(), 1u);
  const SeenBox& box = watcher.boxes()[0];
  EXPECT_EQ(box.caption, L"Error!");
  EXPECT_EQ(box.text, L"An internal error has occured.");
  EXPECT_EQ(box.buttons, (Buttons{{kButtonOk, L"Aceptar"}}));
  EXPECT_TRUE(box.topmost);
  EXPECT_EQ(box.owner, nullptr);
}

TEST(MessageBoxes, HookIsGoneAfterTheBox) {
  // A second box, and a plain one after it, are relabelled only when shown
  // through the patcher: the first box's hook does not linger.
  CurrentLanguage() = 1045;
  BoxWatcher watcher([](const SeenBox&, int) { return kButtonOk; });
  ShowMessage(IDS_CAPTION_ERROR, IDS_NO_DISK_SPACE, kErrorStyle);
  MessageBoxW(nullptr, L"plain", L"plain", MB_OKCANCEL);
  ASSERT_EQ(watcher.boxes().size(), 2u);
  EXPECT_EQ(watcher.boxes()[0].buttons, (Buttons{{kButtonOk, L"Ok"}}));
  EXPECT_EQ(watcher.boxes()[1].buttons.size(), 2u);
  EXPECT_NE(watcher.boxes()[1].buttons[1].second, L"Anuluj");
}

}  // namespace
