// The sample Quarrytide: holds "Local\QTR" from start to end, shows its
// version in a window and quits when the window is closed.
#include <windows.h>

namespace {

constexpr wchar_t kClassName[] = L"QuarrytideSampleGame";
constexpr wchar_t kTitle[] = L"Quarrytide " QTR_GAME_VERSION_W;

LRESULT CALLBACK GameWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT area;
      GetClientRect(window, &area);
      DrawTextW(dc, kTitle, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(window, &paint);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  // Held until the process ends: the patcher tests this name.
  HANDLE game_mutex = CreateMutexA(nullptr, FALSE, "Local\\QTR");
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = GameWindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = kClassName;
  RegisterClassW(&window_class);
  HWND window = CreateWindowW(kClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320, 200,
                              nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (game_mutex) CloseHandle(game_mutex);
  return 0;
}
