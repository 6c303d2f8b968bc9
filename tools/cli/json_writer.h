#pragma once
// A small JSON writer for the tool's machine-readable output: objects,
// arrays, strings (escaped; UTF-8 passes through), numbers and booleans,
// written in order with two-space indentation.
#include <cstdint>
#include <string>
#include <vector>

class JsonWriter {
 public:
  JsonWriter& BeginObject(const char* key = nullptr);
  JsonWriter& EndObject();
  JsonWriter& BeginArray(const char* key = nullptr);
  JsonWriter& EndArray();
  JsonWriter& String(const char* key, const std::string& value);
  JsonWriter& String(const std::string& value) { return String(nullptr, value); }
  JsonWriter& Number(const char* key, int64_t value);
  JsonWriter& Number(const char* key, uint64_t value);
  JsonWriter& Number(const char* key, int value) { return Number(key, static_cast<int64_t>(value)); }
  JsonWriter& Number(const char* key, double value);
  JsonWriter& Bool(const char* key, bool value);
  // The document, ending in a newline.
  std::string Text() const { return out_ + "\n"; }

 private:
  void Key(const char* key);
  std::string out_;
  std::vector<bool> first_;  // per open container: nothing written in it yet
};
