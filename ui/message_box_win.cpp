#include <windows.h>

#include "ui/message_box.h"

namespace {

constexpr UINT kErrorStyle = MB_OK | MB_ICONERROR | MB_TOPMOST;

}  // namespace

void ShowInternalError() {
  MessageBoxW(nullptr, L"An internal error has occured.", L"Error!", kErrorStyle);
}
