// A small streaming JSON writer for the tools' --json output: values are
// appended in document order, commas and escapes are the writer's business.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace KorTools {

class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // The name of the next member of the current object.
    JsonWriter& Key(const std::string& name);
    JsonWriter& String(const std::string& text);  // bytes that are not UTF-8 are carried as U+FFFD
    JsonWriter& Int(int64_t value);
    JsonWriter& Number(double value);  // shortest text that reads back to the same double; NaN and infinities as null
    JsonWriter& Float(float value);    // the same for a float: 0.1f is written 0.1
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    // The document so far.
    const std::string& Text() const { return text_; }

private:
    void BeforeValue();
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    std::string text_;
    std::vector<bool> first_;  // per open container: no member written yet
    bool afterKey_ = false;
};

}  // namespace KorTools
