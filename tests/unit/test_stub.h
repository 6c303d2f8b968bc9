#pragma once
// A stand-in for the stub patcher in native tests: a minimal PE32 image of
// a Windows GUI program with the resources by which the authoring tool
// recognises the stub (the progress dialog, the string tables of the eight
// languages), and no code worth running.
#include <cstring>
#include <vector>

#include "tools/image/pe_resources.h"

inline Bytes MinimalGuiImage() {
  Bytes image(0x400);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  image[0] = 'M';
  image[1] = 'Z';
  put32(0x3C, 0x40);
  put32(0x40, 0x4550);
  put32(0x44, 0x0001014C);  // i386, one section
  put32(0x54, 0x010200E0);  // optional header size, characteristics
  const size_t opt = 0x58;
  put32(opt, 0x10B);
  put32(opt + 32, 0x1000);
  put32(opt + 36, 0x200);
  put32(opt + 56, 0x2000);
  put32(opt + 60, 0x200);
  put32(opt + 68, 2);  // Windows GUI subsystem
  put32(opt + 92, 16);
  const size_t section = opt + 0xE0;
  std::memcpy(&image[section], ".text", 5);
  put32(section + 8, 0x10);
  put32(section + 12, 0x1000);
  put32(section + 16, 0x200);
  put32(section + 20, 0x200);
  put32(section + 36, 0x60000020);
  return image;
}

inline Bytes FakeStubPatcher() {
  std::vector<ResourceEntry> resources;
  ResourceEntry dialog;
  dialog.type.id = 5;
  dialog.name.id = 102;
  dialog.language = 0x0409;
  dialog.data = Bytes(64, 1);
  resources.push_back(dialog);
  for (const uint16_t language : {0x0407, 0x0409, 0x040A, 0x040C, 0x0410, 0x0411, 0x0415, 0x0419})
    for (uint16_t block = 13; block <= 15; ++block) {
      ResourceEntry strings;
      strings.type.id = 6;
      strings.name.id = block;
      strings.language = language;
      strings.data = Bytes(32, 0);
      resources.push_back(strings);
    }
  return WritePeResources(MinimalGuiImage(), resources);
}
