#include "tools/cli/json_writer.h"

#include <cstdio>

namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace

void JsonWriter::Key(const char* key) {
  if (!first_.empty()) {
    if (!first_.back()) out_ += ",";
    first_.back() = false;
    out_ += "\n" + std::string(2 * first_.size(), ' ');
  }
  if (key != nullptr) out_ += Quoted(key) + ": ";
}

JsonWriter& JsonWriter::BeginObject(const char* key) {
  Key(key);
  out_ += "{";
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  const bool empty = first_.back();
  first_.pop_back();
  if (!empty) out_ += "\n" + std::string(2 * first_.size(), ' ');
  out_ += "}";
  return *this;
}

JsonWriter& JsonWriter::BeginArray(const char* key) {
  Key(key);
  out_ += "[";
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  const bool empty = first_.back();
  first_.pop_back();
  if (!empty) out_ += "\n" + std::string(2 * first_.size(), ' ');
  out_ += "]";
  return *this;
}

JsonWriter& JsonWriter::String(const char* key, const std::string& value) {
  Key(key);
  out_ += Quoted(value);
  return *this;
}

JsonWriter& JsonWriter::Number(const char* key, int64_t value) {
  Key(key);
  out_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Number(const char* key, uint64_t value) {
  Key(key);
  out_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Number(const char* key, double value) {
  Key(key);
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  out_ += text;
  return *this;
}

JsonWriter& JsonWriter::Bool(const char* key, bool value) {
  Key(key);
  out_ += value ? "true" : "false";
  return *this;
}
