#pragma once
// The stub patcher qtr_author makes patches from when no --stub is given:
// the i686 stub installed with it, found beside its own executable.
#include <string>

// The first file of, in the folder DIR of this program (links resolved):
// DIR/../share/qtr/qtr_patch_stub.exe (installed, share/ beside bin/; a
// build tree links it to the Windows build's stub), then
// DIR/qtr_patch_stub.exe (the Windows package, one folder). Raises
// AuthoringError naming both places, and where a link among them points,
// when neither is a file.
std::string FindDefaultStub();
