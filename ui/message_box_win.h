#pragma once
#include <windows.h>

// The thread's computer-based-training hook installed right before each box:
// at the box's activation it relabels OK, Cancel, Retry, No and Yes with the
// current language's texts and removes itself. Never lets an exception out.
LRESULT CALLBACK ButtonTextHook(int code, WPARAM window, LPARAM data);
