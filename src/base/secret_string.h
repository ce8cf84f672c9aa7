// A text that must not outlive its use in memory: passwords and passphrases.
// Its bytes are overwritten before the text is replaced or released.
#pragma once

#include <cstddef>
#include <string>

// Overwrites the bytes of `text` in a way the compiler may not drop, then
// empties it.
inline void WipeString(std::string& text) {
    volatile char* bytes = text.data();
    for (std::size_t i = 0; i < text.size(); ++i) bytes[i] = 0;
    text.clear();
}

class TSecretString {
  public:
    TSecretString() = default;
    TSecretString(const TSecretString& other) : Value(other.Value) {}
    TSecretString& operator=(const TSecretString& other) {
        if (this != &other) Assign(other.Value);
        return *this;
    }
    ~TSecretString() { WipeString(Value); }

    const std::string& Get() const { return Value; }
    void Assign(const std::string& value) {
        WipeString(Value);
        Value = value;
    }
    void Wipe() { WipeString(Value); }

  private:
    std::string Value;
};
